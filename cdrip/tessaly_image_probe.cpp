// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-image-probe IMAGE DRIVER: opens a disc image with libcdio, reads its table of contents
// and each audio track's first and last sector, and writes one ProbeRecord to standard output.
// libcdio's image readers crash on some malformed files; run as a fresh process of its own, a
// crash takes only the probe down, and the library refuses the image.
#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cdrip_probe.h"

using namespace cdrip_internal;

namespace {

std::string g_problem;

void logHandler(cdio_log_level_t level, const char* message) {
  if (level < CDIO_LOG_ERROR) return;
  g_problem = message ? message : "";
  if (level == CDIO_LOG_ASSERT) _exit(3);  // a reader gone astray
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  ::alarm(kProbeSeconds);
  cdio_loglevel_default = CDIO_LOG_ERROR;
  cdio_log_set_handler(logHandler);
  ProbeRecord rec;
  if (CdIo_t* p = cdio_open(argv[1], static_cast<driver_id_t>(std::atoi(argv[2])))) {
    const std::vector<TOCENTRY> toc = libcdioToc(p);
    rec.count = static_cast<int32_t>(toc.size());
    std::copy(toc.begin(), toc.end(), rec.toc);
    {
      static uint8_t sector[CDIO_CD_FRAMESIZE_RAW];
      for (int i = 0; i + 1 < rec.count; ++i) {
        if (rec.toc[i].btFlag != CR_FLAG_AUDIO) continue;
        const auto from = static_cast<lsn_t>(rec.toc[i].dwStartSector);
        const auto to = static_cast<lsn_t>(rec.toc[i + 1].dwStartSector) - 1;
        if (from >= 0 && from <= to && to < 449850) {
          cdio_read_audio_sectors(p, sector, from, 1);
          cdio_read_audio_sectors(p, sector, to, 1);
        }
      }
    }
    cdio_destroy(p);
  }
  std::strncpy(rec.problem, g_problem.c_str(), sizeof rec.problem - 1);
  const ssize_t w = ::write(1, &rec, sizeof rec);
  return w == static_cast<ssize_t>(sizeof rec) ? 0 : 1;
}
