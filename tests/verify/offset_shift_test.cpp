// SPDX-License-Identifier: GPL-3.0-or-later
// The read offset's shift on generated sample arrays: a disc as a drive with offset N
// delivers it (every sample N positions late, nothing before sector 0 or past the lead-out),
// ripped with offset N, gives back the disc's own samples; silence stands only where the
// samples lay beyond what a drive can read.
#include <gtest/gtest.h>

#include <cstring>

#include "verify/Checksums.h"
#include "verify/OffsetShift.h"

using namespace verify;

namespace {

constexpr int kSectors = 40;  // the disc: tracks of 12, 13 and 15 sectors
const int kTracks[][2] = {{0, 11}, {12, 24}, {25, 39}};

uint32_t truth(int64_t i) { return static_cast<uint32_t>(i * 2654435761u) | 1u; }  // never silence

// What a drive whose read offset is N delivers for the whole disc.
std::vector<uint32_t> driveStream(int32_t offset) {
  std::vector<uint32_t> s(kSectors * kSamplesPerSector);
  for (int64_t b = 0; b < static_cast<int64_t>(s.size()); ++b) {
    const int64_t t = b - offset;
    s[b] = t >= 0 && t < static_cast<int64_t>(s.size()) ? truth(t) : 0;
  }
  return s;
}

// Rips one track: reads the planned sectors from the stream in chunks of `chunk` bytes.
std::vector<uint32_t> rip(const std::vector<uint32_t>& stream, int track, int32_t offset, size_t chunk) {
  const TShiftPlan plan = PlanShift(kTracks[track][0], kTracks[track][1], offset, kSectors);
  EXPECT_GE(plan.FirstSector, 0);
  EXPECT_LT(plan.LastSector, kSectors);
  TSampleShifter shifter(plan);
  std::vector<uint8_t> out;
  if (plan.Read) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data() + plan.FirstSector * kSamplesPerSector);
    const size_t n = static_cast<size_t>(plan.LastSector - plan.FirstSector + 1) * kSamplesPerSector * 4;
    for (size_t at = 0; at < n; at += chunk) shifter.Feed({bytes + at, std::min(chunk, n - at)}, out);
  }
  shifter.Finish(out);
  std::vector<uint32_t> samples(out.size() / 4);
  std::memcpy(samples.data(), out.data(), samples.size() * 4);
  EXPECT_EQ(out.size() % 4, 0u);
  return samples;
}

}  // namespace

TEST(OffsetShift, ARipWithTheDrivesOffsetGivesTheDiscsSamples) {
  for (int32_t offset : {0, 6, -6, 667, -1164, 2 * 588, -3 * 588, 5000, -5000}) {
    const std::vector<uint32_t> stream = driveStream(offset);
    for (int track = 0; track < 3; ++track) {
      for (size_t chunk : {size_t{2352}, size_t{7 * 2352}, size_t{1001}}) {
        SCOPED_TRACE("offset " + std::to_string(offset) + ", track " + std::to_string(track + 1) + ", chunk " +
                     std::to_string(chunk));
        const std::vector<uint32_t> got = rip(stream, track, offset, chunk);
        const int64_t start = int64_t{kTracks[track][0]} * kSamplesPerSector;
        const int64_t length = int64_t{kTracks[track][1] - kTracks[track][0] + 1} * kSamplesPerSector;
        ASSERT_EQ(static_cast<int64_t>(got.size()), length);
        int64_t silent = 0, wrong = 0;
        for (int64_t k = 0; k < length; ++k) {
          const int64_t onDrive = start + k + offset;
          const bool readable = onDrive >= 0 && onDrive < int64_t{kSectors} * kSamplesPerSector;
          if (!readable) silent += got[k] == 0 ? 1 : 0;
          else wrong += got[k] != truth(start + k) ? 1 : 0;
        }
        EXPECT_EQ(wrong, 0);
        // Silence exactly where the disc's end cut the drive off: the last track's last N
        // samples for N > 0, the first track's first |N| for N < 0.
        const int64_t expectedSilence = (offset > 0 && track == 2) ? offset : (offset < 0 && track == 0) ? -offset : 0;
        EXPECT_EQ(silent, expectedSilence);
      }
    }
  }
}

TEST(OffsetShift, ThePlanReadsNeighboursButNeverBeforeSectorZeroOrPastTheEnd) {
  // +6 on a middle track reads one sector of the next track; -6 one of the previous.
  TShiftPlan p = PlanShift(12, 24, 6, kSectors);
  EXPECT_EQ(p.FirstSector, 12);
  EXPECT_EQ(p.LastSector, 25);
  EXPECT_EQ(p.Skip, 6u);
  EXPECT_EQ(p.Keep, 13u * 588u);
  p = PlanShift(12, 24, -6, kSectors);
  EXPECT_EQ(p.FirstSector, 11);
  EXPECT_EQ(p.LastSector, 24);
  EXPECT_EQ(p.Skip, 588u - 6u);
  // The disc's edges.
  p = PlanShift(0, 11, -700, kSectors);
  EXPECT_EQ(p.FirstSector, 0);
  EXPECT_EQ(p.LeadingSilence, 700u);
  p = PlanShift(25, 39, 1300, kSectors);
  EXPECT_EQ(p.LastSector, 39);
  EXPECT_EQ(p.TrailingSilence, 1300u);
  EXPECT_EQ(p.Samples(), 15u * 588u);
  // An offset past the whole disc: nothing to read, all silence of the track's length.
  p = PlanShift(25, 39, 100000, kSectors);
  EXPECT_FALSE(p.Read);
  EXPECT_EQ(p.Samples(), 15u * 588u);
}

TEST(OffsetShift, AShortReadIsPaddedToTheTracksLength) {
  const TShiftPlan plan = PlanShift(12, 24, 0, kSectors);
  TSampleShifter shifter(plan);
  std::vector<uint8_t> out;
  const std::vector<uint8_t> half(6 * 2352, 0x5a);
  shifter.Feed(half, out);
  shifter.Finish(out);
  shifter.Finish(out);  // a second Finish adds nothing
  ASSERT_EQ(out.size(), 13u * 2352u);
  EXPECT_EQ(out[6 * 2352 - 1], 0x5a);
  EXPECT_EQ(out[6 * 2352], 0);
}
