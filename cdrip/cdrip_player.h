// SPDX-License-Identifier: GPL-3.0-or-later
// The CD library's digital player: one track at a time, read by a playback thread of its own
// and played through the desktop's sound server (libpulse's threaded main loop). Internal to the
// library; called from the program's one thread only.
//
// Usage: playerStart() with a libcdio handle the player takes over; then playerPause(),
// playerStop() and playerPosition() as the user asks. A track plays to its own end, then the
// position stands still there until the next start.
#pragma once

#include <cdio/cdio.h>

#include <cstdint>
#include <string>

namespace cdrip_internal {

// Starts sectors first..last (inclusive) of `handle`, which the player owns from now on on every
// path. What played before is stopped first. False, with the reason in `why`, when no sound
// server answers within a few seconds.
bool playerStart(CdIo_t* handle, int32_t track, int32_t first, int32_t last, std::string& why);
// Corks (true) or uncorks (false) at once; false when nothing is playing.
bool playerPause(bool pause);
// Stops at once; the position stays where it was heard last.
void playerStop();
// The track last started (0 before any) and the absolute position heard, in audio frames
// (588 a sector) from the disc's start; it does not move while paused, stopped or ended.
void playerPosition(int32_t& track, int64_t& frames);

}  // namespace cdrip_internal
