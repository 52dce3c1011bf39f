// SPDX-License-Identifier: GPL-3.0-or-later
// vdrive_probe: drives the CD library's C calls one by one, for tests that need more than the
// programs show (damaged sectors by number, an abort inside a chunk, playback positions).
//
//   vdrive_probe [PATH...] -- COMMAND ARGS...
//     list                         drives, then the first drive's TOC or why there is none
//     rip FIRST LAST OUT [RETRIES] [ABORT_AFTER]
//                                  reads the range into OUT (raw PCM); ABORT_AFTER: the abort
//                                  callback answers "cancel" from its Nth call on
//     play TRACK MS                plays, waits MS ms, prints the position, stops
//     eject | close                the tray
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cdrip/CDRIP.h"
#include "cdrip/CdRip_dll.h"

namespace {

int g_abortAfter = -1;
int g_asked = 0;

int32_t abortCallback(void*) {
  ++g_asked;
  return g_abortAfter >= 0 && g_asked >= g_abortAfter ? 1 : 0;
}

std::string text(int32_t (*call)(char*, int32_t)) {
  std::vector<char> buf(4096);
  call(buf.data(), static_cast<int32_t>(buf.size()));
  return buf.data();
}

int rip(int first, int last, const char* out, int retries, int abortAfter) {
  if (retries >= 0) CR_SetReadRetries(retries);
  g_abortAfter = abortAfter;
  CR_SetAbortCallback(abortCallback, nullptr);
  int32_t size = 0;
  if (CR_OpenRipper(&size, first, last) == CDEX_ERROR) {
    std::printf("open refused: %s\n", text(CR_GetRipperProblem).c_str());
    return 1;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(size));
  std::ofstream file(out, std::ios::binary);
  long total = 0;
  for (int calls = 0; calls < 100000; ++calls) {
    int32_t n = 0;
    const CDEX_ERR st = CR_RipChunk(buf.data(), &n, -1);
    if (st == CDEX_ERROR && g_abortAfter >= 0 && g_asked >= g_abortAfter) {
      std::printf("aborted after %d asks, chunk bytes %d\n", g_asked, n);
      break;
    }
    file.write(reinterpret_cast<const char*>(buf.data()), n);
    total += n;
    if (st == CDEX_JITTER_ERROR) {
      int32_t a = 0, b = 0;
      CR_GetLastJitterErrorPosition(&a, &b);
      std::printf("jitter %d %d\n", a, b);
    }
    if (st == CDEX_RIPPING_DONE) break;
  }
  int32_t df = 0, dl = 0;
  const int32_t damaged = CR_GetDamagedSectors(&df, &dl);
  std::printf("bytes %ld damaged %d first %d last %d errors %d\n", total, damaged, df, dl, CR_GetNumberOfJitterErrors());
  CR_CloseRipper();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) CR_AddDrive(argv[i]);
  if (i + 1 >= argc) return 2;
  const std::string cmd = argv[i + 1];
  char** a = argv + i + 2;
  const int n = argc - i - 2;
  if (CR_Init() == CDEX_ERROR) {
    std::printf("no drive\n");
    return 1;
  }
  for (int d = 0; d < CR_GetNumCDROM(); ++d) {
    CR_SetActiveCDROM(d);
    CDROMPARAMS p{};
    CR_GetCDROMParameters(&p);
    std::printf("drive %d: %s\n", d, p.lpszCDROMID);
  }
  CR_SetActiveCDROM(0);
  if (CR_ReadToc() == CDEX_ERROR) {
    std::printf("no disc: %s\n", text(CR_GetTocProblem).c_str());
    if (cmd != "close") return 1;
  }
  if (cmd == "list") {
    for (int t = 0; t <= CR_GetNumTocEntries(); ++t)
      std::printf("toc %d %u %u\n", t, CR_GetTocEntry(t).dwStartSector, CR_GetTocEntry(t).btFlag);
    return 0;
  }
  if (cmd == "rip" && n >= 3)
    return rip(std::atoi(a[0]), std::atoi(a[1]), a[2], n > 3 ? std::atoi(a[3]) : -1, n > 4 ? std::atoi(a[4]) : -1);
  if (cmd == "play" && n >= 2) {
    const CDEX_ERR st = CR_PlayTrack(std::atoi(a[0]));
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(a[1])));
    int32_t track = 0, pos = 0;
    CR_GetPlayPosition(&track, &pos);
    std::printf("play %d track %d position %d\n", st, track, pos);
    std::printf("stop %d\n", CR_StopPlayTrack());
    if (st == CDEX_ERROR) std::printf("refused: %s\n", text(CR_GetRipperProblem).c_str());
    return 0;
  }
  if (cmd == "eject") return std::printf("eject %d\n", CR_EjectCD(CR_TRUE)), 0;
  if (cmd == "close") return std::printf("close %d\n", CR_EjectCD(CR_FALSE)), 0;
  return 2;
}
