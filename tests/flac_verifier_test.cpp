// SPDX-License-Identifier: GPL-3.0-or-later
// The check beside the FLAC encoder: a stream that gives its input back passes; a changed
// sample, a lost frame, a frame too many and a stream cut short are each caught and named.
#include <FLAC++/encoder.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "flac/FlacVerifier.h"

namespace {

// Encodes with libFLAC straight, keeping the stream's frames one by one.
class FrameKeeper : public FLAC::Encoder::Stream {
 public:
  std::vector<std::vector<uint8_t>> frames;
  std::array<uint8_t, 16> md5{};  // libFLAC's own, from its final STREAMINFO

 protected:
  void metadata_callback(const FLAC__StreamMetadata* m) override {
    if (m->type == FLAC__METADATA_TYPE_STREAMINFO) std::copy_n(m->data.stream_info.md5sum, 16, md5.begin());
  }
  FLAC__StreamEncoderWriteStatus write_callback(const FLAC__byte buffer[], size_t bytes, uint32_t samples,
                                                uint32_t) override {
    if (samples > 0) frames.emplace_back(buffer, buffer + bytes);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
};

// 16-bit little-endian PCM of a few tones with noise, whole frames.
std::vector<uint8_t> audio(size_t frames, int channels) {
  std::vector<uint8_t> pcm;
  uint32_t x = 12345;
  for (size_t i = 0; i < frames * static_cast<size_t>(channels); ++i) {
    x = x * 1664525u + 1013904223u;
    const int v = static_cast<int>((i * 37) % 4000) - 2000 + static_cast<int>(x >> 25);
    pcm.push_back(static_cast<uint8_t>(v & 0xff));
    pcm.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
  }
  return pcm;
}

struct Encoded {
  std::vector<std::vector<uint8_t>> frames;
  std::array<uint8_t, 16> md5{};
};

Encoded encodeWithMd5(const std::vector<uint8_t>& pcm, int channels) {
  FrameKeeper e;
  EXPECT_TRUE(e.set_channels(static_cast<uint32_t>(channels)) && e.set_bits_per_sample(16) &&
              e.set_sample_rate(44100) && e.set_compression_level(5));
  EXPECT_EQ(e.init(), FLAC__STREAM_ENCODER_INIT_STATUS_OK);
  const size_t n = pcm.size() / 2;
  std::vector<FLAC__int32> samples(n);
  for (size_t i = 0; i < n; ++i) samples[i] = static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
  EXPECT_TRUE(e.process_interleaved(samples.data(), static_cast<uint32_t>(n / static_cast<size_t>(channels))));
  EXPECT_TRUE(e.finish());
  return {e.frames, e.md5};
}

std::vector<std::vector<uint8_t>> encode(const std::vector<uint8_t>& pcm, int channels) {
  return encodeWithMd5(pcm, channels).frames;
}

// Gives the verifier the input in pieces of `piece` bytes and the frames between them, as the
// coder does; the result of Finish.
bool check(TFlacVerifier& v, const std::vector<uint8_t>& pcm, const std::vector<std::vector<uint8_t>>& frames,
           size_t piece) {
  size_t next = 0;
  for (size_t at = 0; at < pcm.size(); at += piece) {
    v.Input(pcm.data() + at, std::min(piece, pcm.size() - at));
    // About as many frames as the input so far covers.
    const size_t covered = (at + piece) * frames.size() / pcm.size();
    for (; next < frames.size() && next < covered; ++next) v.Encoded(frames[next].data(), frames[next].size());
  }
  for (; next < frames.size(); ++next) v.Encoded(frames[next].data(), frames[next].size());
  return v.Finish();
}

// The verifier's MD5 is the one STREAMINFO gets: it must be libFLAC's for the same input.
TEST(FlacVerifier, AStreamOfItsInputPassesWithLibFlacsMd5InStereoMonoAndAnyPiecesAndWhenEmpty) {
  for (int channels : {2, 1}) {
    // Longer than what the verifier keeps at most: the encoder's side must wait, not stall.
    const std::vector<uint8_t> pcm = audio(44100 * 30, channels);
    const Encoded e = encodeWithMd5(pcm, channels);
    ASSERT_NE(e.md5, (std::array<uint8_t, 16>{}));
    for (size_t piece : {size_t{2352 * 27}, size_t{4 * 1000}}) {
      TFlacVerifier v(channels);
      EXPECT_TRUE(check(v, pcm, e.frames, piece)) << channels << " channels, pieces of " << piece << ": " << v.Problem();
      EXPECT_FALSE(v.Failed());
      EXPECT_EQ(v.Md5(), e.md5) << channels << " channels, pieces of " << piece;
    }
  }
  TFlacVerifier empty(2);
  EXPECT_TRUE(empty.Finish()) << empty.Problem();
  // The MD5 of no bytes at all.
  const std::array<uint8_t, 16> none = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                        0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
  EXPECT_EQ(empty.Md5(), none);
}

TEST(FlacVerifier, AChangedSampleALostFrameAnExtraFrameAndAShortStreamAreNamed) {
  const std::vector<uint8_t> pcm = audio(44100 * 3, 2);
  const auto frames = encode(pcm, 2);
  ASSERT_GT(frames.size(), 4u);

  // The input differs from what was encoded in one sample of the right channel.
  std::vector<uint8_t> changed = pcm;
  const size_t sample = 70000;
  changed[(sample * 2 + 1) * 2] ^= 0x01;
  TFlacVerifier a(2);
  EXPECT_FALSE(check(a, changed, frames, 2352 * 27));
  EXPECT_TRUE(a.Failed());
  EXPECT_NE(a.Problem().find("mismatch in audio data at sample 70000, channel 1"), std::string::npos) << a.Problem();

  // A frame lost between the encoder and the file: the next one decodes where it should not.
  auto lost = frames;
  lost.erase(lost.begin() + 2);
  TFlacVerifier b(2);
  EXPECT_FALSE(check(b, pcm, lost, 2352 * 27));
  EXPECT_NE(b.Problem().find("verify: "), std::string::npos);

  // A frame given twice: more samples than were encoded, or a mismatch at the repeat.
  auto twice = frames;
  twice.push_back(frames.back());
  TFlacVerifier c(2);
  EXPECT_FALSE(check(c, pcm, twice, 2352 * 27));

  // The stream ends before its input: the samples it never gave back are counted.
  auto shortened = frames;
  shortened.pop_back();
  TFlacVerifier d(2);
  EXPECT_FALSE(check(d, pcm, shortened, 2352 * 27));
  EXPECT_NE(d.Problem().find("samples were not in the stream"), std::string::npos) << d.Problem();
}

TEST(FlacVerifier, GoingAwayUnfinishedStopsItsThread) {
  const std::vector<uint8_t> pcm = audio(44100, 2);
  const auto frames = encode(pcm, 2);
  TFlacVerifier v(2);
  v.Input(pcm.data(), pcm.size());
  v.Encoded(frames[0].data(), frames[0].size());
  // No Finish: the destructor must not wait for a stream's end that never comes.
}

}  // namespace
