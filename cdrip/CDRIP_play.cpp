// SPDX-License-Identifier: GPL-3.0-or-later
// TCDRIP as a CD player: thin calls into the library; only the last play position is kept.
#include <cstdlib>

#include "CDRIP.h"

namespace {
int32_t asLibraryBool(bool v) { return v ? CR_TRUE : CR_FALSE; }
}  // namespace

int TCDRIP::PlayTrack(int trackNum) { return CR_PlayTrack(trackNum); }
int TCDRIP::StopPlayTrack() { return CR_StopPlayTrack(); }
int TCDRIP::PauseCD(bool value) { return CR_PauseCD(asLibraryBool(value)); }
int TCDRIP::EjectCD(bool value) { return CR_EjectCD(asLibraryBool(value)); }

bool TCDRIP::IsPlaying() {
  int32_t first = 0, second = 0;
  CR_GetPlayPosition(&first, &second);
  // Playing means the position moved by 10 or more since the previous call.
  const long long moved = std::llabs(static_cast<long long>(second) - lastPlayPosition_);
  lastPlayPosition_ = second;
  return moved >= 10;
}
