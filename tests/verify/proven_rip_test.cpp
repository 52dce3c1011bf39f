// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip's proof end to end: a rip with --offset N of an image read as a drive with read
// offset N gives the disc's own samples; the rip log read back holds zlib's CRC32 of each WAV
// file's data, the reference tool's AccurateRip sums and the stand-in database's verdicts;
// --no-log writes none. Also --flac (decodes to the WAV rip's samples) and --name-pattern.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>

#include "tests/names/stand_in_server.h"
#include "tests/test_support.h"
#include "tests/verify/ar_answers.h"
#include "verify/AccurateRip.h"

using namespace testing_support;
using namespace ar_answers;

namespace {

constexpr size_t kSector = 2352;
// The disc every case rips: three tracks, 400, 300 and 350 sectors.
const int kTracks[][2] = {{0, 399}, {400, 699}, {700, 1049}};

// The image a drive with read offset N gives of `disc`: sample b of the image is sample b - N
// of the disc, silence where that lies outside it.
std::string asDriveReadsIt(const std::string& disc, int32_t offset) {
  std::string out(disc.size(), '\0');
  const int64_t samples = static_cast<int64_t>(disc.size() / 4);
  for (int64_t b = 0; b < samples; ++b) {
    const int64_t t = b - offset;
    if (t >= 0 && t < samples) out.replace(static_cast<size_t>(b) * 4, 4, disc, static_cast<size_t>(t) * 4, 4);
  }
  return out;
}

uint32_t referenceSum(const fs::path& wav, int track, int tracks, int version) {
  const CommandResult r = run("PYTHONPATH=" + shellQuote(AR_REFERENCE_DIR "/usr/lib/python3/dist-packages") +
                              " python3 " + shellQuote(AR_REFERENCE_DIR "/usr/bin/accuraterip-checksum") +
                              " --accuraterip-v" + std::to_string(version) + " " + shellQuote(wav.string()) + " " +
                              std::to_string(track) + " " + std::to_string(tracks));
  if (r.exitCode != 0 || r.out.size() < 8) throw std::runtime_error("accuraterip-checksum failed: " + r.err + r.out);
  return static_cast<uint32_t>(std::stoul(r.out, nullptr, 16));
}

std::string hex8(uint32_t v) {
  char b[9];
  std::snprintf(b, sizeof b, "%08X", v);
  return b;
}

// The value of "  <key>: <value>" in each "Track N" part of a log, by track number.
std::map<int, std::map<std::string, std::string>> trackParts(const std::string& log) {
  std::map<int, std::map<std::string, std::string>> parts;
  int track = 0;
  for (const std::string& line : lines(log)) {
    if (line.rfind("Track ", 0) == 0 && line.find(':') == std::string::npos) {
      track = std::stoi(line.substr(6));
    } else if (line.empty() || line[0] != ' ') {
      track = 0;
    } else if (track > 0) {
      const auto colon = line.find(": ");
      if (colon != std::string::npos) parts[track][line.substr(2, colon - 2)] = line.substr(colon + 2);
    }
  }
  return parts;
}

class ProvenRip : public ::testing::Test {
 protected:
  void SetUp() override {
    cue = makeDisc(tmp.path(), "disc", {"noise:400", "music0:300", "music1:350"});
    disc = readFile(tmp / "disc.bin");
    ASSERT_EQ(disc.size(), 1050 * kSector);
  }
  CommandResult rip(const std::string& args, const std::string& server = "http://127.0.0.1:1") {
    return run("env HOME=" + shellQuote((tmp / "home").string()) + " XDG_CONFIG_HOME=" +
               shellQuote((tmp / "config").string()) + " TESSALY_ACCURATERIP_URL=" + shellQuote(server) + " " +
               shellQuote(TESSALY_RIP_PATH) + " " + args + " --yes </dev/null");
  }
  std::string q(const fs::path& p) const { return shellQuote(p.string()); }
  std::string track(int t) const {
    return disc.substr(kTracks[t][0] * kSector, (kTracks[t][1] - kTracks[t][0] + 1) * kSector);
  }
  std::vector<verify::TTocTrack> toc() const {
    return tocOf({kTracks[0][0], kTracks[1][0], kTracks[2][0]}, kTracks[2][1] + 1);
  }

  TempDir tmp;
  fs::path cue;
  std::string disc;
};

}  // namespace

