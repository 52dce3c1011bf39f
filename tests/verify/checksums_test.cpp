// SPDX-License-Identifier: GPL-3.0-or-later
// The track checksums: CRC32 and AccurateRip v1/v2 against whipper's accuraterip-checksum on
// tracks cut from generated disc images, however the PCM is split into chunks.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <random>

#include "tests/test_support.h"
#include "verify/Checksums.h"

using namespace testing_support;
using verify::TTrackChecksums;

namespace {

constexpr size_t kSector = 2352;

std::string wavOf(const std::string& pcm) {
  auto le = [](uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  const auto size = static_cast<uint32_t>(pcm.size());
  return "RIFF" + le(size + 36, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(44100, 4) +
         le(44100 * 4, 4) + le(4, 2) + le(16, 2) + "data" + le(size, 4) + pcm;
}

// Feeds the bytes in pieces of pseudo-random sizes (odd ones included, so samples are split).
TTrackChecksums sumsOf(const std::string& pcm, bool first, bool last, unsigned seed) {
  TTrackChecksums sums(pcm.size() / 4, first, last);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<size_t> piece(1, 3 * kSector);
  for (size_t at = 0; at < pcm.size();) {
    const size_t n = std::min(piece(rng), pcm.size() - at);
    sums.Feed({reinterpret_cast<const uint8_t*>(pcm.data()) + at, n});
    at += n;
  }
  return sums;
}

std::string referenceTool() { return AR_REFERENCE_DIR "/usr/bin/accuraterip-checksum"; }

uint32_t reference(const fs::path& wav, int track, int tracks, int version) {
  const CommandResult r =
      run("PYTHONPATH=" + shellQuote(AR_REFERENCE_DIR "/usr/lib/python3/dist-packages") + " python3 " +
          shellQuote(referenceTool()) + " --accuraterip-v" + std::to_string(version) + " " + shellQuote(wav.string()) +
          " " + std::to_string(track) + " " + std::to_string(tracks));
  if (r.exitCode != 0 || r.out.size() < 8) throw std::runtime_error("accuraterip-checksum failed: " + r.err + r.out);
  return static_cast<uint32_t>(std::stoul(r.out, nullptr, 16));
}

struct CutTrack {
  int number;
  long first, last;  // sectors, inclusive
};

}  // namespace

TEST(TrackChecksums, Crc32IsZlibsOverTheBytesWhateverTheChunks) {
  // The standard check value of CRC-32: "123456789" gives CBF43926.
  const std::string check = "123456789";
  TTrackChecksums sums(2, false, false);
  for (char c : check) sums.Feed({reinterpret_cast<const uint8_t*>(&c), 1});
  EXPECT_EQ(sums.Crc32(), 0xCBF43926u);
  EXPECT_EQ(sums.SamplesFed(), 2u);  // 9 bytes: two whole samples and a byte carried
  EXPECT_FALSE(sums.Complete());
}

TEST(TrackChecksums, TheSkippedSamplesOfTheFirstAndLastTrackFollowTheDefinition) {
  // One sample of value 1 at a chosen 1-based position in a track of 20000 samples: v1 is
  // the position when it counts and 0 when it does not.
  auto v1WithOneAt = [](uint64_t position, bool first, bool last) {
    std::string pcm(20000 * 4, '\0');
    pcm[(position - 1) * 4] = 1;
    return sumsOf(pcm, first, last, 7).ArV1();
  };
  EXPECT_EQ(v1WithOneAt(1, false, false), 1u);
  EXPECT_EQ(v1WithOneAt(2939, true, false), 0u);  // the first track skips 5 * 588 - 1
  EXPECT_EQ(v1WithOneAt(2940, true, false), 2940u);
  EXPECT_EQ(v1WithOneAt(20000 - 2940, false, true), 20000u - 2940u);  // the last keeps up to here
  EXPECT_EQ(v1WithOneAt(20000 - 2939, false, true), 0u);
  EXPECT_EQ(v1WithOneAt(20000, false, false), 20000u);
}

TEST(TrackChecksums, V2FoldsTheHighHalfOfEachProductBackIn) {
  // Full-scale words weigh past 32 bits from position 2 on: v1 loses the high half, v2 keeps it.
  const std::string pcm(3 * 4, '\xff');
  const TTrackChecksums sums = sumsOf(pcm, false, false, 1);
  const uint64_t w = 0xffffffffu;
  uint32_t v1 = 0, v2 = 0;
  for (uint64_t i = 1; i <= 3; ++i) {
    v1 += static_cast<uint32_t>(w * i);
    v2 += static_cast<uint32_t>(w * i) + static_cast<uint32_t>((w * i) >> 32);
  }
  EXPECT_EQ(sums.ArV1(), v1);
  EXPECT_EQ(sums.ArV2(), v2);
  EXPECT_NE(sums.ArV1(), sums.ArV2());
  EXPECT_EQ(sums.Peak(), 1u);  // 0xffff is -1
  EXPECT_TRUE(sums.Complete());
}

TEST(TrackChecksums, PeakIsTheLargestMagnitudeOfEitherChannel) {
  std::string pcm(8 * 4, '\0');
  pcm[5 * 4 + 2] = '\x00';
  pcm[5 * 4 + 3] = '\x80';  // right channel -32768
  pcm[2 * 4] = '\x10';      // left channel 16
  EXPECT_EQ(sumsOf(pcm, false, false, 3).Peak(), 32768u);
  EXPECT_DOUBLE_EQ(verify::PeakPercent(32768), 100.0);
  EXPECT_DOUBLE_EQ(verify::PeakPercent(0), 0.0);
}

// The generated disc: noise and music, a one-second track in the middle; every track cut from
// the image's BIN file, summed in random chunks and compared with the reference tool.
TEST(TrackChecksums, EqualTheReferenceToolOnAGeneratedDisc) {
  ASSERT_TRUE(fs::exists(referenceTool())) << "the reference tool was not unpacked at configure time";
  TempDir dir;
  const fs::path cue = makeDisc(dir.path(), "disc", {"noise:1200", "music0:900", "noise:75", "music1:1000"});
  const std::string image = readFile(fs::path(cue).replace_extension(".bin"));
  const std::vector<CutTrack> tracks = {{1, 0, 1199}, {2, 1200, 2099}, {3, 2100, 2174}, {4, 2175, 3174}};
  ASSERT_EQ(image.size(), 3175 * kSector);
  for (const CutTrack& t : tracks) {
    SCOPED_TRACE("track " + std::to_string(t.number));
    const std::string pcm = image.substr(t.first * kSector, (t.last - t.first + 1) * kSector);
    const fs::path wav = dir / ("t" + std::to_string(t.number) + ".wav");
    writeFile(wav, wavOf(pcm));
    const TTrackChecksums sums = sumsOf(pcm, t.number == 1, t.number == 4, static_cast<unsigned>(t.number));
    EXPECT_TRUE(sums.Complete());
    EXPECT_EQ(sums.ArV1(), reference(wav, t.number, 4, 1));
    EXPECT_EQ(sums.ArV2(), reference(wav, t.number, 4, 2));
    EXPECT_EQ(sums.Crc32(), static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(pcm.data()),
                                                        static_cast<uInt>(pcm.size()))));
    EXPECT_GT(sums.Peak(), 1000u);
  }
}

