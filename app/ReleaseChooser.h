// TReleaseChooser: asks which of several MusicBrainz releases names the disc. One row per
// release (title, artist, year, country, format, tracks, barcode), the first selected.
//
// Usage: int i = TReleaseChooser::Choose(result.releases, mainWindow); -1 after Cancel, Esc or
// the close box (the rows then stay as they were), else the index of the release taken.
#pragma once

#include <QDialog>
#include <vector>

#include "names/MusicBrainz.h"

class QTreeWidget;

class TReleaseChooser : public QDialog {
 public:
  explicit TReleaseChooser(const std::vector<names::TRelease>& releases, QWidget* centreOver = nullptr);

  // The selected row's index, -1 when none is selected.
  int Chosen() const;
  QTreeWidget* List() const { return list_; }

  static int Choose(const std::vector<names::TRelease>& releases, QWidget* centreOver);

 private:
  QTreeWidget* list_;
};