TEST_F(ProvenRip, AnOffsetGivesTheUnshiftedDiscOnTheFirstAndLastTrack) {
  for (int32_t offset : {6, -6, 667, -1164}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    const fs::path folder = tmp / ("drive" + std::to_string(offset));
    fs::create_directories(folder);
    fs::copy_file(cue, folder / "disc.cue");
    writeFile(folder / "disc.bin", asDriveReadsIt(disc, offset));
    const fs::path out = folder / "out";
    const CommandResult r = rip(q(folder / "disc.cue") + " --out " + q(out) + " --offset " + std::to_string(offset));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int t = 0; t < 3; ++t) {
      SCOPED_TRACE("track " + std::to_string(t + 1));
      const std::string got = readFile(out / ("Track0" + std::to_string(t + 1) + ".wav")).substr(44);
      const std::string want = track(t);
      ASSERT_EQ(got.size(), want.size());
      // Exact but where the disc's edge kept the drive from the samples (silence there).
      size_t head = 0, tail = 0;
      if (t == 0 && offset < 0) head = static_cast<size_t>(-offset) * 4;
      if (t == 2 && offset > 0) tail = static_cast<size_t>(offset) * 4;
      EXPECT_TRUE(got.substr(0, head) == std::string(head, '\0'));
      EXPECT_TRUE(got.substr(got.size() - tail) == std::string(tail, '\0'));
      EXPECT_TRUE(got.compare(head, got.size() - head - tail, want, head, want.size() - head - tail) == 0);
    }
    const std::string log = readFile(out / "001432.log");
    EXPECT_NE(log.find("Read offset: " + std::string(offset > 0 ? "+" : "") + std::to_string(offset) +
                       " samples (given for the image)\n"),
              std::string::npos)
        << log;
  }
  // Without --offset an image is read as it is: the shifted image's own bytes.
  const CommandResult plain = rip(q(tmp / "drive667/disc.cue") + " --out " + q(tmp / "plain") + " --tracks 2");
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_TRUE(readFile(tmp / "plain/Track02.wav").substr(44) ==
              readFile(tmp / "drive667/disc.bin").substr(400 * kSector, 300 * kSector));
  // Converted samples cannot be shifted: asked for, that is a failure, not a silent unshifted rip.
  const CommandResult mono = rip(q(cue) + " --out " + q(tmp / "mono") + " --offset 6 --format mono44100");
  EXPECT_EQ(mono.exitCode, 1);
  EXPECT_NE(mono.err.find("--offset needs the format stereo44100"), std::string::npos) << mono.err;
  EXPECT_FALSE(fs::exists(tmp / "mono/Track01.wav"));
}

TEST_F(ProvenRip, TheLogHoldsTheChecksumsAndTheDatabasesVerdicts) {
  // --no-log: the files, no log, no verification lines.
  const fs::path bare = tmp / "bare";
  const CommandResult noLog = rip(q(cue) + " --out " + q(bare) + " --no-log");
  ASSERT_EQ(noLog.exitCode, 0) << noLog.err;
  EXPECT_FALSE(fs::exists(bare / "001432.log"));
  EXPECT_EQ(noLog.err.find("Not verified"), std::string::npos) << noLog.err;
  EXPECT_TRUE(fs::exists(bare / "Track03.wav"));

  // The database's answer, made from the reference tool's sums of the files just ripped: the
  // first two tracks submitted (one at the database's top count), the third with another sum.
  std::vector<uint32_t> v1, v2;
  for (int t = 1; t <= 3; ++t) {
    const fs::path wav = bare / ("Track0" + std::to_string(t) + ".wav");
    v1.push_back(referenceSum(wav, t, 3, 1));
    v2.push_back(referenceSum(wav, t, 3, 2));
  }
  TempDir root;
  const verify::TArDiscIds ids = verify::ArDiscIds(toc());
  const fs::path answer = root.path() / "accuraterip" / verify::ArLookupPath(ids);
  fs::create_directories(answer.parent_path());
  writeFile(answer, block(ids, {{7, v2[0]}, {200, v2[1]}, {3, v2[2] ^ 1}}));
  StandInServer server(root.path().string(), {"--agent", "Tessaly/"});
  ASSERT_TRUE(server.Running());

  const fs::path out = tmp / "out";
  const CommandResult r = rip(q(cue) + " --out " + q(out) + " --log", server.Url());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("Track01: done\nTrack01: Accurately ripped (confidence 7) [v2]\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Track03: Does not match (3 submissions)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("AccurateRip: 1 pressing in the database\n1 tracks could not be verified\nRip log: " +
                       (out / "001432.log").string() + "\n"),
            std::string::npos)
      << r.err;

  const std::string log = readFile(out / "001432.log");
  EXPECT_NE(log.find("Read mode: image\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Output: WAV, 44100 Hz, stereo, 16 bit\n"), std::string::npos) << log;
  const auto parts = trackParts(log);
  ASSERT_EQ(parts.size(), 3u) << log;
  const char* verdicts[] = {"Accurately ripped (confidence 7) [v2]", "Accurately ripped (confidence 200) [v2]",
                            "Does not match (3 submissions)"};
  for (int t = 1; t <= 3; ++t) {
    SCOPED_TRACE("track " + std::to_string(t));
    const fs::path wav = out / ("Track0" + std::to_string(t) + ".wav");
    const std::string data = readFile(wav).substr(44);
    EXPECT_TRUE(data == track(t - 1));
    auto& p = parts.at(t);
    EXPECT_EQ(p.at("File"), wav.string());
    EXPECT_EQ(p.at("Status"), "OK");
    EXPECT_EQ(p.at("CRC32"),
              hex8(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())))));
    EXPECT_EQ(p.at("AccurateRip v1"), hex8(v1[static_cast<size_t>(t - 1)]));
    EXPECT_EQ(p.at("AccurateRip v2"), hex8(v2[static_cast<size_t>(t - 1)]));
    EXPECT_EQ(p.at("Verification"), verdicts[t - 1]);
  }
  EXPECT_NE(log.find("Summary\n  1 tracks could not be verified\n"), std::string::npos) << log;

  // A disc nobody submitted (404): said plainly, each track not present, the run a success.
  const fs::path other = tmp / "other";
  fs::create_directories(other);
  const fs::path otherCue = makeDisc(other, "other", {"music2:120", "tone440:90"});
  const CommandResult absent = rip(q(otherCue) + " --out " + q(other / "out") + " --log", server.Url());
  ASSERT_EQ(absent.exitCode, 0) << absent.err;
  std::string absentLog;
  for (const auto& e : fs::directory_iterator(other / "out"))
    if (e.path().extension() == ".log") absentLog = readFile(e.path());
  EXPECT_NE(absentLog.find("AccurateRip: the disc is not in the database\n"), std::string::npos) << absentLog;
  EXPECT_EQ(trackParts(absentLog)[2]["Verification"], "Not present in the database") << absentLog;
  EXPECT_NE(absent.err.find("Track02: Not present in the database\n"), std::string::npos) << absent.err;

  // Only the tracks the database knows: the summary the window's status line shows.
  const CommandResult known = rip(q(cue) + " --out " + q(tmp / "known") + " --log --tracks 1-2", server.Url());
  ASSERT_EQ(known.exitCode, 0) << known.err;
  EXPECT_NE(known.err.find("\nAll tracks accurately ripped\n"), std::string::npos) << known.err;
  EXPECT_NE(readFile(tmp / "known/001432.log").find("Summary\n  All tracks accurately ripped\n"), std::string::npos);
  EXPECT_EQ(server.Broken(), "");
}

