// SPDX-License-Identifier: GPL-3.0-or-later
// The CD library's player calls: play, pause, stop, eject and the play position. Playback is
// digital, for drives and images alike (cdrip_player.cpp): a track plays to its own end, and the
// program moves on to the next one itself. A real drive plays through its analog output only
// where no sound server answers.
#include <cdio/cdio.h>
#include <cdio/audio.h>  // after cdio.h, which it needs

#include <algorithm>
#include <cstdio>
#include <string>

#include "CdRip_dll.h"
#include "cdrip_internal.h"
#include "cdrip_player.h"

using namespace cdrip_internal;

namespace {

constexpr int64_t kFramesPerSector = 588;

// The drive playing through its analog output, or null; its track.
Drive* g_analog = nullptr;
int32_t g_analogTrack = 0;

// The program ignores the statuses of the player calls, so the reason is told once here.
void reportNoServer(const std::string& why, bool analog) {
  static bool told = false;
  if (told) return;
  told = true;
  std::fprintf(stderr, "tessaly: no sound server for playback (%s)%s\n", why.c_str(),
               analog ? "; playing through the drive's analog output" : "");
}

bool playAnalog(Drive& d, int32_t track, int32_t first, int32_t last) {
  if (!openCdio(d)) return false;
  msf_t start, end;
  cdio_lsn_to_msf(first, &start);
  cdio_lsn_to_msf(last, &end);
  if (cdio_audio_play_msf(d.cdio.get(), &start, &end) != DRIVER_OP_SUCCESS) return false;
  g_analog = &d;
  g_analogTrack = track;
  return true;
}

}  // namespace

namespace cdrip_internal {

void stopPlayback() {
  playerStop();
  if (g_analog && g_analog->cdio) cdio_audio_stop(g_analog->cdio.get());
  g_analog = nullptr;
}

}  // namespace cdrip_internal

extern "C" {

CDEX_ERR CR_PlayTrack(int32_t trackNum) {
  g_ripperProblem.clear();  // an earlier refusal's reason is not this one's
  Drive* d = active();
  if (!d || ripperOpen() || d->trayOpen || d->toc.empty()) return CDEX_ERROR;
  const int32_t n = static_cast<int32_t>(d->toc.size()) - 1;
  if (trackNum < 1 || trackNum > n) return CDEX_ERROR;
  const TOCENTRY& entry = d->toc[static_cast<size_t>(trackNum - 1)];
  if (entry.btFlag != CR_FLAG_AUDIO) return CDEX_ERROR;
  const auto first = static_cast<int32_t>(entry.dwStartSector);
  const auto last = static_cast<int32_t>(d->toc[static_cast<size_t>(trackNum)].dwStartSector) - 1;
  if (last < first || refuseChangedDisc(*d)) return CDEX_ERROR;

  stopPlayback();
  CdIo_t* handle = openDriveHandle(*d);
  if (!handle) {
    g_ripperProblem = "No sound: the drive cannot be opened for playback";
    return CDEX_ERROR;
  }
  std::string why;
  if (playerStart(handle, trackNum, first, last, why)) return CDEX_OK;
  const bool analog = !d->image && playAnalog(*d, trackNum, first, last);
  reportNoServer(why, analog);
  if (analog) return CDEX_OK;
  g_ripperProblem = "No sound: the sound server cannot be reached";
  return CDEX_ERROR;
}

CDEX_ERR CR_StopPlayTrack(void) {
  stopPlayback();
  return CDEX_OK;
}

CDEX_ERR CR_PauseCD(int32_t pause) {
  if (g_analog) {
    if (!g_analog->cdio) return CDEX_ERROR;
    const auto rc = pause ? cdio_audio_pause(g_analog->cdio.get()) : cdio_audio_resume(g_analog->cdio.get());
    return rc == DRIVER_OP_SUCCESS ? CDEX_OK : CDEX_ERROR;
  }
  return playerPause(pause != 0) ? CDEX_OK : CDEX_ERROR;
}

CDEX_ERR CR_EjectCD(int32_t eject) {
  Drive* d = active();
  if (!d || ripperOpen()) return CDEX_ERROR;
  stopPlayback();
  if (d->image) {
    d->trayOpen = eject != 0;
    if (d->trayOpen) {
      closeCdio(*d);
      d->toc.clear();
    }
    return CDEX_OK;
  }
  closeCdio(*d);
  d->toc.clear();
  const auto rc = eject ? cdio_eject_media_drive(d->path.c_str())
                        : cdio_close_tray(d->path.c_str(), nullptr);
  return rc == DRIVER_OP_SUCCESS ? CDEX_OK : CDEX_ERROR;
}

CDEX_ERR CR_GetPlayPosition(int32_t* first, int32_t* second) {
  int32_t track = 0;
  int64_t frames = 0;
  CDEX_ERR status = CDEX_OK;
  if (g_analog) {
    cdio_subchannel_t sub{};
    if (g_analog->cdio && cdio_audio_read_subchannel(g_analog->cdio.get(), &sub) == DRIVER_OP_SUCCESS) {
      track = sub.track;
      frames = static_cast<int64_t>(cdio_msf_to_lsn(&sub.abs_addr)) * kFramesPerSector;
    } else {
      track = g_analogTrack;
      status = CDEX_ERROR;
    }
  } else {
    playerPosition(track, frames);
  }
  if (first) *first = track;
  if (second) *second = static_cast<int32_t>(std::clamp<int64_t>(frames, 0, INT32_MAX));
  return status;
}

}  // extern "C"
