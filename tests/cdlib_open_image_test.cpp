// SPDX-License-Identifier: GPL-3.0-or-later
// Disc images opened while the library runs (a file dropped on the window, opened from a
// dialog): listed last, once per file, and refused with the reason when they are no disc.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "cdrip/CDRIP.h"
#include "test_support.h"

namespace {

using namespace testing_support;

class OpenImage : public ::testing::Test {
 protected:
  void SetUp() override { CR_DeInit(); }
  void TearDown() override { CR_DeInit(); }
  TempDir tmp;
};

// The first sectors of the selected drive's range, read through the library.
std::string readSectors(int32_t first, int32_t last) {
  int32_t size = 0;
  if (CR_OpenRipper(&size, first, last) != CDEX_OK) return {};
  std::vector<uint8_t> buf(static_cast<size_t>(size));
  std::string out;
  for (CDEX_ERR st = CDEX_OK; st != CDEX_RIPPING_DONE && st != CDEX_ERROR;) {
    int32_t n = 0;
    st = CR_RipChunk(buf.data(), &n, -1);
    out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
  }
  CR_CloseRipper();
  return out;
}

TEST_F(OpenImage, AnImageOpenedAfterInitIsListedLastOnceAndReadable) {
  const auto a = makeDisc(tmp.path(), "a", {"music:100"});
  const auto b = makeDisc(tmp.path(), "b", {"noise:120", "music:80"});
  ASSERT_EQ(CR_AddDrive(a.c_str()), CDEX_OK);
  TCDRIP r;
  const int before = r.GetNumCDROM();
  ASSERT_GE(before, 1);
  EXPECT_EQ(r.FindDrive(b.string()), -1);

  std::string why = "left over";
  ASSERT_TRUE(r.OpenImage(b.string(), &why)) << why;
  EXPECT_EQ(why, "");
  ASSERT_EQ(r.GetNumCDROM(), before + 1);
  const int index = r.FindDrive(b.string());
  EXPECT_EQ(index, before);
  // Opening lists; it does not select.
  EXPECT_EQ(r.CDRomNum(), 0);
  EXPECT_EQ(r.TrackCount(), 1);

  r.SelectDrive(index);
  EXPECT_EQ(r.DriveName(), "Disc image b.cue");
  ASSERT_EQ(r.TrackCount(), 2);
  EXPECT_EQ(r.Tracks().Objects(1).StartSector, 120);
  const std::string bin = readFile(tmp / "b.bin");
  EXPECT_TRUE(readSectors(118, 125) == bin.substr(118 * 2352, 8 * 2352));

  // The same file again, by its name or by another path to it: nothing is added.
  fs::create_directories(tmp / "sub");
  fs::create_symlink(b, tmp / "sub" / "link.cue");
  for (const fs::path& again : {b, tmp.path() / "." / "b.cue", tmp.path() / "sub" / "link.cue"}) {
    EXPECT_TRUE(r.OpenImage(again.string(), &why)) << again << ": " << why;
    EXPECT_EQ(r.GetNumCDROM(), before + 1) << again;
    EXPECT_EQ(r.FindDrive(again.string()), index) << again;
  }
  // An image offered before init is found by its file too.
  EXPECT_EQ(r.FindDrive((tmp.path() / "." / "a.cue").string()), r.FindDrive(a.string()));
  EXPECT_GE(r.FindDrive(a.string()), 0);
  EXPECT_NE(r.FindDrive(a.string()), index);
}

TEST_F(OpenImage, WhatIsNoDiscImageIsRefusedWithItsReasonAndNotListed) {
  const auto a = makeDisc(tmp.path(), "a", {"music:100"});
  ASSERT_EQ(CR_AddDrive(a.c_str()), CDEX_OK);
  TCDRIP r;
  const int before = r.GetNumCDROM();
  writeFile(tmp / "notes.txt", "Track 1: a song\nTrack 2: another\n");
  writeFile(tmp / "broken.cue", "FILE \"nowhere.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  fs::create_directories(tmp / "folder.cue");
  struct Case {
    fs::path path;
    std::string reason;
  };
  const Case cases[] = {
      {tmp / "notes.txt", "notes.txt is not a disc image (cue, toc, nrg ...)"},
      {tmp / "missing.cue", std::string("missing.cue: ") + std::strerror(ENOENT)},
      {tmp / "broken.cue", "broken.cue: "},
      {tmp / "folder.cue", "folder.cue is not a disc image (cue, toc, nrg ...)"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_FALSE(r.OpenImage(c.path.string(), &why)) << c.path;
    // A reason ending in a blank is followed by the reader's own words.
    if (c.reason.back() == ' ') {
      EXPECT_EQ(why.rfind(c.reason, 0), 0u) << c.path << ": " << why;
      EXPECT_GT(why.size(), c.reason.size()) << c.path << ": " << why;
    } else {
      EXPECT_EQ(why, c.reason) << c.path;
    }
    EXPECT_EQ(r.GetNumCDROM(), before) << c.path;
    EXPECT_EQ(r.FindDrive(c.path.string()), -1) << c.path;
  }
  // The broken sheet's reason names what is missing.
  std::string why;
  r.OpenImage((tmp / "broken.cue").string(), &why);
  EXPECT_NE(why.find("nowhere.bin"), std::string::npos) << why;
  // A file the user may not read says so (root reads everything).
  if (geteuid() != 0) {
    const auto c = makeDisc(tmp.path(), "c", {"music:100"});
    fs::permissions(c, fs::perms::none);
    EXPECT_FALSE(r.OpenImage(c.string(), &why));
    EXPECT_EQ(why, std::string("c.cue: ") + std::strerror(EACCES));
    EXPECT_EQ(r.GetNumCDROM(), before);
  }
  // The drives listed before are untouched.
  r.SelectDrive(0);
  EXPECT_EQ(r.TrackCount(), 1);
}

}  // namespace
