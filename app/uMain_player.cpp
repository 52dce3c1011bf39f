// The main window as a CD player: the six player buttons and the one-second timer that notices
// a new disc, keeps the row icons current and plays on to the next track.
#include "app/uMain.h"

void TfrmMain::btnPlayClick() {
  if (RowCount() == 0) return;
  const int r = SelectedRow();
  if (r >= 0) {
    if (RIPPER->IsAudioTrack(r)) {
      RIPPER->PlayTrack(r + 1);
      PlayIndex = r;
      Paused = false;
    }
  } else if (RIPPER->IsAudioTrack(0)) {
    SelectRow(0);
    RIPPER->PlayTrack(1);
    PlayIndex = 0;
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
  RIPPER->EjectCD(true);
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
  if (PlayIndex + 1 >= RowCount()) PlayIndex = -1;
  SelectRow(PlayIndex + 1);
  ListView1->setFocus();
  ListView1->scrollToItem(Row(PlayIndex + 1), QAbstractItemView::EnsureVisible);
  btnPlayClick();
}
