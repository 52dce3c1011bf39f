// SPDX-License-Identifier: GPL-3.0-or-later
// The real CD library and TCDRIP over disc images written by the fixture generator (and by
// hand): table of contents, drive names, extraction bytes, output formats, eject.
#include <gtest/gtest.h>

#include <cdio/logging.h>
#include <iconv.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "cdrip/CDRIP.h"
#include "cdrip/CdText.h"
#include "cdrip/cdrip_internal.h"
#include "test_support.h"

namespace {

using namespace testing_support;

class CdLibImage : public ::testing::Test {
 protected:
  void SetUp() override { CR_DeInit(); }
  void TearDown() override { CR_DeInit(); }

  // Offers the images and initialises the library, as a program does with its arguments.
  void offer(const std::vector<fs::path>& images) {
    for (const auto& p : images) ASSERT_EQ(CR_AddDrive(p.c_str()), CDEX_OK) << p;
  }

  // Reads StartSector..EndSector through the library; checks the chunk contract on the way.
  std::string ripRange(int32_t start, int32_t end, int* jitterChunks = nullptr) {
    int32_t bufferSize = 0;
    EXPECT_EQ(CR_OpenRipper(&bufferSize, start, end), CDEX_OK);
    EXPECT_GT(bufferSize, 0);
    std::vector<uint8_t> buf(static_cast<size_t>(bufferSize));
    std::string out;
    int lastPercent = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
      int32_t n = -1;
      const CDEX_ERR st = CR_RipChunk(buf.data(), &n, -1);
      EXPECT_NE(st, CDEX_ERROR);
      EXPECT_GE(n, 0);
      EXPECT_LE(n, bufferSize);
      out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
      const int pct = CR_GetPercentCompleted();
      EXPECT_GE(pct, lastPercent);
      lastPercent = pct;
      if (st == CDEX_JITTER_ERROR && jitterChunks) ++*jitterChunks;
      if (st == CDEX_RIPPING_DONE) break;
    }
    EXPECT_EQ(lastPercent, 100);
    EXPECT_EQ(CR_CloseRipper(), CDEX_OK);
    return out;
  }

  TempDir tmp;
};

TEST_F(CdLibImage, TocOfGeneratedImage) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:300", "tone440:150", "data:100", "noise:75"});
  offer({cue});
  TCDRIP r;
  ASSERT_EQ(r.GetNumCDROM(), 1);
  EXPECT_EQ(r.DriveName(), "Disc image disc.cue");
  ASSERT_EQ(r.TrackCount(), 4);
  const int starts[] = {0, 300, 450, 550};
  const int ends[] = {299, 449, 549, 624};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(r.Tracks().Objects(i).StartSector, starts[i]) << i;
    EXPECT_EQ(r.Tracks().Objects(i).EndSector, ends[i]) << i;
  }
  EXPECT_TRUE(r.IsAudioTrack(0));
  EXPECT_TRUE(r.IsAudioTrack(1));
  EXPECT_FALSE(r.IsAudioTrack(2));
  EXPECT_TRUE(r.IsAudioTrack(3));
  EXPECT_EQ(CR_GetTocEntry(2).btFlag, CR_FLAG_DATA);
  EXPECT_EQ(CR_GetTocEntry(0).btFlag, CR_FLAG_AUDIO);
  EXPECT_EQ(CR_GetTocEntry(4).dwStartSector, 625u);  // the lead-out
  EXPECT_EQ(r.TrackDuration(0), "0:04");
}

TEST_F(CdLibImage, HandWrittenCueWithPregapsAndLeadingDataTrack) {
  // A generated bin described by another cue sheet, with CRLF line ends: a mixed-mode
  // layout with the data track first and an INDEX 00 pregap before the second audio track.
  // (libcdio finds the bin by the cue sheet's own stem.)
  makeDisc(tmp.path(), "mixed", {"data:200", "music:400", "tone1000:300"});
  writeFile(tmp / "mixed.cue",
            "REM written by hand\r\n"
            "FILE \"mixed.bin\" BINARY\r\n"
            "  TRACK 01 MODE1/2352\r\n"
            "    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n"
            "    TITLE \"Two\"\r\n"
            "    INDEX 01 00:02:50\r\n"
            "  TRACK 03 AUDIO\r\n"
            "    INDEX 00 00:06:50\r\n"
            "    INDEX 01 00:08:00\r\n");
  offer({tmp / "mixed.cue"});
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 3);
  EXPECT_FALSE(r.IsAudioTrack(0));
  EXPECT_EQ(r.Tracks().Objects(1).StartSector, 200);
  EXPECT_EQ(r.Tracks().Objects(1).EndSector, 599);  // the pregap belongs to the track before
  EXPECT_EQ(r.Tracks().Objects(2).StartSector, 600);
  EXPECT_EQ(r.Tracks().Objects(2).EndSector, 899);
  // 0 -> 512, 200 -> A 350 (0:04:50, 1074), 600 -> A 750 (0:10:00, 2560)
  EXPECT_EQ(r.DiscID(), "001032");
}

TEST_F(CdLibImage, CueSheetWhoseDataFileHasAnotherName) {
  makeDisc(tmp.path(), "data", {"music:120", "tone440:80"});
  const std::string bin = readFile(tmp / "data.bin");
  fs::create_directories(tmp / "sheets");
  writeFile(tmp / "sheets" / "Album Name.cue",
            "FILE \"../data.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n    INDEX 01 00:01:45\r\n");
  offer({tmp / "sheets" / "Album Name.cue"});
  TCDRIP r;
  EXPECT_EQ(r.DriveName(), "Disc image Album Name.cue");
  ASSERT_EQ(r.TrackCount(), 2);
  EXPECT_EQ(r.Tracks().Objects(1).StartSector, 120);
  EXPECT_EQ(r.Tracks().Objects(1).EndSector, 199);
  EXPECT_TRUE(ripRange(120, 199) == bin.substr(120 * 2352, 80 * 2352));
}

