// Tfrmprg: the extraction window. The main window creates one per extraction command, sets
// WavOutput, shows it with exec() and destroys it. Once shown and painted, the first tick of
// Timer1 performs the whole run (TExtractionRun) on the ticked rows of the shared track list;
// the CD component lets events through after every chunk, so later ticks refresh the bar from
// RipPercent and Cancel (or Esc, or the close box) is heard. exec() gives 1, or 2 when the run
// was cancelled; an error that ends the run leaves Timer1Timer as an exception once the window
// has closed.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "app/shared_model.h"
#include "names/Album.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
class QUrl;
class TGradProgress;

// Opens a folder on the desktop; QDesktopServices::openUrl unless replaced.
std::function<void(const QUrl&)>& OpenFolderHandler();

class Tfrmprg : public QDialog {
 public:
  explicit Tfrmprg(const TSharedModel& model);  // no owner; centred over model.frmMain

  bool WavOutput = false;     // set before exec()
  bool FlacOutput = false;    // set before exec(): FLAC files (when not WavOutput)
  // Set before exec(): the listed disc's names (one entry per track), for the tags and the
  // names the pattern makes; the titles are the rows' captions.
  names::TAlbumNames Album;
  bool StartPending = false;  // set when shown; the first tick that finds it starts the run
  bool Cancelled = false;     // set by Cancel

  QGroupBox* GroupBox1;
  QLabel* lblStatus;
  QLabel* lblPath;
  TGradProgress* prgTotalProgress;
  QPushButton* btnCancel;
  QTimer* Timer1;

  void FormShow();
  void Timer1Timer();
  void btnCancelClick();
  // The WAV file name for list row index: MoreSettings.NamePattern with the row's tags.
  std::string GetOutputfilename(int index) const;
  // Whether a run is under way (the close box then cancels it).
  bool Running() const { return running_; }
  // After exec(): the run's summary line for the main window's status line ("All tracks
  // accurately ripped"...), "" when the run wrote no rip log.
  std::string Summary() const { return summary_; }
  // After exec(): a row was refused because the disc is no longer the one listed; the run
  // ended there without raising the refusal.
  bool DiscChanged() const { return discChanged_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void reject() override;

 private:
  class Host;
  TSharedModel model_;
  bool painted_ = false;
  bool running_ = false;
  std::string summary_;
  bool discChanged_ = false;
};
