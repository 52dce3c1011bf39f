// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder library itself over libmp3lame: its version record and its handles.
#include <gtest/gtest.h>
#include <lame/lame.h>

#include <vector>

#include "lame/Lame_dll.h"

namespace {

BE_CONFIG startupConfig() {
  BE_CONFIG c{};
  c.dwConfig = BE_CONFIG_LAME;
  c.dwStructVersion = 1;
  c.dwStructSize = sizeof c;
  c.dwSampleRate = 44100;
  c.dwBitrate = 128;
  c.dwMaxBitrate = 320;
  c.dwMpegVersion = 1;
  c.bCRC = -1;
  c.bEnableVBR = -1;
  c.bWriteVBRHeader = -1;
  c.nVBRQuality = 5;
  return c;
}

TEST(EncoderLibrary, ReportsLibmp3lamesOwnVersion) {
  lame_version_t v{};
  get_lame_version_numerical(&v);
  BE_VERSION bv{};
  beVersion(&bv);
  EXPECT_EQ(bv.byMajorVersion, v.major);
  EXPECT_EQ(bv.byMinorVersion, v.minor);
}

TEST(EncoderLibrary, StreamsAndHandles) {
  const BE_CONFIG c = startupConfig();
  uint32_t samples = 0, size = 0;
  HBE_STREAM a = 0, b = 0;
  ASSERT_EQ(beInitStream(&c, &samples, &size, &a), BE_ERR_SUCCESSFUL);
  ASSERT_EQ(beInitStream(&c, &samples, &size, &b), BE_ERR_SUCCESSFUL);
  EXPECT_NE(a, b);
  EXPECT_EQ(samples, 2304u);
  std::vector<int16_t> in(samples, 1000);
  std::vector<uint8_t> out(size);
  uint32_t n = 0;
  EXPECT_EQ(beEncodeChunk(a, samples + 2, in.data(), out.data(), &n), BE_ERR_INVALID_FORMAT_PARAMETERS);
  EXPECT_EQ(beEncodeChunk(a, samples, in.data(), out.data(), &n), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(beDeinitStream(a, out.data(), &n), BE_ERR_SUCCESSFUL);
  EXPECT_GT(n, 0u);
  std::vector<uint8_t> tag(size);
  EXPECT_EQ(beGetInfoTag(a, tag.data(), size, &n), BE_ERR_SUCCESSFUL);
  EXPECT_GT(n, 100u);  // the header frame, filled in
  EXPECT_EQ(beCloseStream(a), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(beCloseStream(a), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(beEncodeChunk(a, samples, in.data(), out.data(), &n), BE_ERR_INVALID_HANDLE);
  EXPECT_EQ(beCloseStream(b), BE_ERR_SUCCESSFUL);

  BE_CONFIG bad = c;
  bad.dwConfig = 0;
  EXPECT_EQ(beInitStream(&bad, &samples, &size, &a), BE_ERR_INVALID_FORMAT);
  // A mono input: blocks of one channel.
  BE_CONFIG mono = c;
  mono.dwInChannels = 1;
  mono.nMode = 3;
  ASSERT_EQ(beInitStream(&mono, &samples, &size, &a), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(samples, 1152u);
  EXPECT_EQ(beCloseStream(a), BE_ERR_SUCCESSFUL);
}

}  // namespace
