// SPDX-License-Identifier: GPL-3.0-or-later
// The CD library over a drive: libcdio's Linux driver and paranoia's full mode, run against the
// virtual drive (libvdrive.so, preloaded into each child process) holding a fixture disc.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "tests/sound_server.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

// Track layout of the disc below: 0..1499, 1500..2624, 2625..3524 (lead-out 3525).
class VirtualDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    // Music and noise, never a pure tone: paranoia could lock onto a wrong period of a tone.
    cue_ = makeDisc(dir_.path(), "disc", {"music0:20s:One", "noise:15s:Two", "music2:12s:Three"});
    bin_ = readFile(dir_ / "disc.bin");
  }

  // A command line with the drive's environment: the disc, a state file, and `env`.
  std::string withDrive(const std::string& env, const std::string& command) const {
    return "env VDRIVE_CUE=" + shellQuote(cue_.string()) + " VDRIVE_STATE=" + shellQuote((dir_ / "state").string()) +
           " " + env + " LD_PRELOAD=" + shellQuote(VDRIVE_PRELOAD) + " " + command;
  }
  CommandResult probe(const std::string& env, const std::string& args) const {
    return run(withDrive(env, shellQuote(VDRIVE_PROBE_PATH) + " " + args));
  }
  // Rips sectors first..last through the probe; returns its output, the audio in `pcm`.
  std::string rip(const std::string& env, int first, int last, std::string& pcm, const std::string& extra = "") {
    const fs::path out = dir_ / "rip.raw";
    const CommandResult r = probe(env, "-- rip " + std::to_string(first) + " " + std::to_string(last) + " " +
                                           shellQuote(out.string()) + " " + extra);
    pcm = readFile(out);
    return r.out + r.err;
  }
  std::string image(int first, int last) const {
    return bin_.substr(static_cast<size_t>(first) * 2352, static_cast<size_t>(last - first + 1) * 2352);
  }
  int stateValue(const std::string& key) const {
    std::smatch m;
    const std::string s = readFile(dir_ / "state");
    return std::regex_search(s, m, std::regex(key + "=(\\d+)")) ? std::stoi(m[1]) : -1;
  }

  TempDir dir_;
  fs::path cue_;
  std::string bin_;
};

TEST_F(VirtualDrive, TessalyRipListsTheDriveByItsInquiryNameWithTheImagesRows) {
  const CommandResult drive = run(withDrive("", shellQuote(TESSALY_RIP_PATH) + " --list"));
  ASSERT_EQ(drive.exitCode, 0) << drive.err;
  EXPECT_NE(drive.out.find("Drive 0: TESSALY Virtual CD-ROM 1.00\n"), std::string::npos) << drive.out;
  // The same disc as an image: the same DiscID and rows (the image's cue sheet names its
  // tracks, a drive's disc is named TrackNN, so the titles are left out).
  const CommandResult img = run(shellQuote(TESSALY_RIP_PATH) + " " + shellQuote(cue_.string()) + " --drive 0 --list");
  ASSERT_EQ(img.exitCode, 0) << img.err;
  const auto rows = [](const std::string& out) {
    std::string keep;
    const std::regex row(R"((\d\d (Audio|Data) \d+ \d+ \S+)$)");
    std::smatch m;
    for (const auto& l : lines(out))
      if (l.rfind("DiscID", 0) == 0) keep += l + "\n";
      else if (std::regex_search(l, m, row)) keep += m[1].str() + "\n";
    return keep;
  };
  EXPECT_EQ(rows(drive.out), rows(img.out));
  EXPECT_NE(drive.out.find("Track03 03 Audio 2625 3524 0:12\n"), std::string::npos) << drive.out;
}

TEST_F(VirtualDrive, EveryTrackIsExactUnderJitter) {
  // Every 7th read lands up to 32 frames off; the seed varies which read and by how much.
  for (int seed = 1; seed <= 6; ++seed) {
    const std::string env = "VDRIVE_JITTER=7:32:" + std::to_string(seed);
    for (const auto& [first, last] : {std::pair{0, 1499}, {1500, 2624}, {2625, 3524}}) {
      std::string pcm;
      const std::string out = rip(env, first, last, pcm);
      const std::string want = image(first, last);
      ASSERT_EQ(pcm.size(), want.size()) << out;
      if (last == 3524) {
        // Paranoia cannot read past the lead-out to check the disc's very last sector.
        const size_t body = want.size() - 2352;
        EXPECT_EQ(pcm.compare(0, body, want, 0, body), 0) << "seed " << seed << " track at " << first;
        size_t differ = 0;
        for (size_t i = body; i < want.size(); i += 4) differ += pcm.compare(i, 4, want, i, 4) != 0;
        EXPECT_LE(differ, 32u) << "seed " << seed;
      } else {
        EXPECT_TRUE(pcm == want) << "seed " << seed << " track at " << first << "\n" << out;
      }
    }
  }
}