TEST_F(CdLibImage, SeveralImagesAreSeveralDrives) {
  const auto a = makeDisc(tmp.path(), "a", {"music:100"});
  const auto b = makeDisc(tmp.path(), "b", {"music:100", "music:200"});
  offer({a, b});
  TCDRIP r;
  ASSERT_EQ(r.GetNumCDROM(), 2);
  r.SelectDrive(1);
  EXPECT_EQ(r.DriveName(), "Disc image b.cue");
  EXPECT_EQ(r.TrackCount(), 2);
  r.SelectDrive(0);
  EXPECT_EQ(r.TrackCount(), 1);
  r.SelectDrive(2);  // refused: keeps drive 0
  EXPECT_EQ(r.CDRomNum(), 0);
  EXPECT_EQ(r.TrackCount(), 1);
}

TEST_F(CdLibImage, AddingRefusesMissingPathsAndGarbageImagesHaveNoDisc) {
  EXPECT_EQ(CR_AddDrive((tmp / "nothing.cue").c_str()), CDEX_ERROR);
  writeFile(tmp / "junk.cue", std::string("\x01\x02 not a cue sheet\n", 20));
  offer({tmp / "junk.cue"});
  TCDRIP r;
  EXPECT_EQ(r.GetNumCDROM(), 1);
  EXPECT_EQ(r.TrackCount(), 0);
  EXPECT_EQ(CR_ReadToc(), CDEX_ERROR);
}

TEST_F(CdLibImage, ExtractionDeliversExactlyTheRangeInclusive) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:200", "noise:173", "tone440:90"});
  const std::string bin = readFile(tmp / "disc.bin");
  offer({cue});
  TCDRIP r;
  for (const int32_t jitter : {CR_TRUE, CR_FALSE}) {
    CDRipParams().bJitterCorrection = jitter;
    ASSERT_TRUE(r.ApplyParameters());
    int jitterChunks = 0;
    const std::string got = ripRange(200, 372, &jitterChunks);
    ASSERT_EQ(got.size(), 173u * 2352u);
    EXPECT_TRUE(got == bin.substr(200 * 2352, 173 * 2352)) << "jitter " << jitter;
    EXPECT_EQ(jitterChunks, 0);
    EXPECT_EQ(CR_GetNumberOfJitterErrors(), 0);
  }
  // A single sector, and the last sector of the disc.
  EXPECT_TRUE(ripRange(5, 5) == bin.substr(5 * 2352, 2352));
  EXPECT_TRUE(ripRange(462, 462) == bin.substr(462 * 2352, 2352));
}

TEST_F(CdLibImage, OpenRipperRefusesBadRangesAndOneRipperAtATime) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:100"});
  offer({cue});
  TCDRIP r;
  int32_t size = 0;
  EXPECT_EQ(CR_OpenRipper(&size, 50, 100), CDEX_ERROR);  // past the lead-out
  EXPECT_EQ(CR_OpenRipper(&size, 60, 50), CDEX_ERROR);
  EXPECT_EQ(CR_OpenRipper(&size, -1, 50), CDEX_ERROR);
  ASSERT_EQ(CR_OpenRipper(&size, 0, 99), CDEX_OK);
  EXPECT_EQ(CR_OpenRipper(&size, 0, 99), CDEX_ERROR);
  EXPECT_EQ(CR_SetActiveCDROM(0), CDEX_ERROR);  // no drive change in the middle of a rip
  EXPECT_EQ(CR_CloseRipper(), CDEX_OK);
  EXPECT_EQ(CR_CloseRipper(), CDEX_ERROR);
  uint8_t b[4];
  int32_t n = 0;
  EXPECT_EQ(CR_RipChunk(b, &n, -1), CDEX_ERROR);
}

TEST_F(CdLibImage, ParameterRecordRoundTripsAndRefusesUnknownFormats) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:100"});
  offer({cue});
  CR_Init();
  CDROMPARAMS p{};
  ASSERT_EQ(CR_GetCDROMParameters(&p), CDEX_OK);
  EXPECT_EQ(p.bJitterCorrection, CR_TRUE);
  p.reserved3[2] = 0x5A;  // bytes the library does not use pass through
  p.nOutputFormat = MONO22050;
  ASSERT_EQ(CR_SetCDROMParameters(&p), CDEX_OK);
  CDROMPARAMS back{};
  ASSERT_EQ(CR_GetCDROMParameters(&back), CDEX_OK);
  EXPECT_EQ(std::memcmp(&p, &back, sizeof p), 0);
  p.nOutputFormat = 6;
  EXPECT_EQ(CR_SetCDROMParameters(&p), CDEX_ERROR);
}

TEST_F(CdLibImage, TheInclusiveEndHoldsForEveryRangeLengthAroundTheChunkSize) {
  const auto cue = makeDisc(tmp.path(), "disc", {"noise:300"});
  const std::string bin = readFile(tmp / "disc.bin");
  offer({cue});
  TCDRIP r;
  int32_t chunkBytes = 0;
  ASSERT_EQ(CR_OpenRipper(&chunkBytes, 0, 0), CDEX_OK);
  CR_CloseRipper();
  const int32_t chunk = chunkBytes / 2352;  // sectors a chunk holds
  ASSERT_GT(chunk, 2);
  for (const int32_t jitter : {CR_TRUE, CR_FALSE}) {
    CDRipParams().bJitterCorrection = jitter;
    ASSERT_TRUE(r.ApplyParameters());
    for (const int32_t length : {1, 2, chunk - 1, chunk, chunk + 1, 2 * chunk, 2 * chunk + 2, 3 * chunk - 1}) {
      const int32_t start = 17;
      const std::string got = ripRange(start, start + length - 1);
      ASSERT_EQ(got.size(), static_cast<size_t>(length) * 2352u) << "length " << length << " jitter " << jitter;
      EXPECT_TRUE(got == bin.substr(static_cast<size_t>(start) * 2352, static_cast<size_t>(length) * 2352))
          << "length " << length;
    }
  }
}

