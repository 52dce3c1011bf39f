// SPDX-License-Identifier: GPL-3.0-or-later
// Generated AccurateRip database answers for the tests: tables of contents and the blocks the
// database answers with, in its byte layout.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "verify/AccurateRip.h"

namespace ar_answers {

// A TOC from the tracks' starts (LSN) and the lead-out; all audio unless listed in `data`.
inline std::vector<verify::TTocTrack> tocOf(const std::vector<int>& starts, int leadOut, const std::vector<int>& data = {}) {
  std::vector<verify::TTocTrack> toc;
  for (size_t i = 0; i < starts.size(); ++i) {
    const int end = (i + 1 < starts.size() ? starts[i + 1] : leadOut) - 1;
    const int number = static_cast<int>(i) + 1;
    toc.push_back({number, starts[i], end, std::find(data.begin(), data.end(), number) == data.end()});
  }
  return toc;
}

inline std::string le32(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// One pressing's block: the IDs, then (confidence, crc) per track; frame-450 sums count up.
inline std::string block(const verify::TArDiscIds& ids, const std::vector<std::pair<int, uint32_t>>& tracks) {
  std::string b(1, static_cast<char>(tracks.size()));
  b += le32(ids.Id1) + le32(ids.Id2) + le32(ids.CddbId);
  uint32_t f = 0x450;
  for (const auto& [confidence, crc] : tracks) b += static_cast<char>(confidence) + le32(crc) + le32(f++);
  return b;
}

}  // namespace ar_answers