TEST_F(ProvenRip, FlacDecodesToTheWavRipsSamplesAndAPatternMakesSubfolders) {
  const CommandResult wav = rip(q(cue) + " --out " + q(tmp / "wav") + " --no-log");
  ASSERT_EQ(wav.exitCode, 0) << wav.err;
  // With --jobs above 1 too: FLAC goes one track at a time.
  const CommandResult flac = rip(q(cue) + " --out " + q(tmp / "flac") + " --flac --jobs 4");
  ASSERT_EQ(flac.exitCode, 0) << flac.err;
  for (int t = 1; t <= 3; ++t) {
    const std::string n = "Track0" + std::to_string(t);
    const fs::path decoded = tmp / (n + ".decoded.wav");
    const CommandResult d = run("flac -d -s -f -o " + q(decoded) + " " + q(tmp / "flac" / (n + ".flac")));
    ASSERT_EQ(d.exitCode, 0) << d.err;
    EXPECT_TRUE(readFile(decoded).substr(44) == readFile(tmp / "wav" / (n + ".wav")).substr(44)) << n;
  }
  EXPECT_NE(readFile(tmp / "flac/001432.log").find("Output: FLAC, level "), std::string::npos);

  const CommandResult pattern =
      rip(q(cue) + " --out " + q(tmp / "pat") + " --no-log --tracks 2 --title 2=Song --name-pattern " +
          shellQuote("%album%/CD %nn%/%title%"));
  ASSERT_EQ(pattern.exitCode, 0) << pattern.err;
  EXPECT_EQ(pattern.out, (tmp / "pat/Unknown Album/CD 02/Song.wav").string() + "\n");
  EXPECT_TRUE(readFile(tmp / "pat/Unknown Album/CD 02/Song.wav").substr(44) == track(1));

  const CommandResult empty = rip(q(cue) + " --out " + q(tmp / "none") + " --name-pattern ''");
  EXPECT_EQ(empty.exitCode, 2);
  EXPECT_NE(empty.err.find("--name-pattern needs a pattern"), std::string::npos) << empty.err;
  EXPECT_FALSE(fs::exists(tmp / "none"));
}

// An answer that does not come keeps the run's end waiting at most until a cancel: Ctrl-C then
// ends it at once, and the log says the run was cancelled.
TEST_F(ProvenRip, ACancelEndsTheWaitForTheDatabaseAndTheLogSaysSo) {
  TempDir root;
  StandInServer server(root.path().string(), {"--agent", "Tessaly/"});
  ASSERT_TRUE(server.Running());
  const auto before = std::chrono::steady_clock::now();
  const CommandResult r = run("env HOME=" + shellQuote((tmp / "home").string()) + " XDG_CONFIG_HOME=" +
                              shellQuote((tmp / "config").string()) + " TESSALY_ACCURATERIP_URL=" +
                              shellQuote(server.Url() + "/_hang") + " timeout --preserve-status -s INT 3 " +
                              shellQuote(TESSALY_RIP_PATH) + " " + q(cue) + " --out " + q(tmp / "out") +
                              " --log --yes </dev/null");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_EQ(r.exitCode, 130) << r.err;
  const std::string log = readFile(tmp / "out/001432.log");
  EXPECT_NE(log.find("  The run was cancelled\n"), std::string::npos) << log;
  EXPECT_NE(r.err.find("The run was cancelled"), std::string::npos) << r.err;
}