TEST_F(CdLibImage, TheSheetsFileLineDecidesWhichDataFileIsRead) {
  // The sheet names "Real Data.bin"; a stale "album.bin" lies beside it under the sheet's name.
  makeDisc(tmp.path(), "real", {"noise:60"});
  makeDisc(tmp.path(), "stale", {"tone440:60"});
  fs::rename(tmp / "real.bin", tmp / "Real Data.bin");
  fs::rename(tmp / "stale.bin", tmp / "album.bin");
  const std::string sheet = "FILE \"Real Data.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  writeFile(tmp / "album.cue", sheet);
  const std::string real = readFile(tmp / "Real Data.bin"), stale = readFile(tmp / "album.bin");
  offer({tmp / "album.cue"});
  {
    TCDRIP r;
    ASSERT_EQ(r.TrackCount(), 1);
    EXPECT_EQ(r.ImageDataFile(), (tmp / "Real Data.bin").string());
    EXPECT_TRUE(ripRange(0, 59) == real);
  }
  // Written on another system: the name's case differs from the file's.
  fs::rename(tmp / "Real Data.bin", tmp / "REAL DATA.BIN");
  CR_DeInit();
  offer({tmp / "album.cue"});
  {
    TCDRIP r;
    ASSERT_EQ(r.TrackCount(), 1);
    EXPECT_EQ(r.ImageDataFile(), (tmp / "REAL DATA.BIN").string());
    EXPECT_TRUE(ripRange(0, 59) == real);
  }
  // Only when the named file is not there at all is the file named like the sheet read.
  fs::remove(tmp / "REAL DATA.BIN");
  CR_DeInit();
  offer({tmp / "album.cue"});
  {
    TCDRIP r;
    ASSERT_EQ(r.TrackCount(), 1);
    EXPECT_EQ(r.ImageDataFile(), (tmp / "album.bin").string());
    EXPECT_TRUE(ripRange(0, 59) == stale);
  }
  fs::remove(tmp / "album.bin");
  CR_DeInit();
  offer({tmp / "album.cue"});
  TCDRIP r;
  EXPECT_EQ(r.TrackCount(), 0);
  EXPECT_NE(r.DiscProblem().find("Real Data.bin"), std::string::npos) << r.DiscProblem();
  EXPECT_EQ(r.ImageDataFile(), "");
}

