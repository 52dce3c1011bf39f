// SPDX-License-Identifier: GPL-3.0-or-later
// What proves a track exact: its CRC32 (zlib's, over the PCM bytes as a WAV data chunk holds
// them) and its AccurateRip v1 and v2 checksums, all fed chunk by chunk as the track is read,
// so nothing is read twice. The peak level comes along for the log.
//
// Usage: TTrackChecksums sums(samples, first, last); sums.Feed(bytes) for every chunk of the
// track's 16-bit little-endian stereo PCM (any split, even inside a sample); then read the
// results. A track fed fewer samples than it has is Complete() == false: its AccurateRip
// checksums are then of a different track and must not be compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace verify {

constexpr uint32_t kSamplesPerSector = 588;  // stereo samples in one CD sector
constexpr uint32_t kBytesPerSample = 4;      // one stereo sample: two 16-bit words

class TTrackChecksums {
 public:
  // totalSamples: the track's length in stereo samples. firstTrack/lastTrack: whether it is the
  // disc's first or last audio track; the AccurateRip sums leave out the first 5 * 588 - 1
  // samples of the first and the last 5 * 588 of the last, which drives with different
  // offsets cannot all read.
  TTrackChecksums(uint64_t totalSamples, bool firstTrack, bool lastTrack);

  // The next bytes of the track's PCM.
  void Feed(std::span<const uint8_t> pcm);

  uint32_t Crc32() const { return crc_; }
  uint32_t ArV1() const { return v1_; }
  uint32_t ArV2() const { return v2_; }
  // Whole stereo samples fed so far.
  uint64_t SamplesFed() const { return position_; }
  uint64_t TotalSamples() const { return total_; }
  // Exactly the track's samples were fed.
  bool Complete() const { return position_ == total_ && carry_ == 0; }
  // The largest magnitude of any 16-bit sample fed, 0..32768.
  uint32_t Peak() const { return peak_; }

 private:
  // n whole stereo samples of little-endian PCM.
  void addSamples(const uint8_t* pcm, size_t n);

  uint64_t total_;
  uint64_t checkFrom_;  // first 1-based position that counts
  uint64_t checkTo_;    // last 1-based position that counts (inclusive)
  uint64_t position_ = 0;
  uint32_t crc_ = 0;
  uint32_t v1_ = 0;
  uint32_t v2_ = 0;
  uint32_t peak_ = 0;
  uint8_t carryBytes_[kBytesPerSample] = {};
  size_t carry_ = 0;
};

// The peak as the log gives it: a percentage of full scale with one decimal, "100.0".
double PeakPercent(uint32_t peak);

}  // namespace verify