TEST_F(VirtualDrive, ReadErrorsAreTheRangesOwnSectorsEachCountedOnceAndNamed) {
  std::string pcm;
  // Three unreadable sectors in the second track: the first track, read alone, is untouched.
  std::string out = rip("VDRIVE_BAD=1600-1602", 0, 1499, pcm);
  EXPECT_NE(out.find("damaged 0 first -1 last -1 errors 0"), std::string::npos) << out;
  EXPECT_TRUE(pcm == image(0, 1499));
  out = rip("VDRIVE_BAD=1600-1602", 1500, 2624, pcm);
  EXPECT_NE(out.find("damaged 3 first 1600 last 1602 errors 3"), std::string::npos) << out;
  // Exactly those sectors are wrong in the output; the ones paranoia skipped past were read.
  const std::string want = image(1500, 2624);
  ASSERT_EQ(pcm.size(), want.size());
  EXPECT_EQ(pcm.compare(0, 100 * 2352, want, 0, 100 * 2352), 0);
  EXPECT_EQ(pcm.compare(103 * 2352, std::string::npos, want, 103 * 2352), 0);
  // A second of bad sectors is 75 errors, not the events paranoia went through.
  out = rip("VDRIVE_BAD=1550-1624", 1500, 2624, pcm);
  EXPECT_NE(out.find("damaged 75 first 1550 last 1624 errors 75"), std::string::npos) << out;
}

TEST_F(VirtualDrive, ADiscChangedSinceTheListingIsRefused) {
  fs::path other = makeDisc(dir_.path(), "other", {"music3:30s"});
  CommandResult listed = probe("", "-- list");
  ASSERT_EQ(listed.exitCode, 0) << listed.out;
  const int reads = stateValue("tocreads");
  ASSERT_GT(reads, 0);
  std::string pcm;
  // Swapped right after the listing's reads of the table of contents.
  const std::string env = "VDRIVE_SWAP_CUE=" + shellQuote(other.string()) + " VDRIVE_SWAP_AFTER=" + std::to_string(reads);
  const std::string out = rip(env, 0, 1499, pcm);
  EXPECT_NE(out.find("open refused: The disc was changed: list it again"), std::string::npos) << out;
  const CommandResult play = probe(env, "-- play 1 100");
  EXPECT_NE(play.out.find("refused: The disc was changed: list it again"), std::string::npos) << play.out;
  // Unchanged, the same rip goes through.
  EXPECT_EQ(rip("", 0, 1499, pcm).find("refused"), std::string::npos);
}