TEST_F(CdLibImage, ADataFileThatIsNotARegularFileIsRefusedWithoutWaiting) {
  writeFile(tmp / "fifo.cue", "FILE \"pipe.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  ASSERT_EQ(mkfifo((tmp / "pipe.bin").c_str(), 0600), 0);  // opening it would wait for a writer
  writeFile(tmp / "dir.cue", "FILE \"folder.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  fs::create_directories(tmp / "folder.bin");
  writeFile(tmp / "fifo.toc", "CD_DA\nTRACK AUDIO\nFILE \"pipe.bin\" 0 00:01:00\n");
  offer({tmp / "fifo.cue", tmp / "dir.cue", tmp / "fifo.toc"});
  TCDRIP r;
  for (int drive = 0; drive < 3; ++drive) {
    r.SelectDrive(drive);
    EXPECT_EQ(r.TrackCount(), 0) << drive;
    EXPECT_NE(r.DiscProblem().find("not a regular file"), std::string::npos) << drive << ": " << r.DiscProblem();
  }
}

TEST_F(CdLibImage, ATocFilesDataIsFoundBesideItWhateverTheCurrentFolder) {
  makeDisc(tmp.path(), "disc", {"noise:75", "tone440:75"});
  const std::string bin = readFile(tmp / "disc.bin");
  fs::create_directories(tmp / "elsewhere");
  // A file of the same name in the current folder must not be the one read.
  writeFile(tmp / "elsewhere" / "disc.bin", std::string(bin.size(), '\x55'));
  writeFile(tmp / "disc.toc",
            "CD_DA\n// two tracks\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:01:00\n"
            "TRACK AUDIO\nAUDIOFILE disc.bin 00:01:00 00:01:00\n");
  const fs::path before = fs::current_path();
  fs::current_path(tmp / "elsewhere");
  offer({tmp / "disc.toc"});
  TCDRIP r;
  fs::current_path(before);
  ASSERT_EQ(r.TrackCount(), 2) << r.DiscProblem();
  EXPECT_EQ(r.Tracks().Objects(1).StartSector, 75);
  EXPECT_EQ(r.ImageDataFile(), (tmp / "disc.bin").string());
  EXPECT_TRUE(ripRange(0, 149) == bin);
}

TEST_F(CdLibImage, AnImageThatCrashesItsReaderIsNoDiscAndTheProgramLivesOn) {
  // This TOC file makes libcdio divide by zero while it opens it.
  makeDisc(tmp.path(), "data", {"music:75"});
  writeFile(tmp / "crash.toc", "TRACK\nFILE data.bin");
  const auto good = makeDisc(tmp.path(), "good", {"music:100"});
  offer({tmp / "crash.toc", good});
  TCDRIP r;
  EXPECT_EQ(r.TrackCount(), 0);
  EXPECT_EQ(CR_ReadToc(), CDEX_ERROR);
  EXPECT_NE(r.DiscProblem().find("damaged"), std::string::npos) << r.DiscProblem();
  r.SelectDrive(1);
  EXPECT_EQ(r.TrackCount(), 1);  // still here, and the other drive still reads
  EXPECT_EQ(r.DiscProblem(), "");
}

TEST_F(CdLibImage, ATocThatCannotBeTrueIsNoDiscWithTheReason) {
  // Track 2 starts past the end of the data: libcdio puts the lead-out before it.
  makeDisc(tmp.path(), "short", {"music:100"});
  writeFile(tmp / "short.cue",
            "FILE \"short.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n");
  // Starts that go backwards.
  makeDisc(tmp.path(), "back", {"music:300"});
  writeFile(tmp / "back.cue",
            "FILE \"back.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n  TRACK 03 AUDIO\n    INDEX 01 00:01:00\n");
  // Two tracks that start at the same sector: an empty track no CD holds.
  makeDisc(tmp.path(), "same", {"music:300"});
  writeFile(tmp / "same.cue",
            "FILE \"same.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n  TRACK 03 AUDIO\n    INDEX 01 00:01:00\n");
  offer({tmp / "short.cue", tmp / "back.cue", tmp / "same.cue"});
  TCDRIP r;
  for (int drive = 0; drive < 3; ++drive) {
    r.SelectDrive(drive);
    EXPECT_EQ(r.TrackCount(), 0) << drive;
    EXPECT_EQ(CR_GetNumTocEntries(), 0);
    // Refused by the cue reader itself or by the check of the table it gives: a reason either way.
    const std::string why = r.DiscProblem();
    EXPECT_TRUE(why.find("cannot be true") != std::string::npos || why.find("cannot be read: track") != std::string::npos)
        << drive << ": " << why;
  }
}

TEST_F(CdLibImage, AnImageLongerThanACdCanBeIsRefused) {
  // Sparse data files: 99:59:74 is the last sector a CD can address (LSN 449849).
  for (const auto& [name, sectors] : {std::pair<std::string, uintmax_t>{"full", 449850}, {"over", 449851}}) {
    writeFile(tmp / (name + ".cue"), "FILE \"" + name + ".bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    writeFile(tmp / (name + ".bin"), "");
    fs::resize_file(tmp / (name + ".bin"), sectors * 2352);
  }
  offer({tmp / "full.cue", tmp / "over.cue"});
  TCDRIP r;
  EXPECT_EQ(r.TrackCount(), 1);
  EXPECT_EQ(r.Tracks().Objects(0).EndSector, 449849);
  r.SelectDrive(1);
  EXPECT_EQ(r.TrackCount(), 0);
  EXPECT_NE(r.DiscProblem().find("99:59:74"), std::string::npos) << r.DiscProblem();
}

TEST_F(CdLibImage, UnreadableSectorsAreJitterErrorsAndTheFileIsFinished) {
  makeDisc(tmp.path(), "disc", {"music:100", "tone440:100"});
  const std::string bin = readFile(tmp / "disc.bin");
  // A TOC file that gives the tracks their lengths, over a data file that lacks the last 30
  // sectors.
  fs::resize_file(tmp / "disc.bin", 170 * 2352);
  writeFile(tmp / "short.toc", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:01:25\n"
                                "TRACK AUDIO\nFILE \"disc.bin\" 00:01:25 00:01:25\n");
  offer({tmp / "short.toc"});
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 2) << r.DiscProblem();
  ASSERT_EQ(r.Tracks().Objects(1).EndSector, 199);
  ASSERT_TRUE(r.JitterCorrect());  // paranoia's full mode would retry such sectors for ever
  r.WriteWAV = true;
  const fs::path out = tmp / "Track02.wav";
  r.RipTrack(2, out.string());
  const std::string wav = readFile(out);
  ASSERT_EQ(wav.size(), 44u + 100u * 2352u);
  EXPECT_TRUE(wav.substr(44, 70 * 2352) == bin.substr(100 * 2352, 70 * 2352));
  EXPECT_TRUE(wav.substr(44 + 70 * 2352) == std::string(30 * 2352, '\0'));  // left silent
  EXPECT_EQ(r.JitterErrorCount(), 30);
  // The last chunk holds damage: its line is there, naming the last damaged sector.
  ASSERT_FALSE(r.JitterLog().empty());
  EXPECT_EQ(r.JitterLog().back(), "199 99");

  // At the library: the damaged last chunk says so first, and only the next call ends.
  int32_t size = 0;
  ASSERT_EQ(CR_OpenRipper(&size, 190, 199), CDEX_OK);
  std::vector<uint8_t> buf(static_cast<size_t>(size));
  int32_t n = 0;
  EXPECT_EQ(CR_RipChunk(buf.data(), &n, -1), CDEX_JITTER_ERROR);
  EXPECT_EQ(n, 10 * 2352);
  int32_t first = 0, second = 0;
  CR_GetLastJitterErrorPosition(&first, &second);
  EXPECT_EQ(first, 199);
  EXPECT_EQ(second, 9);
  EXPECT_EQ(CR_RipChunk(buf.data(), &n, -1), CDEX_RIPPING_DONE);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(CR_GetNumberOfJitterErrors(), 10);
  CR_CloseRipper();
}

TEST_F(CdLibImage, AnErrorMessageOfLibcdioDoesNotEndTheProcess) {
  // libcdio reports a failed read of an image's data file (a folder, an I/O error) through its
  // log with an error message, on which its own handler calls exit(): the program would die in
  // the middle of a file. The library's handler lets the read's status speak instead.
  const auto cue = makeDisc(tmp.path(), "disc", {"music:60"});
  const std::string bin = readFile(tmp / "disc.bin");
  offer({cue});
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 1);
  cdio_error("fread (): %s", "Is a directory");
  cdio_log(CDIO_LOG_ERROR, "another one");
  EXPECT_TRUE(ripRange(0, 59) == bin);  // still here, and reading
}

TEST_F(CdLibImage, ADataTrackRippedAsAudioFailsAtOnce) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:100", "data:300", "music:50"});
  offer({cue});
  TCDRIP r;
  ASSERT_FALSE(r.IsAudioTrack(1));
  int32_t size = 0;
  EXPECT_EQ(CR_OpenRipper(&size, 100, 399), CDEX_ERROR);
  EXPECT_EQ(CR_OpenRipper(&size, 90, 110), CDEX_ERROR);  // a range that reaches into it
  r.RipTrack(2, (tmp / "Track02.wav").string());
  EXPECT_FALSE(fs::exists(tmp / "Track02.wav"));
  EXPECT_EQ(r.OutputFileName(), "");
  EXPECT_TRUE(ripRange(400, 449).size() == 50u * 2352u);  // the audio after it still reads
}

