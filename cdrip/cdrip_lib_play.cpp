// The CD library's player calls: play, pause, stop, eject and the play position.
#include <cdio/cdio.h>
#include <cdio/audio.h>

#include "CdRip_dll.h"
#include "cdrip_internal.h"

using namespace cdrip_internal;

namespace cdrip_internal {
void stopPlayback() {}
}  // namespace cdrip_internal

extern "C" {

CDEX_ERR CR_PlayTrack(int32_t trackNum) {
  Drive* d = active();
  if (!d || d->image || d->toc.empty() || !openCdio(*d)) return CDEX_ERROR;
  const int32_t n = static_cast<int32_t>(d->toc.size()) - 1;
  if (trackNum < 1 || trackNum > n) return CDEX_ERROR;
  msf_t start, end;
  cdio_lsn_to_msf(static_cast<lsn_t>(d->toc[static_cast<size_t>(trackNum - 1)].dwStartSector),
                  &start);
  cdio_lsn_to_msf(static_cast<lsn_t>(d->toc.back().dwStartSector) - 1, &end);
  return cdio_audio_play_msf(d->cdio.get(), &start, &end) == DRIVER_OP_SUCCESS ? CDEX_OK : CDEX_ERROR;
}

CDEX_ERR CR_StopPlayTrack(void) {
  Drive* d = active();
  if (!d || d->image || !d->cdio) return CDEX_ERROR;
  return cdio_audio_stop(d->cdio.get()) == DRIVER_OP_SUCCESS ? CDEX_OK : CDEX_ERROR;
}

CDEX_ERR CR_PauseCD(int32_t pause) {
  Drive* d = active();
  if (!d || d->image || !d->cdio) return CDEX_ERROR;
  const auto rc = pause ? cdio_audio_pause(d->cdio.get()) : cdio_audio_resume(d->cdio.get());
  return rc == DRIVER_OP_SUCCESS ? CDEX_OK : CDEX_ERROR;
}

CDEX_ERR CR_EjectCD(int32_t eject) {
  Drive* d = active();
  if (!d || ripperOpen()) return CDEX_ERROR;
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
  if (first) *first = 0;
  if (second) *second = 0;
  Drive* d = active();
  if (!d || d->image || !d->cdio) return CDEX_ERROR;
  cdio_subchannel_t sub{};
  if (cdio_audio_read_subchannel(d->cdio.get(), &sub) != DRIVER_OP_SUCCESS) return CDEX_ERROR;
  if (first) *first = sub.track;
  if (second) *second = static_cast<int32_t>(cdio_msf_to_lsn(&sub.abs_addr));
  return CDEX_OK;
}

}  // extern "C"