TEST(TrackChecksums, EqualTheReferenceToolOnSilenceAndOnAOneSecondOnlyTrack) {
  ASSERT_TRUE(fs::exists(referenceTool()));
  TempDir dir;
  // Silence sums to 0 everywhere; a one-second disc is first and last at once.
  const std::string silence(300 * kSector, '\0');
  writeFile(dir / "silence.wav", wavOf(silence));
  const TTrackChecksums quiet = sumsOf(silence, false, false, 9);
  EXPECT_EQ(quiet.ArV1(), reference(dir / "silence.wav", 2, 3, 1));
  EXPECT_EQ(quiet.ArV2(), reference(dir / "silence.wav", 2, 3, 2));
  EXPECT_EQ(quiet.Peak(), 0u);

  const fs::path cue = makeDisc(dir.path(), "one", {"music2:75"});
  const std::string pcm = readFile(fs::path(cue).replace_extension(".bin"));
  ASSERT_EQ(pcm.size(), 75 * kSector);
  writeFile(dir / "one.wav", wavOf(pcm));
  const TTrackChecksums one = sumsOf(pcm, true, true, 11);
  EXPECT_NE(one.ArV1(), 0u);
  EXPECT_EQ(one.ArV1(), reference(dir / "one.wav", 1, 1, 1));
  EXPECT_EQ(one.ArV2(), reference(dir / "one.wav", 1, 1, 2));
}