// Counts sign changes of one channel: twice the dominant frequency of a clean tone.
double crossingsPerSecond(const std::string& pcm, int channels, int rate, int channel) {
  const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
  const size_t frames = pcm.size() / 2 / static_cast<size_t>(channels);
  int crossings = 0;
  for (size_t i = 1; i < frames; ++i) {
    const int a = s[(i - 1) * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
    const int b = s[i * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
    if ((a < 0) != (b < 0)) ++crossings;
  }
  return crossings * static_cast<double>(rate) / static_cast<double>(frames);
}

TEST_F(CdLibImage, EveryOutputFormatHasItsRateChannelsAndLength) {
  const auto cue = makeDisc(tmp.path(), "disc", {"tone440:300"});
  const std::string bin = readFile(tmp / "disc.bin");
  offer({cue});
  TCDRIP r;
  struct Case {
    TOutputFormat format;
    int channels, rate;
  };
  for (const Case c : {Case{STEREO44100, 2, 44100}, Case{MONO44100, 1, 44100}, Case{STEREO22050, 2, 22050},
                       Case{MONO22050, 1, 22050}, Case{STEREO11025, 2, 11025}, Case{MONO11025, 1, 11025}}) {
    r.ApplyOutputFormat(c.format);
    ASSERT_TRUE(r.ApplyParameters());
    const std::string got = ripRange(0, 299);
    const size_t frames = 300u * 588u * static_cast<size_t>(c.rate) / 44100u;
    ASSERT_EQ(got.size(), frames * static_cast<size_t>(c.channels) * 2) << int(c.format);
    // The 440 Hz tone survives downmix and rate conversion.
    EXPECT_NEAR(crossingsPerSecond(got, c.channels, c.rate, 0), 880.0, 25.0) << int(c.format);
    if (c.format == MONO44100) {
      const auto* in = reinterpret_cast<const int16_t*>(bin.data());
      const auto* out = reinterpret_cast<const int16_t*>(got.data());
      for (size_t i = 0; i < frames; i += 997) EXPECT_EQ(out[i], (in[2 * i] + in[2 * i + 1]) / 2);
    }
  }
}

TEST_F(CdLibImage, EjectedImageHasNoDiscUntilTheTrayCloses) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:100", "music:100"});
  offer({cue});
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 2);
  EXPECT_EQ(r.EjectCD(true), CDEX_OK);
  r.SelectDrive(0);
  EXPECT_EQ(r.TrackCount(), 0);
  EXPECT_EQ(r.DiscID(), "000000");
  int32_t size = 0;
  EXPECT_EQ(CR_OpenRipper(&size, 0, 10), CDEX_ERROR);
  EXPECT_EQ(r.EjectCD(false), CDEX_OK);
  r.SelectDrive(0);
  EXPECT_EQ(r.TrackCount(), 2);
}

// The starts and lengths mkdisc printed for each track: "NN kind first last".
std::vector<std::pair<int, int>> layout(const std::string& mkdiscOut) {
  std::vector<std::pair<int, int>> out;
  for (const std::string& l : lines(mkdiscOut)) {
    std::istringstream in(l);
    std::string num, kind;
    int first = 0, last = 0;
    in >> num >> kind >> first >> last;
    out.emplace_back(first, last);
  }
  return out;
}

// A WAVE header for `data` bytes of PCM in the given shape.
std::string waveHeader(uint32_t data, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = 1) {
  std::string h = "RIFF";
  auto le = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) h += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  le(36 + data, 4);
  h += "WAVEfmt ";
  le(16, 4);
  le(tag, 2);
  le(channels, 2);
  le(rate, 4);
  le(rate * channels * bits / 8, 4);
  le(channels * bits / 8, 2);
  le(bits, 2);
  h += "data";
  le(data, 4);
  return h;
}

