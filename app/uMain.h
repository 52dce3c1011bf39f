// TfrmMain: the program's one lasting window. A frameless face picture with button areas, the
// drive box and the track list; it owns the CD, encoder and tag components and the player timer.
// Its handlers are split by concern: uMain.cpp (creation, drive choice, rows, selection,
// extraction, options, closing), uMain_album.cpp (names from cdplayer.ini, CD-Text
// and MusicBrainz, and the clipboard),
// uMain_player.cpp (the player buttons and the timer), uMain_face.cpp (hot images, dragging,
// hints, help, the error report).
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QSet>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/face.h"
#include "app/shared_model.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "mp3info/MP3Info.h"
#include "names/MusicBrainz.h"

// A picture control: shows a pixmap and reports clicks and pointer movement.
class TImage : public QLabel {
 public:
  explicit TImage(QWidget* parent) : QLabel(parent) {}
  std::function<void()> OnClick;
  std::function<void(QMouseEvent*)> OnMouseMove;
  std::function<void(QMouseEvent*)> OnMouseDown;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;

 private:
  bool pressed_ = false;
};

// The select-all box: the user toggles it between unticked and ticked (a grayed box becomes
// ticked); only the program makes it grayed.
class TSelAllCheckBox : public QCheckBox {
 public:
  explicit TSelAllCheckBox(QWidget* parent) : QCheckBox(parent) {}

 protected:
  void nextCheckState() override;
};

// A button area of the face for the keyboard and screen readers: it lies over the hot
// image's place, takes the focus by Tab, draws a focus ring there (the lit button under it),
// presses its button with Space or Enter, and carries the button's name and hint. The pointer
// passes through it to the face and the hot images, which keep their own rules.
class TFaceButton : public QAbstractButton {
 public:
  TFaceButton(QWidget* parent, TImage* hotImage);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  TImage* hotImage_;
};

class TfrmMain : public QWidget {
 public:
  TfrmMain();
  ~TfrmMain() override;

  // The shared model, handed to the extraction window.
  TSharedModel Model();

  // Components.
  std::unique_ptr<TLameCoder> LameCoder1;
  std::unique_ptr<TCDRIP> RIPPER;
  std::unique_ptr<TMP3Info> MP3Info1;
  QTimer* Timer1 = nullptr;
  std::array<QIcon, 3> ImageList1;  // 0 audio track, 1 data track, 2 the track now playing

  // Controls.
  TImage* Image1 = nullptr;  // the face
  QComboBox* cboDrive = nullptr;
  TSelAllCheckBox* chkSelAll = nullptr;
  TImage* imgSelAll = nullptr;
  QLabel* lblStatus = nullptr;
  QTreeWidget* ListView1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction *SelectAll1 = nullptr, *InvertSelection1 = nullptr, *RenameTrack1 = nullptr,
          *CopyTrackInformationToClipboard1 = nullptr, *ExtractTracksToFLACFiles1 = nullptr, *ReadCDInformation1 = nullptr,
          *SaveCDInformation1 = nullptr, *LookUpNamesOnline1 = nullptr, *OpenDiscImage1 = nullptr;
  std::array<TImage*, face::kHotImageCount> HotImages{};  // in face::kHotImages order
  std::array<TFaceButton*, face::kHotImageCount> FaceButtons{};  // the same order
  TFaceButton* faceButton(face::HotImage id) const { return FaceButtons[static_cast<size_t>(id)]; }
  TImage* hot(face::HotImage id) const { return HotImages[static_cast<size_t>(id)]; }

  // Window state.
  bool PlayMode = false;
  int32_t PlayIndex = -1;
  bool Paused = false;
  int32_t RipPercent = 0;
  int ListViewTag = 0;  // the list's counted flag: 1 once the ticked rows were counted

  // A problem told in the status line until the user's pointer brings a hint there or the
  // user chooses a drive; the timer's relisting of an empty drive keeps it. Empty: none.
  QString Notice;
  void ShowNotice(const QString& text);
  // Why the listed drive has no rows, told once per drive choice (the timer relists an empty
  // drive every second); a disc listed forgets it.
  void TellDiscProblem();
  // Whether this window opened the tray of drive i (the CD box's index) and no disc has been
  // read from it since.
  bool TrayOpened(int drive) const { return trayOpen_.contains(drive); }

  // Rows.
  int RowCount() const { return ListView1->topLevelItemCount(); }
  QTreeWidgetItem* Row(int i) const { return ListView1->topLevelItem(i); }
  bool RowChecked(int i) const;
  void SetRowChecked(int i, bool checked);
  int RowIcon(int i) const;
  void SetRowIcon(int i, int icon);
  int SelectedRow() const;  // -1 for none
  void SelectRow(int i);    // the one selected row, focused

