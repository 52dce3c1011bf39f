// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window shares with the extraction window: its components, the rows of its
// track list and the progress field. The extraction window gets this record from the one main
// window and reaches nothing else of it.
#pragma once

#include <cstdint>

class QTreeWidget;
class QWidget;
class TCDRIP;
class TMP3Info;

// Columns of the track list. The check box and the icon sit in the title column; the track's
// index in RIPPER's track list is kept in a fifth column that is never shown.
enum TrackColumn : int { colTitle = 0, colNo = 1, colDuration = 2, colStatus = 3, colIndex = 4 };

struct TSharedModel {
  QWidget* frmMain = nullptr;         // the main window, to centre dialogs over it
  QTreeWidget* ListView1 = nullptr;   // the rows
  TCDRIP* RIPPER = nullptr;           // the CD component (its Coder is LameCoder1)
  TMP3Info* MP3Info1 = nullptr;       // the tag component (GenreID 12)
  int32_t* RipPercent = nullptr;      // the last percentage RIPPER reported, 0..100
};