TEST_F(CdLibImage, ImagesOfWaveAndFlacFilesRipAsTheirAudioAndEndWhereItEnds) {
  // The same disc as raw sectors (the reference), as a RIFF WAVE file and as a FLAC file.
  const std::vector<std::string> tracks{"music:300", "tone440:151", "noise:77"};
  const auto expected = layout(run(shellQuote(MKDISC_PATH) + " " + shellQuote((tmp / "ref.cue").string()) +
                                   " music:300 tone440:151 noise:77").out);
  ASSERT_EQ(expected.size(), 3u);
  const std::string bin = readFile(tmp / "ref.bin");
  makeDisc(tmp.path(), "wave", tracks, "--riff");
  makeDisc(tmp.path(), "flac", tracks, "--flac");
  ASSERT_NE(readFile(tmp / "flac.cue").find("\"flac.flac\" WAVE"), std::string::npos);
  offer({tmp / "wave.cue", tmp / "flac.cue"});
  TCDRIP r;
  for (int drive = 0; drive < 2; ++drive) {
    r.SelectDrive(drive);
    ASSERT_EQ(r.TrackCount(), 3) << drive << ": " << r.DiscProblem();
    for (int t = 0; t < 3; ++t) {
      EXPECT_EQ(r.Tracks().Objects(t).StartSector, expected[t].first) << drive;
      EXPECT_EQ(r.Tracks().Objects(t).EndSector, expected[t].second) << drive;  // the last one too
    }
    EXPECT_EQ(r.ImageDataFile(), (tmp / (drive == 0 ? "wave.wav" : "flac.flac")).string());
    // Every track whole, then ranges out of order (a FLAC reader seeks back and forth).
    for (int t = 0; t < 3; ++t) {
      const auto [first, last] = expected[t];
      EXPECT_TRUE(ripRange(first, last) == bin.substr(first * 2352u, (last - first + 1) * 2352u)) << drive << " " << t;
    }
    for (const auto& [first, last] : {std::pair{480, 527}, std::pair{3, 3}, std::pair{290, 310}, std::pair{527, 527}})
      EXPECT_TRUE(ripRange(first, last) == bin.substr(first * 2352u, (last - first + 1) * 2352u)) << drive << " " << first;
  }
}

TEST_F(CdLibImage, AudioFilesThatAreNoCdAudioAreRefusedWithTheReason) {
  makeDisc(tmp.path(), "disc", {"music:100"});
  const std::string pcm = readFile(tmp / "disc.bin");
  const std::string sheet = "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  struct Case {
    std::string file, type, contents, reason;
  };
  const std::vector<Case> cases{
      {"mono.wav", "WAVE", waveHeader(static_cast<uint32_t>(pcm.size()), 1, 44100, 16) + pcm, "16-bit stereo"},
      {"hi.wav", "WAVE", waveHeader(static_cast<uint32_t>(pcm.size()), 2, 96000, 24) + pcm, "96000 Hz"},
      {"float.wav", "WAVE", waveHeader(static_cast<uint32_t>(pcm.size()), 2, 44100, 32, 3) + pcm, "not PCM"},
      {"bad.flac", "WAVE", "fLaC" + std::string(200, '\x7f'), "FLAC"},
      {"noise.wav", "WAVE", pcm, "neither a RIFF WAVE nor a FLAC"},
      {"song.mp3", "MP3", pcm, "neither a RIFF WAVE nor a FLAC"},
  };
  std::vector<fs::path> sheets;
  for (const Case& c : cases) {
    writeFile(tmp / c.file, c.contents);
    sheets.push_back(tmp / (c.file + ".cue"));
    writeFile(sheets.back(), "FILE \"" + c.file + "\" " + c.type + "\n" + sheet);
  }
  offer(sheets);
  TCDRIP r;
  for (size_t i = 0; i < cases.size(); ++i) {
    r.SelectDrive(static_cast<int>(i));
    EXPECT_EQ(r.TrackCount(), 0) << cases[i].file;  // never ripped as noise
    EXPECT_NE(r.DiscProblem().find(cases[i].reason), std::string::npos) << cases[i].file << ": " << r.DiscProblem();
  }
}

TEST_F(CdLibImage, SheetsWithAByteOrderMarkOrAFilePerTrackAreOneDisc) {
  const std::vector<std::string> tracks{"music:120", "tone440:80", "data:40", "noise:60"};
  const std::string plainOut = run(shellQuote(MKDISC_PATH) + " " + shellQuote((tmp / "plain.cue").string()) +
                                   " music:120 tone440:80 data:40 noise:60").out;
  const auto expected = layout(plainOut);
  const std::string bin = readFile(tmp / "plain.bin");
  makeDisc(tmp.path(), "bom", tracks, "--bom");
  makeDisc(tmp.path(), "multi", tracks, "--multi-file");
  makeDisc(tmp.path(), "multiflac", tracks, "--multi-file --flac --bom");
  offer({tmp / "bom.cue", tmp / "multi.cue", tmp / "multiflac.cue"});
  TCDRIP r;
  for (int drive = 0; drive < 3; ++drive) {
    r.SelectDrive(drive);
    ASSERT_EQ(r.TrackCount(), 4) << drive << ": " << r.DiscProblem();
    for (int t = 0; t < 4; ++t) {
      EXPECT_EQ(r.Tracks().Objects(t).StartSector, expected[t].first) << drive << " " << t;
      EXPECT_EQ(r.Tracks().Objects(t).EndSector, expected[t].second) << drive << " " << t;
    }
    EXPECT_FALSE(r.IsAudioTrack(2));
    EXPECT_TRUE(r.IsAudioTrack(3));
    // Across the boundary of two files, and the last track to its end.
    EXPECT_TRUE(ripRange(100, 150) == bin.substr(100 * 2352, 51 * 2352)) << drive;
    EXPECT_TRUE(ripRange(240, 299) == bin.substr(240 * 2352, 60 * 2352)) << drive;
  }
  r.SelectDrive(2);
  const std::string files = r.ImageDataFile();
  for (const char* f : {"multiflac-01.flac", "multiflac-02.flac", "multiflac-03.bin", "multiflac-04.flac"})
    EXPECT_NE(files.find((tmp / f).string()), std::string::npos) << files;
}