  // Creation, drive choice, rows, selection, extraction, options, closing.
  void FormCreate();
  void FormShow();
  bool FormCloseQuery();
  void FormClose();
  void FormResize() {}
  void cboDriveClick();
  // The user chose a drive in the box: a tray this window opened is closed first, as the
  // user of a real drive pushes it in.
  void DriveChosen();
  void SetLameCoder();
  void ListView1Click();
  void ListView1MouseMove();
  void SelectAll1Click();
  void InvertSelection1Click();
  void RenameTrack1Click();
  void chkSelAllClick();
  void imgSelAllClick();
  void ExtractTracksToWAVFiles1Click();
  void ExtractTracksToMP3Files1Click();
  void ExtractTracksToFLACFiles1Click();
  void Options1Click();
  // Disc images: the file dialog's choice, a dropped file or a later start's argument is
  // listed as the last drive and chosen at once; a file that is no disc image is refused in a
  // message box with the reason and not listed. False when refused.
  void OpenDiscImage1Click();
  bool OpenImage(const QString& path);
  // The file dialog filtered to the disc images the CD library reads; replaced by tests.
  static std::function<QString(QWidget*)>& ChooseImageFile;
  static const QString& ImageFileFilter();
  void RIPPERProgress(uint16_t percentComplete);

  // Album information.
  void mnuReadCDiniClick();
  void SaveCDInformation1Click();
  void CopyTrackInformationToClipboard1Click();
  void LookUpNamesOnline1Click();

  // The listed disc's album values (artist, album, year, genre, MusicBrainz IDs), for the tags
  // and "Save CD Information"; one track entry per row. Empty values are unknown.
  names::TAlbumNames Album;
  // Whether a look-up runs now (its answer not yet applied or dropped).
  bool LookingUp() const { return lookupRunning_; }

  // Player.
  void btnPlayClick();
  void btnStopClick();
  void imgPauseClick();
  void btnForwardClick();
  void btnBackwardClick();
  void btnEjectClick();
  void Timer1Timer();

  // Face, hints, error report.
  void HideHotImages();
  // The hit test at a client point: hides the hot images and answers true (a drag point)
  // when the point is not active.
  bool WMNCHitTest(int x, int y);
  void Image1MouseMove(int x, int y);
  void DisplayHint();
  void HandleProc(const std::exception& e);
  void Exit1Click();
  void imgMinClick();
  void HelpWith1Click();
  void Corvanecomontheweb1Click();
  // Space where no control takes it: play, or pause and resume what plays.
  void PlayPauseKey();

  // How the window reaches the desktop; replaced by tests.
  static std::function<bool(const QUrl&)>& OpenUrl;       // help file, web page
  static std::function<void(QWidget*)>& StartSystemMove;  // dragging the window

  // The help file: beside the executable with the extension ".html", else the installed copy.
  static QString HelpFileName();

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createControls();
  void createHotImages();
  void createKeyboardAccess();
  enum class Output { Wav, Mp3, Flac };
  void extract(Output output);
  void faceMouseDown(int x, int y);
  void messageBox(int icon, const QString& caption, const QString& text);
  // Names for a disc just listed: its section, else CD-Text, else a look-up once per run.
  void nameListedDisc();
  void startLookup(bool forced);
  void lookupDone(const names::TLookupResult& result, unsigned generation, bool forced);
  void applyNames(const names::TAlbumNames& found);
  void stopLookup();
  std::thread lookupThread_;
  std::shared_ptr<std::atomic<bool>> lookupCancel_;
  unsigned lookupGeneration_ = 0;
  bool lookupRunning_ = false;
  std::set<std::string> lookedUp_;  // discs whose automatic look-up was answered in this run
  // The MusicBrainz names taken for a disc in this run: a disc listed again gets them back
  // without asking again.
  std::map<std::string, names::TAlbumNames> namesThisRun_;
  // Look-ups given up (another disc listed, a newer look-up) are cancelled and joined once they
  // end, or when the window goes, so the window never waits for the network.
  struct TRetiredLookup {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> ended;
  };
  std::vector<TRetiredLookup> retiredLookups_;
  std::shared_ptr<std::atomic<bool>> lookupEnded_;
  std::string lookupDiscKey_;  // the disc the running look-up asks for
  void retireLookup();
  // What the names say in the status line waits while a notice or a hint holds it.
  void showNamesStatus(const QString& text);
  bool statusLineFree() const;
  QString pendingNamesStatus_;
  QTimer* namesStatusWait_ = nullptr;
  bool shownOnce_ = false;
  QString toldDiscProblem_;
  // Opens a page or file through the desktop; tells in the status line when nothing opens it.
  void openOnDesktop(const QUrl& url, const QString& what);
  QSet<int> trayOpen_;
  // The ticks of the rows, to tell whether a key press in the list changed one.
  std::vector<bool> ticks() const;
};

// The error report's text for an exception message.
QString ErrorReportText(const QString& message);