TEST_F(VirtualDrive, ADriveTheUserMayNotOpenIsListedWithTheReason) {
  const CommandResult r = probe("VDRIVE_EACCES=1", "-- list");
  EXPECT_NE(r.out.find("drive 0: /dev/sr0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("no disc: No permission to read /dev/sr0 (owned by group cdrom): add your user to that group"),
            std::string::npos)
      << r.out;
}

TEST_F(VirtualDrive, TheUdevLinkAndTheDeviceAreOneDrive) {
  const CommandResult r = probe("VDRIVE_ALIAS=/dev/cdrom", "/dev/cdrom /dev/sr0 -- list");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("drive 0: TESSALY"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("drive 1:"), std::string::npos) << r.out;
  const CommandResult cli = run(withDrive("VDRIVE_ALIAS=/dev/cdrom", shellQuote(TESSALY_RIP_PATH) + " /dev/sr0 --list"));
  EXPECT_EQ(cli.out.find("Drive 1:"), std::string::npos) << cli.out;
}

// How many reads of the drive failed, by its log.
int failedReads(const std::string& log) {
  int n = 0;
  for (size_t at = log.find("medium error"); at != std::string::npos; at = log.find("medium error", at + 1)) ++n;
  return n;
}

TEST_F(VirtualDrive, AnAbortInsideAChunkEndsTheRetriesAndDropsThePartialChunk) {
  const fs::path log = dir_ / "log";
  const std::string logged = " VDRIVE_LOG=" + shellQuote(log.string());
  std::string pcm;
  // Sector 1560 cannot be read and every read takes 20 ms; the callback says "cancel" at its
  // 3rd call, long before paranoia would have given the sector up.
  const std::string out = rip("VDRIVE_BAD=1560-1560 VDRIVE_DELAY_MS=20" + logged, 1500, 2624, pcm, "20 3");
  EXPECT_NE(out.find("aborted after 3 asks, chunk bytes 0"), std::string::npos) << out;
  EXPECT_TRUE(pcm.empty());
  const int aborted = failedReads(readFile(log));
  fs::remove(log);
  // Without the abort the same range is read to its end, the bad sector counted, its retries
  // spent in full.
  const std::string full = rip("VDRIVE_BAD=1560-1560" + logged, 1500, 2624, pcm, "20");
  EXPECT_NE(full.find("damaged 1 first 1560 last 1560"), std::string::npos) << full;
  EXPECT_EQ(pcm.size(), image(1500, 2624).size());
  const int spent = failedReads(readFile(log));
  EXPECT_GT(spent, 2 * aborted) << "aborted " << aborted << ", spent " << spent;
}

// A bad sector at a range's very start once kept paranoia retrying for ever; now the retries
// setting bounds it: more retries, more failed reads, and the rest of the track exact.
TEST_F(VirtualDrive, ABadFirstSectorIsRetriedAsOftenAsTheSettingSays) {
  const fs::path log = dir_ / "log";
  std::vector<int> failed;
  for (const int retries : {1, 10}) {
    fs::remove(log);
    std::string pcm;
    const std::string out =
        rip("VDRIVE_BAD=1500-1500 VDRIVE_LOG=" + shellQuote(log.string()), 1500, 2624, pcm, std::to_string(retries));
    EXPECT_NE(out.find("damaged 1 first 1500 last 1500"), std::string::npos) << out;
    const std::string want = image(1500, 2624);
    ASSERT_EQ(pcm.size(), want.size()) << out;
    EXPECT_TRUE(pcm.substr(0, 2352) == std::string(2352, '\0'));
    EXPECT_TRUE(pcm.substr(2352) == want.substr(2352)) << retries;
    failed.push_back(failedReads(readFile(log)));
  }
  EXPECT_GT(failed[1], failed[0] + 5) << failed[0] << " " << failed[1];
}

TEST_F(VirtualDrive, TheTrayStaysOpenAcrossProcessesUntilClosed) {
  EXPECT_NE(probe("", "-- eject").out.find("eject 0"), std::string::npos);
  const CommandResult open = probe("", "-- list");
  EXPECT_NE(open.out.find("no disc"), std::string::npos) << open.out;
  EXPECT_NE(probe("", "-- close").out.find("close 0"), std::string::npos);
  const CommandResult closed = probe("", "-- list");
  EXPECT_NE(closed.out.find("toc 3 3525"), std::string::npos) << closed.out;
}

TEST_F(VirtualDrive, AnalogPlaybackWithoutASoundServerPlaysAndStopsTheDrive) {
  const fs::path log = dir_ / "log";
  // No sound server answers at this address: the drive's own output plays.
  const CommandResult r = probe("PULSE_SERVER=unix:" + shellQuote((dir_ / "none").string()) +
                                    " VDRIVE_LOG=" + shellQuote(log.string()),
                                "-- play 2 1500");
  EXPECT_NE(r.out.find("play 0 track 2"), std::string::npos) << r.out << r.err;
  const std::string calls = readFile(log);
  EXPECT_NE(calls.find("play 1500-2624"), std::string::npos) << calls;
  EXPECT_NE(calls.find("stop"), std::string::npos) << calls;
}

TEST_F(VirtualDrive, DigitalPlaybackFromTheDriveSoundsAsTheDisc) {
  PrivateSoundServer server;  // this process's and its children's sound server from here on
  MonitorRecorder rec(dir_ / "rec.raw");
  const CommandResult r = probe("", "-- play 2 1500");
  EXPECT_NE(r.out.find("play 0 track 2"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("stop 0"), std::string::npos) << r.out;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string heard = trimSilence(rec.stop());
  // A second and a half of track 2 was played: what sounded is its start, frame for frame.
  const std::string want = image(1500, 2624);
  EXPECT_GT(heard.size(), 44100u * 4u);
  ASSERT_LE(heard.size(), want.size());
  EXPECT_TRUE(heard == want.substr(0, heard.size())) << heard.size() << " bytes heard";
}

TEST_F(VirtualDrive, TheWindowsRowsForTheDriveAreThoseForTheImage) {
#ifndef VDRIVE_WINDOW_PATH
  GTEST_SKIP() << "built without the window";
#else
  // Every row's number, duration and the rest; the titles are left out: the image's cue sheet
  // names its tracks, the drive's disc is named TrackNN.
  const auto rows = [](const std::string& out) {
    std::vector<std::string> kept;
    for (const auto& l : lines(out))
      if (l.rfind("row ", 0) == 0) kept.push_back(l.substr(l.find('\t')));
    return kept;
  };
  const std::string quiet = "QT_QPA_PLATFORM=offscreen TESSALY_MUSICBRAINZ_URL=http://127.0.0.1:1 XDG_CONFIG_HOME=" +
                            shellQuote((dir_ / "config").string()) + " ";
  const CommandResult drive = run(withDrive(quiet, shellQuote(VDRIVE_WINDOW_PATH)));
  ASSERT_EQ(drive.exitCode, 0) << drive.err;
  EXPECT_NE(drive.out.find("drive 0: TESSALY Virtual CD-ROM 1.00\n"), std::string::npos) << drive.out;
  const CommandResult img = run("env " + quiet + shellQuote(VDRIVE_WINDOW_PATH) + " " + shellQuote(cue_.string()));
  ASSERT_EQ(img.exitCode, 0) << img.err;
  ASSERT_EQ(rows(drive.out).size(), 3u) << drive.out;
  EXPECT_EQ(rows(drive.out), rows(img.out)) << drive.out << img.out;
#endif
}

// --- tessaly-rip over the drive ---

class DriveRips : public VirtualDrive {
 protected:
  // tessaly-rip with `args` over the drive (env: the drive's faults); settings in a folder
  // of the test's own.
  CommandResult rip(const std::string& env, const std::string& args) const {
    return run(withDrive(env + " XDG_CONFIG_HOME=" + shellQuote((dir_ / "config").string()),
                         shellQuote(TESSALY_RIP_PATH) + " " + args));
  }
  CommandResult ripImage(const std::string& args) const {
    return run("env XDG_CONFIG_HOME=" + shellQuote((dir_ / "config").string()) + " " + shellQuote(TESSALY_RIP_PATH) +
               " " + shellQuote(cue_.string()) + " --drive 0 " + args);
  }
  void settings(const std::string& text) const {
    fs::create_directories(dir_ / "config" / "tessaly");
    writeFile(dir_ / "config" / "tessaly" / "tessaly.ini", text);
  }
  // The files of a folder, by name.
  static std::vector<fs::path> files(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
  }
  // An MP3 file decoded by mpg123: its PCM, without the WAV header.
  std::string decoded(const fs::path& mp3) const {
    const fs::path raw = dir_ / "decoded.raw";
    const CommandResult r = run("mpg123 -q -s " + shellQuote(mp3.string()) + " > " + shellQuote(raw.string()));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return readFile(raw);
  }
  static constexpr const char* kCommon = " --no-log --no-lookup --yes --name-pattern %nn% ";
};

TEST_F(DriveRips, WavIsByteExactAndMp3SampleExactAgainstTheImage) {
  for (const char* kind : {"--wav", "--mp3 --jobs 1", "--mp3 --jobs 2"}) {
    const fs::path fromDrive = dir_ / "drive", fromImage = dir_ / "image";
    fs::remove_all(fromDrive);
    fs::remove_all(fromImage);
    const CommandResult d = rip("", std::string(kind) + kCommon + "--out " + shellQuote(fromDrive.string()));
    ASSERT_EQ(d.exitCode, 0) << kind << d.err;
    const CommandResult i = ripImage(std::string(kind) + kCommon + "--out " + shellQuote(fromImage.string()));
    ASSERT_EQ(i.exitCode, 0) << kind << i.err;
    const auto a = files(fromDrive), b = files(fromImage);
    ASSERT_EQ(a.size(), 3u) << kind;
    ASSERT_EQ(b.size(), 3u) << kind;
    for (size_t n = 0; n < a.size(); ++n) {
      EXPECT_EQ(a[n].filename(), b[n].filename()) << kind;
      if (std::string(kind) == "--wav") {
        const std::string wav = readFile(a[n]);
        EXPECT_TRUE(wav == readFile(b[n])) << a[n];
        // And the disc's own bytes after the header.
        const int first[] = {0, 1500, 2625}, last[] = {1499, 2624, 3524};
        EXPECT_TRUE(wav.size() > 44 && wav.substr(44) == image(first[n], last[n])) << a[n];
      } else {
        // The tags may differ (the image's sheet names its tracks); the sound may not.
        const std::string pcm = decoded(a[n]);
        EXPECT_GT(pcm.size(), 100000u) << a[n];
        EXPECT_TRUE(pcm == decoded(b[n])) << kind << " " << a[n];
      }
    }
  }
}

TEST_F(DriveRips, ReadErrorsAreCountedOnTheirOwnTrackAndNamed) {
  const std::string bad = "VDRIVE_BAD=2700-2702";
  // One track at a time and on several cores (where the reader has moved on when the row is
  // told), the same count and the same sectors.
  for (const char* kind : {"--wav", "--mp3 --jobs 2"}) {
    const CommandResult three = rip(bad, std::string(kind) + " --tracks 2,3" + kCommon + "--out " + shellQuote((dir_ / "o").string()));
    ASSERT_EQ(three.exitCode, 0) << kind << three.err;
    EXPECT_NE(three.err.find("Track03: done, with read errors: 3 read errors (the first at sector 2700, the last at sector 2702)"),
              std::string::npos)
        << kind << three.err;
    EXPECT_EQ(three.err.find("Track02: done, with"), std::string::npos) << kind << three.err;
  }
  // Track 2 ends before them: its file is exact and nothing is said.
  const CommandResult two = rip(bad, std::string("--wav --tracks 2") + kCommon + "--out " + shellQuote((dir_ / "o").string()));
  ASSERT_EQ(two.exitCode, 0) << two.err;
  EXPECT_EQ(two.err.find("read error"), std::string::npos) << two.err;
  EXPECT_TRUE(readFile(dir_ / "o" / "02.wav").substr(44) == image(1500, 2624));
}

// Both runs, one track at a time and on several cores, spend the retries the settings give on
// a damaged sector, and hear Ctrl-C while the drive retries it.
TEST_F(DriveRips, EveryRunTakesTheRetriesSettingAndHearsCtrlCInsideAChunk) {
  const fs::path log = dir_ / "log";
  const std::string bad = "VDRIVE_BAD=1560-1560 VDRIVE_LOG=" + shellQuote(log.string());
  std::vector<int> spent;
  for (const char* kind : {"--wav", "--mp3 --jobs 2"}) {
    settings("[Drive]\nRetries=3\n");
    fs::remove(log);
    const CommandResult r = rip(bad, std::string(kind) + " --tracks 2" + kCommon + "--out " + shellQuote((dir_ / "o").string()));
    ASSERT_EQ(r.exitCode, 0) << kind << r.err;
    EXPECT_NE(r.err.find("done, with read errors: 1 read error ("), std::string::npos) << kind << r.err;
    spent.push_back(failedReads(readFile(log)));
  }
  EXPECT_EQ(spent[0], spent[1]) << "the same retries, the same reads of the damaged sector";

  for (const char* kind : {"--wav", "--mp3 --jobs 2"}) {
    // A thousand retries at 5 ms a read would take minutes; Ctrl-C at the first failed read.
    settings("[Drive]\nRetries=1000\n");
    fs::remove(log);
    const std::string command =
        withDrive(bad + " VDRIVE_DELAY_MS=5 XDG_CONFIG_HOME=" + shellQuote((dir_ / "config").string()),
                  shellQuote(TESSALY_RIP_PATH) + " " + kind + " --tracks 2" + kCommon + "--out " +
                      shellQuote((dir_ / "c").string()));
    const std::string script = command + " & pid=$!; for i in $(seq 1 2000); do grep -q 'medium error' " +
                               shellQuote(log.string()) + " 2>/dev/null && break; sleep 0.01; done; kill -INT $pid; wait $pid";
    const CommandResult r = run("sh -c " + shellQuote(script));
    EXPECT_EQ(r.exitCode, 130) << kind << r.err;
    EXPECT_NE(r.err.find("cancelled"), std::string::npos) << kind << r.err;
    const int failed = failedReads(readFile(log));
    EXPECT_GT(failed, 0) << kind;
    EXPECT_LT(failed, 200) << kind << ": the retries went on after Ctrl-C";
  }
}

}  // namespace