TEST_F(CdLibImage, IndexPregapAndPostgapLinesPlaceTracksAsOnTheDisc) {
  // Track 2's file opens with its 30-sector INDEX 00 stretch, heard at the end of track 1;
  // PREGAP and POSTGAP are silence that no file holds.
  makeDisc(tmp.path(), "a", {"tone440:100"});
  makeDisc(tmp.path(), "b", {"noise:130"});
  makeDisc(tmp.path(), "c", {"music:50"});
  const std::string a = readFile(tmp / "a.bin"), b = readFile(tmp / "b.bin"), c = readFile(tmp / "c.bin");
  writeFile(tmp / "gaps.cue",
            "FILE \"a.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n    POSTGAP 00:00:10\r\n"
            "FILE \"b.bin\" BINARY\r\n  TRACK 02 AUDIO\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:00:30\r\n"
            "FILE \"c.bin\" BINARY\r\n  TRACK 03 AUDIO\r\n    PREGAP 00:00:20\r\n    INDEX 01 00:00:00\r\n");
  offer({tmp / "gaps.cue"});
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 3) << r.DiscProblem();
  // Track 1: 100 sectors, 10 of postgap, then b's 30-sector INDEX 00 stretch.
  EXPECT_EQ(r.Tracks().Objects(0).EndSector, 139);
  EXPECT_EQ(r.Tracks().Objects(1).StartSector, 140);
  // b's 100 sectors after INDEX 01, then track 3's pregap, before its INDEX 01.
  EXPECT_EQ(r.Tracks().Objects(1).EndSector, 259);
  EXPECT_EQ(r.Tracks().Objects(2).StartSector, 260);
  EXPECT_EQ(r.Tracks().Objects(2).EndSector, 309);
  const std::string silence10(10 * 2352, '\0');
  EXPECT_TRUE(ripRange(0, 139) == a + silence10 + b.substr(0, 30 * 2352));
  EXPECT_TRUE(ripRange(140, 309) == b.substr(30 * 2352) + silence10 + silence10 + c);
}

TEST_F(CdLibImage, SheetsThatDescribeNoDiscAreRefusedWithTheReason) {
  makeDisc(tmp.path(), "a", {"music:100"});
  makeDisc(tmp.path(), "b", {"music:100"});
  const std::string two = "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nFILE \"b.bin\" BINARY\n";
  struct Case {
    std::string sheet, reason;
  };
  const std::vector<Case> cases{
      {two + "  TRACK 02 AUDIO\n", "no INDEX 01"},
      {two + "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", "rise"},
      {two + "  TRACK 02 AUDIO\n    INDEX 01 00:61:00\n", "bad position"},
      {two + "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n", "past the end"},  // b holds 100 sectors
      {two + "  TRACK 02 AUDIO\n    INDEX 01 00:00:50\n  TRACK 03 AUDIO\n    INDEX 01 00:00:20\n", "before the track"},
      {two + "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\nFILE \"gone.bin\" BINARY\n  TRACK 03 AUDIO\n"
             "    INDEX 01 00:00:00\n", "gone.bin is missing"},
      {two + "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n    PREGAP 99:59:00\n", "99:59:74"},
      {"\xEF\xBB\xBF" "TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", "before any FILE"},
  };
  std::vector<fs::path> sheets;
  for (size_t i = 0; i < cases.size(); ++i) {
    sheets.push_back(tmp / ("bad" + std::to_string(i) + ".cue"));
    writeFile(sheets.back(), cases[i].sheet);
  }
  offer(sheets);
  TCDRIP r;
  for (size_t i = 0; i < cases.size(); ++i) {
    r.SelectDrive(static_cast<int>(i));
    EXPECT_EQ(r.TrackCount(), 0) << i;
    EXPECT_NE(r.DiscProblem().find(cases[i].reason), std::string::npos) << i << ": " << r.DiscProblem();
  }
}

TEST_F(CdLibImage, AnImageReplacedOnDiskIsListedAgainAndNeverReadWithTheOldTable) {
  // For each kind of sheet (libcdio's single-file reader, our own for several files), the data
  // is rewritten in place, then replaced by another file, while the disc is listed.
  for (const std::string extra : {"", "--multi-file"}) {
    CR_DeInit();
    TempDir dir;
    const auto cue = makeDisc(dir.path(), "disc", {"music:100", "tone440:100"}, extra);
    const fs::path data = dir / (extra.empty() ? "disc.bin" : "disc-02.bin");
    offer({cue});
    TCDRIP r;
    ASSERT_EQ(r.TrackCount(), 2) << extra;
    const TOCENTRY before = CR_GetTocEntry(2);
    // Rewritten in place with other sound, longer: the listed handle's reads are refused
    // (silent, counted), never the new bytes under the old table.
    TempDir other;
    makeDisc(other.path(), "disc", {"noise:100", "noise:160"});
    const std::string noise = readFile(other / "disc.bin");
    writeFile(data, extra.empty() ? noise : noise.substr(100 * 2352));
    int jitter = 0;
    const std::string got = ripRange(100, 199, &jitter);
    EXPECT_TRUE(got == std::string(100 * 2352, '\0')) << extra;
    EXPECT_GT(jitter, 0) << extra;
    // Opened afresh for playing, against the listed table: refused.
    cdrip_internal::Drive* d = cdrip_internal::active();
    ASSERT_NE(d, nullptr);
    cdrip_internal::g_openProblem.clear();
    CdIo_t* p = cdrip_internal::openImage(*d);
    EXPECT_EQ(p, nullptr) << extra;
    EXPECT_NE(cdrip_internal::g_openProblem.find("changed on disk"), std::string::npos) << cdrip_internal::g_openProblem;
    if (p) cdio_destroy(p);
    // Listed again, the table is the file's, and so are the bytes.
    r.SelectDrive(0);
    ASSERT_EQ(r.TrackCount(), 2) << extra << ": " << r.DiscProblem();
    EXPECT_EQ(CR_GetTocEntry(2).dwStartSector, 260u) << extra;
    EXPECT_NE(CR_GetTocEntry(2).dwStartSector, before.dwStartSector);
    EXPECT_TRUE(ripRange(100, 259) == noise.substr(100 * 2352)) << extra;
    // Replaced by another file under the same name (a new inode): the same again.
    writeFile(other / "new.bin", extra.empty() ? noise.substr(0, 150 * 2352) : noise.substr(100 * 2352, 50 * 2352));
    fs::rename(other / "new.bin", data);
    EXPECT_TRUE(ripRange(100, 149, &jitter) == std::string(50 * 2352, '\0')) << extra;
    r.SelectDrive(0);
    ASSERT_EQ(r.TrackCount(), 2) << extra;
    EXPECT_EQ(r.Tracks().Objects(1).EndSector, 149) << extra;
  }
}

