// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/Checksums.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace verify {

namespace {
constexpr uint64_t kSkippedSamples = 5 * kSamplesPerSector;

// One stereo sample of little-endian PCM as a word, whatever the bytes' alignment.
uint32_t wordAt(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
  return w;
}

uint32_t magnitude(uint16_t word) {
  const int32_t value = static_cast<int16_t>(word);
  return static_cast<uint32_t>(value < 0 ? -value : value);
}
}  // namespace

TTrackChecksums::TTrackChecksums(uint64_t totalSamples, bool firstTrack, bool lastTrack)
    : total_(totalSamples),
      checkFrom_(firstTrack ? kSkippedSamples : 1),
      checkTo_(lastTrack ? (totalSamples > kSkippedSamples ? totalSamples - kSkippedSamples : 0) : totalSamples) {
  crc_ = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
}

void TTrackChecksums::addSamples(const uint8_t* pcm, size_t n) {
  // Positions count from 1; each word is weighted by its position. v1 keeps the low 32 bits of
  // the product, v2 folds the high half back in, so v2 sees the samples v1's overflow lost.
  // The counted range is worked out once per call, so the loop over it has no test in it.
  const uint64_t first = position_ + 1;
  const uint64_t from = std::max(first, checkFrom_);
  const uint64_t to = std::min(first + n - 1, checkTo_);
  if (n > 0 && from <= to) {
    uint32_t v1 = 0, hi = 0;
    const uint8_t* w = pcm + (from - first) * kBytesPerSample;
    uint32_t pos = static_cast<uint32_t>(from);  // the low 32 bits are what the sums weigh by
    for (uint64_t k = 0, count = to - from + 1; k < count; ++k, ++pos) {
      const uint64_t product = uint64_t{wordAt(w + k * kBytesPerSample)} * pos;
      v1 += static_cast<uint32_t>(product);
      hi += static_cast<uint32_t>(product >> 32);
    }
    v1_ += v1;
    v2_ += v1 + hi;
  }
  // The peak over every sample, counted or not, both channels: the extremes first, a
  // magnitude once per call.
  int16_t low = 0, high = 0;
  for (size_t k = 0; k < n; ++k) {
    const uint32_t word = wordAt(pcm + k * kBytesPerSample);
    const auto left = static_cast<int16_t>(static_cast<uint16_t>(word));
    const auto right = static_cast<int16_t>(static_cast<uint16_t>(word >> 16));
    low = std::min({low, left, right});
    high = std::max({high, left, right});
  }
  peak_ = std::max({peak_, magnitude(static_cast<uint16_t>(low)), magnitude(static_cast<uint16_t>(high))});
  position_ += n;
}

void TTrackChecksums::Feed(std::span<const uint8_t> pcm) {
  if (pcm.empty()) return;
  // zlib takes at most a uInt at a time.
  for (size_t done = 0; done < pcm.size();) {
    const size_t n = std::min<size_t>(pcm.size() - done, 1u << 30);
    crc_ = static_cast<uint32_t>(crc32(crc_, pcm.data() + done, static_cast<uInt>(n)));
    done += n;
  }
  size_t i = 0;
  if (carry_ > 0) {
    while (carry_ < kBytesPerSample && i < pcm.size()) carryBytes_[carry_++] = pcm[i++];
    if (carry_ < kBytesPerSample) return;
    addSamples(carryBytes_, 1);
    carry_ = 0;
  }
  const size_t whole = (pcm.size() - i) / kBytesPerSample;
  addSamples(pcm.data() + i, whole);
  i += whole * kBytesPerSample;
  for (; i < pcm.size(); ++i) carryBytes_[carry_++] = pcm[i];
}

double PeakPercent(uint32_t peak) { return static_cast<double>(std::min<uint32_t>(peak, 32767)) * 100.0 / 32767.0; }

}  // namespace verify
