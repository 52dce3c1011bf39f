// SPDX-License-Identifier: GPL-3.0-or-later
// The read offset corrected through the real CD library: a disc image made as a drive with
// read offset N delivers the disc (every sample N positions late) is ripped with offset N,
// track by track, reading the sectors the proof names; the result is the original image's
// audio, and its checksums the original's.
#include <gtest/gtest.h>

#include "cdrip/CdRip_dll.h"
#include "tests/test_support.h"
#include "verify/TrackProof.h"

using namespace testing_support;
using namespace verify;

namespace {

constexpr size_t kSector = 2352;
const int kTracks[][2] = {{0, 399}, {400, 699}, {700, 1049}};
constexpr int kDiscEnd = 1050;

// The image a drive with read offset N gives of `disc`: sample b of the image is sample b - N
// of the disc, silence where that lies outside the disc.
std::string asDriveReadsIt(const std::string& disc, int32_t offset) {
  std::string out(disc.size(), '\0');
  const int64_t samples = static_cast<int64_t>(disc.size() / 4);
  for (int64_t b = 0; b < samples; ++b) {
    const int64_t t = b - offset;
    if (t >= 0 && t < samples) out.replace(static_cast<size_t>(b) * 4, 4, disc, static_cast<size_t>(t) * 4, 4);
  }
  return out;
}

struct Ripped {
  std::string pcm;
  uint32_t crc = 0, v1 = 0, v2 = 0;
  bool complete = false;
};

// Rips one track of the selected image through the CD library with the given offset; inPlace:
// as a loop with fixed buffers does it.
Ripped ripTrack(int track, int32_t offset, bool inPlace = false) {
  TTrackProof proof(kTracks[track][0], kTracks[track][1], offset, kDiscEnd, track == 0, track == 2);
  Ripped r;
  auto append = [&r](std::span<const uint8_t> b) { r.pcm.append(reinterpret_cast<const char*>(b.data()), b.size()); };
  if (inPlace) r.pcm.append(proof.LeadingSilenceBytes(), '\0');
  if (proof.Reads()) {
    int32_t bufferSize = 0;
    EXPECT_EQ(CR_OpenRipper(&bufferSize, proof.FirstSector(), proof.LastSector()), CDEX_OK);
    std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));
    for (int guard = 0; guard < 100000; ++guard) {
      int32_t n = 0;
      const CDEX_ERR status = CR_RipChunk(buffer.data(), &n, -1);
      EXPECT_NE(status, CDEX_ERROR);
      if (n > 0 && inPlace) append({buffer.data(), proof.TakeInPlace({buffer.data(), static_cast<size_t>(n)})});
      else if (n > 0) append(proof.Take({buffer.data(), static_cast<size_t>(n)}));
      if (status == CDEX_RIPPING_DONE || status == CDEX_ERROR) break;
    }
    EXPECT_EQ(CR_CloseRipper(), CDEX_OK);
  }
  if (inPlace) r.pcm.append(proof.FinishInPlace(), '\0');
  else append(proof.Finish());
  r.crc = proof.Sums().Crc32();
  r.v1 = proof.Sums().ArV1();
  r.v2 = proof.Sums().ArV2();
  r.complete = proof.Sums().Complete();
  return r;
}

void selectImage(const fs::path& cue) {
  CR_DeInit();
  ASSERT_EQ(CR_AddDrive(cue.c_str()), CDEX_OK);
  ASSERT_EQ(CR_Init(), CDEX_OK);
  ASSERT_EQ(CR_SetActiveCDROM(0), CDEX_OK);
  ASSERT_EQ(CR_ReadToc(), CDEX_OK);
}

}  // namespace

TEST(OffsetRip, ARipWithTheOffsetGivesTheUnshiftedDiscOnEveryTrack) {
  TempDir dir;
  const fs::path cue = makeDisc(dir.path(), "disc", {"noise:400", "music0:300", "music1:350"});
  const std::string disc = readFile(fs::path(cue).replace_extension(".bin"));
  ASSERT_EQ(disc.size(), kDiscEnd * kSector);

  // The original, ripped with offset 0: the reference checksums.
  selectImage(cue);
  std::vector<Ripped> reference;
  for (int t = 0; t < 3; ++t) {
    reference.push_back(ripTrack(t, 0));
    ASSERT_EQ(reference.back().pcm, disc.substr(kTracks[t][0] * kSector, (kTracks[t][1] - kTracks[t][0] + 1) * kSector));
  }

  for (int32_t offset : {6, -6, 667, -1164, 2939, -2940, 4 * 588}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    const fs::path folder = dir / ("drive" + std::to_string(offset));
    fs::create_directories(folder);
    fs::copy_file(cue, folder / "disc.cue");
    writeFile(folder / "disc.bin", asDriveReadsIt(disc, offset));
    selectImage(folder / "disc.cue");
    for (int t = 0; t < 3; ++t) {
      SCOPED_TRACE("track " + std::to_string(t + 1));
      const Ripped got = ripTrack(t, offset);
      const Ripped& want = reference[static_cast<size_t>(t)];
      ASSERT_EQ(got.pcm.size(), want.pcm.size());
      EXPECT_TRUE(got.complete);
      // Exact but where the disc's edge kept the drive from the samples: the first track's
      // first |N| for N < 0, the last track's last N for N > 0, which are silence.
      size_t head = 0, tail = 0;
      if (t == 0 && offset < 0) head = static_cast<size_t>(-offset) * 4;
      if (t == 2 && offset > 0) tail = static_cast<size_t>(offset) * 4;
      EXPECT_EQ(got.pcm.substr(0, head), std::string(head, '\0'));
      EXPECT_EQ(got.pcm.substr(got.pcm.size() - tail), std::string(tail, '\0'));
      EXPECT_TRUE(got.pcm.compare(head, got.pcm.size() - head - tail, want.pcm, head, want.pcm.size() - head - tail) ==
                  0);
      if (head == 0 && tail == 0) {
        EXPECT_EQ(got.crc, want.crc);
      }
      // The AccurateRip sums skip the edges up to 2939 and 2940 samples: they match whole.
      if (offset >= -2939 && offset <= 2940) {
        EXPECT_EQ(got.v1, want.v1);
        EXPECT_EQ(got.v2, want.v2);
      }
      // Shifted in place, in the reader's own buffers: the same bytes and sums.
      const Ripped inPlace = ripTrack(t, offset, true);
      EXPECT_TRUE(inPlace.pcm == got.pcm);
      EXPECT_EQ(inPlace.crc, got.crc);
      EXPECT_EQ(inPlace.v1, got.v1);
      EXPECT_EQ(inPlace.v2, got.v2);
      EXPECT_TRUE(inPlace.complete);
    }
  }
  CR_DeInit();
}
