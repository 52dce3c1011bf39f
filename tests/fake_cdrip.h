// SPDX-License-Identifier: GPL-3.0-or-later
// A scriptable stand-in for the CD library, linked in place of the real one where a test needs
// statuses and refusals that no real disc gives. Each test resets it and fills the script.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cdrip/CdRip_dll.h"
#include "cdrip/CdText.h"

namespace fake {

struct Drive {
  CDROMPARAMS params{};
  CDEX_ERR selectStatus = CDEX_OK;     // CR_SetActiveCDROM
  CDEX_ERR getParamsStatus = CDEX_OK;  // CR_GetCDROMParameters
  CDEX_ERR tocStatus = CDEX_OK;        // CR_ReadToc
  std::vector<TOCENTRY> toc;           // the tracks, then the lead-out
  std::string path;                    // what CR_FindDrive knows it by
};

struct Chunk {
  CDEX_ERR status = CDEX_OK;
  std::vector<uint8_t> data;
  int32_t percent = 0;
  int32_t jitterFirst = 0, jitterSecond = 0;
};

struct Script {
  int32_t version = 115;
  CDEX_ERR initStatus = CDEX_OK;
  std::vector<Drive> drives;
  int32_t active = 0;
  CDEX_ERR setParamsStatus = CDEX_OK;
  bool setParamsThrows = false;
  CDEX_ERR openStatus = CDEX_OK;
  int32_t bufferSize = 10000;
  std::vector<Chunk> chunks;  // delivered in order; past the end, empty chunks of status 4
  size_t nextChunk = 0;
  int32_t jitterErrors = 0;
  int32_t damagedFirst = -1, damagedLast = -1;  // CR_GetDamagedSectors
  int32_t percent = 0;
  std::vector<int32_t> playPositions;  // second values of CR_GetPlayPosition, in order
  size_t nextPosition = 0;
  // Filled by the fake.
  std::vector<std::string> calls;
  CDROMPARAMS lastSetParams{};
  std::vector<int32_t> pauseArgs, ejectArgs, playArgs;
  std::function<void(size_t chunkIndex)> onChunk;  // runs inside CR_RipChunk
  std::string ripperProblem;                      // CR_GetRipperProblem
  int32_t retries = 20;                           // CR_SetReadRetries
  CR_ABORTCALLBACK abortCallback = nullptr;       // CR_SetAbortCallback
  void* abortUser = nullptr;
  // CR_OpenImage: an empty reason lists `image` (under the path opened) after the drives,
  // unless a drive of that path is listed; a reason refuses the open with it.
  Drive image;
  std::string openImageReason;
  std::vector<std::string> openedImages;  // every path CR_OpenImage was given
  // CR_ReadCdText: what the selected disc's CD-Text says (present false: it has none).
  TCdTextInfo cdText;
};

Script& script();
void reset();
// Number of calls whose name is `name`.
int count(const std::string& name);

// A drive whose disc has audio tracks starting at the given sectors (flag 16), lead-out last.
Drive driveWithTracks(const std::vector<uint32_t>& starts, uint32_t leadOut, const char* name = "FAKE DRIVE 1.0");

}  // namespace fake
