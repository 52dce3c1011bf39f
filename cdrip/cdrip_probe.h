// SPDX-License-Identifier: GPL-3.0-or-later
// What the image probe (tessaly-image-probe, a process of its own) reports to the library
// about an image libcdio reads: its table of contents, or why it has none.
#pragma once

#include <cdio/cdio.h>
#include <limits.h>

#include <cstdint>
#include <vector>

#include "CdRip_dll.h"

namespace cdrip_internal {

// Changes with the record's layout, so a probe of another build is not misread.
constexpr uint32_t kProbeMagic = 0x54505232;  // "TPR2"
// A probe that has not reported by then is stopped.
constexpr int kProbeSeconds = 20;

struct ProbeRecord {
  uint32_t magic = kProbeMagic;
  int32_t count = 0;  // entries, the lead-out included; 0: no disc
  TOCENTRY toc[CDIO_CD_MAX_TRACKS + 1]{};
  char problem[256]{};
};
static_assert(sizeof(ProbeRecord) <= PIPE_BUF, "one write, read whole");

// The TOC as libcdio reports it: tracks, then the lead-out; empty when it reports no track.
inline std::vector<TOCENTRY> libcdioToc(CdIo_t* p) {
  std::vector<TOCENTRY> toc;
  const track_t firstTrack = cdio_get_first_track_num(p);
  const track_t count = cdio_get_num_tracks(p);
  if (firstTrack == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 ||
      firstTrack + count > CDIO_CD_MAX_TRACKS + 1)
    return toc;
  for (track_t t = firstTrack; t < firstTrack + count; ++t) {
    TOCENTRY e{};
    e.dwStartSector = static_cast<uint32_t>(cdio_get_track_lsn(p, t));
    e.btFlag = cdio_get_track_format(p, t) == TRACK_FORMAT_AUDIO ? CR_FLAG_AUDIO : CR_FLAG_DATA;
    e.btTrackNumber = t;
    toc.push_back(e);
  }
  TOCENTRY lead{};
  lead.dwStartSector = static_cast<uint32_t>(cdio_get_track_lsn(p, CDIO_CDROM_LEADOUT_TRACK));
  lead.btFlag = CR_FLAG_DATA;
  lead.btTrackNumber = CDIO_CDROM_LEADOUT_TRACK;
  toc.push_back(lead);
  return toc;
}

}  // namespace cdrip_internal