TEST_F(CdLibImage, TheProbeIsAFreshProcessWhateverLocksOtherThreadsHold) {
  // Another thread keeps taking the character-set converters' lock (libcdio converts the
  // sheet's CD-Text with iconv in the probe): a copy of this process made while it is held
  // would wait for it for ever. A fresh process holds no lock of ours.
  const auto cue = makeDisc(tmp.path(), "disc", {"music:75:Caf\xC3\xA9"}, "--title \"D\xC3\xA9j\xC3\xA0 vu\"");
  std::atomic<bool> stop{false};
  std::thread converter([&] {
    while (!stop) {
      iconv_t c = iconv_open("UTF-8", "ISO-8859-1");
      if (c != reinterpret_cast<iconv_t>(-1)) iconv_close(c);
    }
  });
  offer({cue});
  TCDRIP r;
  for (int i = 0; i < 40; ++i) {
    // Touched, the sheet is probed anew at every listing.
    fs::last_write_time(cue, fs::last_write_time(cue) + std::chrono::seconds(1));
    r.SelectDrive(0);
    ASSERT_EQ(r.TrackCount(), 1) << i << ": " << r.DiscProblem();
  }
  stop = true;
  converter.join();
}

TEST_F(CdLibImage, AMissingTemporaryFolderDoesNotStopImagesFromOpening) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:100"});
  const auto multi = makeDisc(tmp.path(), "multi", {"music:100", "music:50"}, "--multi-file");
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  for (const fs::path& t : {tmp / "gone", tmp / "disc.bin"}) {  // missing, and not a folder
    CR_DeInit();
    setenv("TMPDIR", t.c_str(), 1);
    offer({cue, multi});
    {
      TCDRIP r;
      EXPECT_EQ(r.TrackCount(), 1) << t << ": " << r.DiscProblem();
      r.SelectDrive(1);
      EXPECT_EQ(r.TrackCount(), 2) << t << ": " << r.DiscProblem();
    }
    if (old) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");
    // And tessaly-rip with it.
    const CommandResult list = run("TMPDIR=" + shellQuote(t.string()) + " " + shellQuote(TESSALY_RIP_PATH) + " " +
                                   shellQuote(multi.string()) + " --list");
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("Track02 02 Audio 100 149"), std::string::npos) << list.out;
  }
}

TEST_F(CdLibImage, AnInstalledProgramFindsTheProbeWhereTheInstallationPutsIt) {
  // The programs' layout under any prefix: bin/ and libexec/tessaly/, away from the build tree.
  const auto cue = makeDisc(tmp.path(), "disc", {"music:100", "tone440:50"});
  const fs::path prefix = tmp / "prefix";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "libexec" / "tessaly");
  fs::copy_file(TESSALY_RIP_PATH, prefix / "bin" / "tessaly-rip");
  fs::copy_file(fs::path(TESSALY_RIP_PATH).parent_path() / "tessaly-image-probe",
                prefix / "libexec" / "tessaly" / "tessaly-image-probe");
  const std::string list = shellQuote((prefix / "bin" / "tessaly-rip").string()) + " " + shellQuote(cue.string()) + " --list";
  const CommandResult found = run(list);
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_NE(found.out.find("Track02 02 Audio 100 149"), std::string::npos) << found.out;
  // Without it, the image is refused with the reason, never read unchecked.
  fs::remove(prefix / "libexec" / "tessaly" / "tessaly-image-probe");
  const CommandResult missing = run(list);
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.err.find("tessaly-image-probe is not installed"), std::string::npos) << missing.err;
}

TEST_F(CdLibImage, TheTextsOfASheetReadByOurOwnReaderReachCdText) {
  // The same texts in a sheet libcdio reads itself and in one our reader hands over.
  const std::vector<std::string> tracks{"music:100:First One", "tone440:50:Caf\xC3\xA9"};
  makeDisc(tmp.path(), "plain", tracks, "--title Album --performer Band");
  makeDisc(tmp.path(), "multi", tracks, "--multi-file --flac --title Album --performer Band");
  offer({tmp / "plain.cue", tmp / "multi.cue"});
  TCDRIP r;
  TCdTextInfo plain, multi;
  ASSERT_TRUE(CR_ReadCdText(2, &plain));
  r.SelectDrive(1);
  ASSERT_EQ(r.TrackCount(), 2) << r.DiscProblem();
  ASSERT_TRUE(CR_ReadCdText(2, &multi));
  ASSERT_GE(multi.title.size(), 3u);
  EXPECT_EQ(multi.title[0], "Album");
  EXPECT_EQ(multi.title[1], "First One");
  EXPECT_EQ(multi.title, plain.title);
  EXPECT_EQ(multi.performer, plain.performer);
}

}  // namespace
