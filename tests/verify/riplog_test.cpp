// SPDX-License-Identifier: GPL-3.0-or-later
// The rip log, written and read back: its parts, the summary in every case, the name, and
// the atomic replacement of an older log.
#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "verify/RipLog.h"

using namespace testing_support;
using namespace verify;

namespace {

TArVerdict accurate(int confidence) { return {TArMatch::Accurate, confidence, 2, {}}; }

TRipLog twoTrackLog() {
  TRipLog log;
  log.Date = "2026-12-09T03:00:00Z";
  log.DriveName = "demo.cue";
  log.ReadOffset = 6;
  log.Toc = {{1, 0, 22101, true}, {2, 22102, 55891, true}, {3, 67292, 80000, false}};
  log.DiscId = "1B0A2C02";
  log.NamesSource = "cdplayer.ini";
  log.OutputFormat = "MP3";
  log.OutputSettings = "128 kbit/s, joint stereo";
  log.Lookup = ArLookupFromAnswer("http://127.0.0.1:1/accuraterip/x.bin", 404, "", ArDiscIds(log.Toc));
  TRipLogTrack t;
  t.Number = 1;
  t.FileName = "/music/Opening.mp3";
  t.Status = "OK";
  t.Peak = 32767;
  t.ChecksumsKnown = t.ArKnown = true;
  t.Crc32 = 0x1a2b3c4d;
  t.ArV1 = 0xdeadbeef;
  t.ArV2 = 0x0badf00d;
  t.Verification = accurate(12);
  log.AddTrack(t);
  t.Number = 2;
  t.FileName = "/music/Second Thoughts.mp3";
  t.Peak = 16384;
  t.JitterLines = {"1200 1300", "4000 4100"};
  t.ReadErrors = 0;
  t.Verification = accurate(3);
  log.AddTrack(t);
  return log;
}

}  // namespace

TEST(RipLog, WrittenAndReadBackHoldsTheDiscTheTracksAndTheSummary) {
  TempDir dir;
  TRipLog log = twoTrackLog();
  const std::string name = RipLogFileName(dir.path().string(), "Tessaly Demo", "1B0A2C02");
  EXPECT_EQ(name, (dir / "Tessaly Demo.log").string());
  log.Write(name);
  const std::string text = readFile(name);
  for (const char* expected :
       {"Tessaly " TESSALY_VERSION " rip log\n", "Date: 2026-12-09T03:00:00Z\n", "Drive: demo.cue\n",
        "Read offset: +6 samples\n", "Read mode: paranoia full mode\n", "Names from: cdplayer.ini\n",
        "Output: MP3, 128 kbit/s, joint stereo\n",
        "      1  Audio  00:00.00  04:54.52             0       22101    22102\n",
        "      3  Data   14:57.17  02:49.34         67292       80000    12709\n",
        "AccurateRip disc ID: ", "AccurateRip: the disc is not in the database\n", "Track 2\n",
        "  File: /music/Second Thoughts.mp3\n", "  Peak: 50.0 %\n", "  CRC32: 1A2B3C4D\n",
        "  AccurateRip v1: DEADBEEF\n", "  AccurateRip v2: 0BADF00D\n",
        "  Verification: Accurately ripped (confidence 3) [v2]\n", "  Jitter: 1200 1300\n  Jitter: 4000 4100\n",
        "Summary\n  All tracks accurately ripped\n"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n---\n" << text;
  EXPECT_EQ(log.SummaryLine(), "All tracks accurately ripped");

  // A second run's log replaces the first whole, and leaves no temporary file beside it.
  log.SetCancelled();
  log.TrackAt(1).Status = "Cancelled";
  log.TrackAt(1).Verification = ArVerdict(log.Lookup, 2, 0, 0, false);
  log.Write(name);
  const std::string again = readFile(name);
  EXPECT_NE(again.find("Summary\n  The run was cancelled\n  1 tracks could not be verified\n"), std::string::npos)
      << again;
  EXPECT_NE(again.find("  Verification: Not verified (the track was not read to its end)\n"), std::string::npos);
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
}

TEST(RipLog, SummarySaysErrorsAndUnverifiedTracks) {
  TRipLog log = twoTrackLog();
  log.TrackAt(0).ReadErrors = 2;
  log.TrackAt(1).Verification = {TArMatch::NoMatch, 4, 0, {}};
  EXPECT_EQ(log.Summary(), (std::vector<std::string>{"Errors occurred", "1 tracks could not be verified"}));
  log.TrackAt(0).ReadErrors = 0;
  log.TrackAt(0).Status = "Write error";
  EXPECT_EQ(log.Summary().front(), "Errors occurred");
  TRipLog none;
  none.AddError("The drive refused to read track 1");
  EXPECT_EQ(none.Summary(), std::vector<std::string>{"Errors occurred"});
}

TEST(RipLog, AnImageAndAnUnknownDriveOffsetAreSaid) {
  TRipLog log = twoTrackLog();
  log.Image = true;
  log.ReadOffset = 0;
  EXPECT_NE(log.Text().find("Read mode: image\n"), std::string::npos);
  log.Image = false;
  log.OffsetKnown = false;
  const std::string text = log.Text();
  EXPECT_NE(text.find("Read offset: 0 samples (not set). " + OffsetUnknownNote() + "\n"), std::string::npos) << text;
  log.ReadOffset = 0;
  log.OffsetKnown = true;
  EXPECT_EQ(log.Text().find(OffsetUnknownNote()), std::string::npos);
}

TEST(RipLog, TheNameFollowsTheOutputFilesRules) {
  // A title's "/" makes a subfolder that never leaves the output folder; a title with nothing
  // usable left falls back to the disc ID.
  EXPECT_EQ(RipLogFileName("/music", "../../Best/Of", "X"), "/music/Best/Of.log");
  EXPECT_EQ(RipLogFileName("/music/", " / ", "1B0A2C02"), "/music/1B0A2C02.log");
  EXPECT_EQ(RipLogFileName("/music", "", ""), "/music/rip.log");
  TempDir dir;
  TRipLog log = twoTrackLog();
  const std::string name = RipLogFileName(dir.path().string(), "Album/Disc 1", "X");
  log.Write(name);  // the subfolder is made
  EXPECT_TRUE(fs::is_regular_file(dir / "Album" / "Disc 1.log"));
  // A folder in the log's place cannot be replaced: said, not hidden.
  fs::create_directories(dir / "Taken.log");
  EXPECT_ANY_THROW(log.Write((dir / "Taken.log").string()));
}
