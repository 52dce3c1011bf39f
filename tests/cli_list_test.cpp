// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip --list, run as a user runs it, on generated and hand-written images.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace testing_support;

std::string rip(const std::string& args) { return shellQuote(TESSALY_RIP_PATH) + " " + args; }

class CliList : public ::testing::Test {
 protected:
  TempDir tmp;
};

TEST_F(CliList, ListsDrivesDiscIdAndTracks) {
  const auto a = makeDisc(tmp.path(), "first", {"music:100"});
  const auto b = makeDisc(tmp.path(), "second", {"music:15000", "tone440:15000", "data:750"});
  const auto r = run(rip(shellQuote(a.string()) + " " + shellQuote(b.string()) + " --list --drive 1"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto out = lines(r.out);
  // Real drives of this machine come first; the images follow in the order given.
  ASSERT_GE(out.size(), 8u);
  const size_t n = out.size();
  EXPECT_EQ(out[n - 8].substr(out[n - 8].find(':')), ": Disc image first.cue");
  EXPECT_EQ(out[n - 7].substr(out[n - 7].find(':')), ": Disc image second.cue");
  // The chosen image names the file its sectors are read from.
  EXPECT_EQ(out[n - 6], "Data file: " + (tmp / "second.bin").string());
  EXPECT_EQ(out[n - 5], "DiscID: 094200");  // 0x200 + 0x31800 + (A 30150 = 6:42:00: 0x062A00)
  // No section, no CD-Text, and MusicBrainz out of reach (the tests' server address).
  EXPECT_EQ(out[n - 4], "Names: none");
  EXPECT_NE(r.err.find("MusicBrainz could not be reached ("), std::string::npos) << r.err;
  EXPECT_EQ(out[n - 3], "Track01 01 Audio 0 14999 3:20");
  EXPECT_EQ(out[n - 2], "Track02 02 Audio 15000 29999 3:20");
  EXPECT_EQ(out[n - 1], "Track03 03 Data 30000 30749 0:10");
}

TEST_F(CliList, HandWrittenCueSheet) {
  // Another program's cue sheet over a bin of known layout: data first, pregaps, CRLF.
  makeDisc(tmp.path(), "other", {"data:200", "music:400", "tone1000:300", "noise:4500"});
  writeFile(tmp / "other.cue",
            "PERFORMER \"Someone\"\r\nTITLE \"Not from the fixtures\"\r\nFILE \"other.bin\" BINARY\r\n"
            "  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n    INDEX 00 00:02:00\r\n    INDEX 01 00:02:50\r\n"
            "  TRACK 03 AUDIO\r\n    INDEX 01 00:08:00\r\n"
            "  TRACK 04 AUDIO\r\n    INDEX 00 00:11:70\r\n    INDEX 01 00:12:00\r\n");
  const auto r = run(rip(shellQuote((tmp / "other.cue").string()) + " --list"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto out = lines(r.out);
  ASSERT_GE(out.size(), 7u);
  const size_t n = out.size();
  // 0 -> 0x200; 200 -> A 350 = 0:04:50 -> 0x432; 600 -> A 750 = 0:10:00 -> 0xA00;
  // 900 -> A 1050 = 0:14:00 -> 0xE00.
  EXPECT_EQ(out[n - 7], "DiscID: 001E32");
  // The sheet's TITLE and PERFORMER lines are its CD-Text: the album, and track 2's title.
  EXPECT_EQ(out[n - 6], "Names: CD-Text");
  EXPECT_EQ(out[n - 5], "Album: Someone / Not from the fixtures");
  EXPECT_EQ(out[n - 4], "Track01 01 Data 0 199 0:02");
  EXPECT_EQ(out[n - 3], "Two 02 Audio 200 599 0:05");
  EXPECT_EQ(out[n - 2], "Track03 03 Audio 600 899 0:04");
  EXPECT_EQ(out[n - 1], "Track04 04 Audio 900 5399 1:00");
}

TEST_F(CliList, ErrorsAreClearWithTheirExitStatus) {
  const auto help = run(rip("--help"));
  EXPECT_EQ(help.exitCode, 0);
  for (const char* opt : {"--list", "--drive", "--help"}) EXPECT_NE(help.out.find(opt), std::string::npos) << opt;

  const auto unknown = run(rip("--frobnicate"));
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("unknown option '--frobnicate'"), std::string::npos);

  const auto cue = makeDisc(tmp.path(), "disc", {"music:100"});
  const auto bad = run(rip(shellQuote(cue.string()) + " --list --drive x"));
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("bad value 'x' for --drive"), std::string::npos);

  const auto missing = run(rip(shellQuote((tmp / "gone.cue").string()) + " --list"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("gone.cue"), std::string::npos);

  writeFile(tmp / "empty.cue", "REM nothing here\n");
  const std::string empty = shellQuote((tmp / "empty.cue").string());
  // The image is the last drive, after any real drive of this machine.
  const auto drives = lines(run(rip(empty + " --list")).out);
  int last = -1;
  for (const auto& l : drives) last += l.rfind("Drive ", 0) == 0 ? 1 : 0;
  ASSERT_GE(last, 0);
  const auto noDisc = run(rip(empty + " --list --drive " + std::to_string(last)));
  EXPECT_EQ(noDisc.exitCode, 1);
  EXPECT_NE(noDisc.err.find("no readable disc"), std::string::npos);

  const auto noSuchDrive = run(rip(shellQuote(cue.string()) + " --list --drive 40"));
  EXPECT_EQ(noSuchDrive.exitCode, 1);
  EXPECT_NE(noSuchDrive.err.find("there is no drive 40"), std::string::npos);
}

}  // namespace
