// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/Checksums.h"

#include <zlib.h>

#include <algorithm>
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

void TTrackChecksums::addSample(uint32_t word) {
  // Positions count from 1; each word is weighted by its position. v1 keeps the low 32 bits of
  // the product, v2 folds the high half back in, so v2 sees the samples v1's overflow lost.
  ++position_;
  if (position_ >= checkFrom_ && position_ <= checkTo_) {
    const uint64_t product = uint64_t{word} * (position_ & 0xffffffffu);
    v1_ += static_cast<uint32_t>(product);
    v2_ += static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
  }
  peak_ = std::max({peak_, magnitude(static_cast<uint16_t>(word)), magnitude(static_cast<uint16_t>(word >> 16))});
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
  for (; i + kBytesPerSample <= pcm.size(); i += kBytesPerSample)
    addSample(uint32_t{pcm[i]} | uint32_t{pcm[i + 1]} << 8 | uint32_t{pcm[i + 2]} << 16 | uint32_t{pcm[i + 3]} << 24);
  for (; i < pcm.size(); ++i) carryBytes_[carry_++] = pcm[i];
}

double PeakPercent(uint32_t peak) { return static_cast<double>(std::min<uint32_t>(peak, 32767)) * 100.0 / 32767.0; }

}  // namespace verify
