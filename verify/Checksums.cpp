// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/Checksums.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <cstring>

namespace verify {

namespace {
constexpr uint64_t kSkippedSamples = 5 * kSamplesPerSector;

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

void TTrackChecksums::addSample(uint32_t word) { addSamples(&word, 1); }

void TTrackChecksums::addSamples(const uint32_t* words, size_t n) {
  // Positions count from 1; each word is weighted by its position. v1 keeps the low 32 bits of
  // the product, v2 folds the high half back in, so v2 sees the samples v1's overflow lost.
  // The counted range is worked out once per call, so the loop over it has no test in it.
  const uint64_t first = position_ + 1;
  const uint64_t from = std::max(first, checkFrom_);
  const uint64_t to = std::min(first + n - 1, checkTo_);
  if (n > 0 && from <= to) {
    uint32_t v1 = 0, hi = 0;
    const uint32_t* w = words + (from - first);
    uint32_t pos = static_cast<uint32_t>(from);  // the low 32 bits are what the sums weigh by
    for (uint64_t k = 0, count = to - from + 1; k < count; ++k, ++pos) {
      const uint64_t product = uint64_t{w[k]} * pos;
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
    const auto left = static_cast<int16_t>(static_cast<uint16_t>(words[k]));
    const auto right = static_cast<int16_t>(static_cast<uint16_t>(words[k] >> 16));
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
    addSample(uint32_t{carryBytes_[0]} | uint32_t{carryBytes_[1]} << 8 | uint32_t{carryBytes_[2]} << 16 |
              uint32_t{carryBytes_[3]} << 24);
    carry_ = 0;
  }
  // Whole samples a block at a time, as little-endian words whatever the bytes' alignment.
  uint32_t block[1024];
  while (i + kBytesPerSample <= pcm.size()) {
    const size_t n = std::min<size_t>((pcm.size() - i) / kBytesPerSample, std::size(block));
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(block, pcm.data() + i, n * kBytesPerSample);
    } else {
      for (size_t k = 0; k < n; ++k) {
        const uint8_t* b = pcm.data() + i + k * kBytesPerSample;
        block[k] = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
      }
    }
    addSamples(block, n);
    i += n * kBytesPerSample;
  }
  for (; i < pcm.size(); ++i) carryBytes_[carry_++] = pcm[i];
}

double PeakPercent(uint32_t peak) { return static_cast<double>(std::min<uint32_t>(peak, 32767)) * 100.0 / 32767.0; }

}  // namespace verify
