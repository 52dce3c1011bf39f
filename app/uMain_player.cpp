// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as a CD player: the six player buttons and the one-second timer that notices
// a new disc, keeps the row icons current and plays on to the next track.
#include "app/uMain.h"

namespace {

// Why the library refused to play, in the user's words. The library names a changed disc;
// every other refusal of a listed audio track is the sound server's.
QString playRefusal() {
  std::string text(static_cast<size_t>(CR_GetRipperProblem(nullptr, 0)) + 1, '\0');
  text.resize(static_cast<size_t>(CR_GetRipperProblem(text.data(), static_cast<int32_t>(text.size()))));
  return text.empty() ? QStringLiteral("No sound: the sound server cannot be reached") : QString::fromStdString(text);
}

}  // namespace

void TfrmMain::btnPlayClick() {
  if (RowCount() == 0) return;
  const int r = SelectedRow();
  int started = -1;
  if (r >= 0) {
    if (RIPPER->IsAudioTrack(r)) started = r;
  } else if (RIPPER->IsAudioTrack(0)) {
    SelectRow(0);
    started = 0;
  }
  if (started >= 0) {
    // A refused start is said and ends the playing: the timer would otherwise move on to the
    // next track every second, each as silent as this one.
    if (RIPPER->PlayTrack(started + 1) != CDEX_OK) {
      btnStopClick();
      ShowNotice(playRefusal());
      return;
    }
    PlayIndex = started;
    Paused = false;
  }
  PlayMode = true;
  // The next tick comes a full second after the press: a tick in the moment after Play, before
  // the position has moved, would take the new track for one that ended and skip it.
  Timer1->start();
}

void TfrmMain::btnStopClick() {
  PlayMode = false;
  PlayIndex = -1;
  RIPPER->StopPlayTrack();
}

void TfrmMain::imgPauseClick() {
  Paused = !Paused;
  RIPPER->PauseCD(Paused);
  Timer1->start();  // as after Play: a resume is judged a full second later
}

void TfrmMain::btnForwardClick() {
  const int r = SelectedRow();
  if (r < 0 || r >= RowCount() - 1) return;
  SelectRow(r + 1);
  ListView1->setFocus();
  btnPlayClick();
}

void TfrmMain::btnBackwardClick() {
  const int r = SelectedRow();
  if (r <= 0) return;
  SelectRow(r - 1);
  ListView1->setFocus();
  btnPlayClick();
}

void TfrmMain::btnEjectClick() {
  // A second press on a tray this window opened closes it again (an image's tray included,
  // which nobody can push in by hand), and the disc is listed anew.
  const int drive = cboDrive->currentIndex();
  const bool close = trayOpen_.contains(drive) && RowCount() == 0;
  RIPPER->EjectCD(!close);
  if (close)
    trayOpen_.remove(drive);
  else
    trayOpen_.insert(drive);
  cboDriveClick();
}

void TfrmMain::Timer1Timer() {
  if (RIPPER->Tracks().Count() == 0) cboDriveClick();
  for (int i = 0; i < RowCount(); ++i) {
    if (RIPPER->IsAudioTrack(i)) {
      if (RowIcon(i) != 0) {
        const int wanted = i == PlayIndex ? 2 : 0;
        if (RowIcon(i) != wanted) SetRowIcon(i, wanted);
      }
    } else if (RowIcon(i) != 1) {
      SetRowIcon(i, 1);
    }
  }
  if (PlayIndex < 0 || PlayIndex >= RowCount()) return;
  if (RIPPER->IsPlaying()) {
    if (RIPPER->IsAudioTrack(PlayIndex) && RowIcon(PlayIndex) != 2) SetRowIcon(PlayIndex, 2);
    return;
  }
  if (!PlayMode || Paused) return;
  // The last audio track of the disc ended and a data track follows (or leads the disc, where
  // the wrap-around would go): that is the end of the disc's audio, and the player stops
  // there instead of picking the data row every second.
  const int next = PlayIndex + 1 >= RowCount() ? 0 : PlayIndex + 1;
  bool audioAfter = false;
  for (int i = PlayIndex + 1; i < RowCount() && !audioAfter; ++i) audioAfter = RIPPER->IsAudioTrack(i);
  if (!audioAfter && !RIPPER->IsAudioTrack(next)) {
    const int finished = PlayIndex;
    btnStopClick();
    if (RIPPER->IsAudioTrack(finished)) SetRowIcon(finished, 0);
    return;
  }
  if (PlayIndex + 1 >= RowCount()) PlayIndex = -1;
  SelectRow(PlayIndex + 1);
  ListView1->setFocus();
  ListView1->scrollToItem(Row(PlayIndex + 1), QAbstractItemView::EnsureVisible);
  btnPlayClick();
}
