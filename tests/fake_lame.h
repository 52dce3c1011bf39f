// SPDX-License-Identifier: GPL-3.0-or-later
// A scriptable stand-in for the encoder library, linked in place of the real one where a test
// needs to see exactly which blocks the extraction loop hands over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lame/Lame_dll.h"

namespace fakelame {

struct Script {
  uint32_t initResult = BE_ERR_SUCCESSFUL;
  uint32_t samples = 2304;
  uint32_t bufferSize = 8640;
  std::string flush = "<flush>";  // what beDeinitStream delivers
  std::string infoTag;            // what beGetInfoTag delivers
  // Filled by the fake.
  BE_CONFIG lastConfig{};
  std::vector<uint32_t> encodeCounts;     // numSamples of every beEncodeChunk
  std::vector<std::string> encodedBlocks;  // the input bytes of every beEncodeChunk
  std::vector<std::string> calls;
};

Script& script();
void reset();
// The bytes the fake emits for block i: "<i:" + number of samples + ">".
std::string outputFor(size_t i, uint32_t numSamples);

}  // namespace fakelame
