// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip under what a shell, a pipeline or a shared file can do to it: signals, a closed
// or full standard output, a file-size limit, control characters in titles, bad option values,
// images that lack their data. Each case checks the finished files and the exit status.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "mp3info/MP3Info.h"
#include "test_support.h"

namespace {

using namespace testing_support;

uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}

// The audio of a WAV file whose header agrees with its length; empty when it does not.
std::string wavData(const std::string& f) {
  if (f.size() < 44 || f.compare(0, 4, "RIFF") != 0 || le32(f, 4) != f.size() - 8 || le32(f, 40) != f.size() - 44)
    return {};
  return f.substr(44);
}

struct Spawned {
  int exitCode = -1;  // -1 when a signal ended it
  int signal = 0;
  std::string out, err;
};

// Runs tessaly-rip with standard input from /dev/null. Standard output goes to outFd, or is
// captured when outFd is -1. Once standard error shows `marker`, the process gets `sig`.
Spawned spawnRip(const std::vector<std::string>& args, const fs::path& home, int outFd = -1,
                 const std::string& marker = "", int sig = 0) {
  Spawned r;
  int errPipe[2], outPipe[2] = {-1, -1};
  if (pipe(errPipe) != 0 || (outFd < 0 && pipe(outPipe) != 0)) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    dup2(outFd >= 0 ? outFd : outPipe[1], STDOUT_FILENO);
    for (int fd : {errPipe[0], errPipe[1], outPipe[0], outPipe[1], in})
      if (fd > STDERR_FILENO) close(fd);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(TESSALY_RIP_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TESSALY_RIP_PATH, argv.data());
    _exit(127);
  }
  close(errPipe[1]);
  if (outPipe[1] >= 0) close(outPipe[1]);
  bool sent = marker.empty();
  bool errOpen = true, outOpen = outPipe[0] >= 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((errOpen || outOpen) && std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {{errOpen ? errPipe[0] : -1, POLLIN, 0}, {outOpen ? outPipe[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, 200) <= 0) continue;
    char buf[4096];
    if (fds[0].revents) {
      const ssize_t n = read(errPipe[0], buf, sizeof buf);
      if (n <= 0) errOpen = false;
      else r.err.append(buf, static_cast<size_t>(n));
    }
    if (fds[1].revents) {
      const ssize_t n = read(outPipe[0], buf, sizeof buf);
      if (n <= 0) outOpen = false;
      else r.out.append(buf, static_cast<size_t>(n));
    }
    if (!sent && r.err.find(marker) != std::string::npos) {
      kill(pid, sig);
      sent = true;
    }
  }
  close(errPipe[0]);
  if (outPipe[0] >= 0) close(outPipe[0]);
  if (std::chrono::steady_clock::now() >= deadline) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  else r.signal = WTERMSIG(status);
  return r;
}

// The names in a folder that start with "." (a rip's temporary files).
std::vector<std::string> hiddenFiles(const fs::path& dir) {
  std::vector<std::string> v;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.path().filename().string()[0] == '.') v.push_back(e.path().filename().string());
  return v;
}

class CliHardening : public ::testing::Test {
 protected:
  std::string env() const {
    return "env HOME=" + shellQuote((tmp / "home").string()) + " XDG_CONFIG_HOME=" + shellQuote((tmp / "config").string()) +
           " ";
  }
  CommandResult rip(const std::string& args) { return run(env() + shellQuote(TESSALY_RIP_PATH) + " " + args + " </dev/null"); }
  std::string q(const fs::path& p) const { return shellQuote(p.string()); }

  TempDir tmp;
  fs::path out = tmp / "out";
};

TEST_F(CliHardening, SigtermAndSighupCancelLikeCtrlC) {
  const auto cue = makeDisc(tmp.path(), "disc", {"tone440:45000", "music:100"});  // ten minutes, then a short one
  const std::string bin = readFile(tmp / "disc.bin");
  for (const int sig : {SIGTERM, SIGHUP}) {
    const fs::path dir = out / std::to_string(sig);
    const Spawned r = spawnRip({cue.string(), "--out", dir.string()}, tmp.path(), -1, ": 10%", sig);
    EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal;
    EXPECT_EQ(r.exitCode, 128 + sig) << r.err;
    // The track is finished with what was read, under its name, well-formed.
    const std::string data = wavData(readFile(dir / "Track01.wav"));
    EXPECT_GT(data.size(), 0u);
    EXPECT_LT(data.size(), 45000u * 2352u);
    EXPECT_TRUE(data == bin.substr(0, data.size()));
    EXPECT_FALSE(fs::exists(dir / "Track02.wav"));  // the run stops at the cancelled track
    EXPECT_TRUE(hiddenFiles(dir).empty());
    EXPECT_NE(r.err.find("Track01: cancelled"), std::string::npos) << r.err;
  }
  // An MP3 file cut by SIGTERM is finished and tagged.
  const Spawned m = spawnRip({cue.string(), "--mp3", "--out", out.string()}, tmp.path(), -1, ": 10%", SIGTERM);
  EXPECT_EQ(m.exitCode, 128 + SIGTERM) << m.err;
  TMP3Info tag;
  tag.SetFilename((out / "Track01.mp3").string());
  EXPECT_TRUE(tag.Valid());
  EXPECT_EQ(tag.Title(), "Track01");
  const auto decoded = run("mpg123 -q -w " + q(tmp / "decoded.wav") + " " + q(out / "Track01.mp3"));
  EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
  const std::string pcm = wavData(readFile(tmp / "decoded.wav"));
  EXPECT_GT(pcm.size(), 0u);
  EXPECT_LT(pcm.size(), 45000u * 2352u);
  EXPECT_FALSE(fs::exists(out / "Track02.mp3"));
  EXPECT_TRUE(hiddenFiles(out).empty());
}

TEST_F(CliHardening, AClosedStandardOutputNeitherKillsTheRipNorTearsAFile) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:300", "noise:200", "tone440:100"});
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  close(p[0]);  // nobody reads: like `| head -0` once head has gone
  const Spawned r = spawnRip({cue.string(), "--out", out.string()}, tmp.path(), p[1]);
  const Spawned list = spawnRip({cue.string(), "--list"}, tmp.path(), p[1]);
  close(p[1]);
  EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal;
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot write to standard output: Broken pipe"), std::string::npos) << r.err;
  // The rip went on to the end: every track whole.
  EXPECT_EQ(fs::file_size(out / "Track01.wav"), 44u + 300u * 2352u);
  EXPECT_EQ(fs::file_size(out / "Track02.wav"), 44u + 200u * 2352u);
  EXPECT_EQ(fs::file_size(out / "Track03.wav"), 44u + 100u * 2352u);
  EXPECT_TRUE(hiddenFiles(out).empty());
  EXPECT_EQ(list.signal, 0);
  EXPECT_EQ(list.exitCode, 1);
}

TEST_F(CliHardening, AFailedWriteToStandardOutputIsAFailure) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:100"});
  for (const std::string& args : {std::string("--help"), q(cue) + " --list", q(cue) + " --out " + q(out)}) {
    const auto r = run(env() + shellQuote(TESSALY_RIP_PATH) + " " + args + " </dev/null >/dev/full");
    EXPECT_EQ(r.exitCode, 1) << args;
    EXPECT_NE(r.err.find("cannot write to standard output: No space left on device"), std::string::npos) << args << r.err;
  }
  EXPECT_EQ(fs::file_size(out / "Track01.wav"), 44u + 100u * 2352u);
  EXPECT_EQ(rip("--help >/dev/null").exitCode, 0);
}

TEST_F(CliHardening, WriteErrorsSayWhy) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:3000", "music1:3000"});
  for (const char* kind : {"--wav", "--mp3"}) {
    const auto full = run("ulimit -f 100; " + env() + shellQuote(TESSALY_RIP_PATH) + " " + q(cue) + " " + kind +
                          " --yes --out " + q(out) + " </dev/null");
    EXPECT_EQ(full.exitCode, 1) << kind;
    EXPECT_NE(full.err.find("Track01." + std::string(kind + 2) + ": Write error (File too large)"), std::string::npos)
        << kind << full.err;
    EXPECT_TRUE(fs::exists(out / ("Track01." + std::string(kind + 2))));  // the part written stays
    EXPECT_FALSE(fs::exists(out / ("Track02." + std::string(kind + 2))));
    EXPECT_TRUE(hiddenFiles(out).empty());
  }
}

TEST_F(CliHardening, TitlesAreShownWithControlCharactersEscaped) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:75", "music1:75"});
  fs::create_directories(tmp / "config" / "tessaly");
  // A shared cdplayer.ini that would retitle the terminal, ring its bell and clear it (CSI as
  // C1 control U+009B), and a byte that is not UTF-8.
  writeFile(tmp / "config" / "tessaly" / "cdplayer.ini",
            "[000500]\r\n0=Evil\x1b]0;owned\x07Song\r\n1=Clear\xc2\x9b" "2J\xff Überall\r\n");
  auto clean = [](const std::string& s) {
    for (unsigned char c : s)
      if ((c < 0x20 && c != '\n') || c == 0x7f) return false;
    return s.find("\xc2\x9b") == std::string::npos && s.find('\xff') == std::string::npos;
  };
  const auto list = rip(q(cue) + " --list");
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_TRUE(clean(list.out)) << list.out;
  EXPECT_NE(list.out.find("Evil\\x1B]0;owned\\x07Song 01 Audio"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("Clear\\xC2\\x9B2J\\xFF \xc3\x9c" "berall 02 Audio"), std::string::npos) << list.out;

  const auto r = rip(q(cue) + " --mp3 --out " + q(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(clean(r.out)) << r.out;
  EXPECT_TRUE(clean(r.err)) << r.err;
  EXPECT_NE(r.err.find("Extract Evil\\x1B]0;owned\\x07Song (1 of 2)..."), std::string::npos) << r.err;
  EXPECT_NE(r.out.find((out / "Evil\\x1B]0;owned\\x07Song.mp3\n").string()), std::string::npos) << r.out;
  // The file keeps its title's name; only the terminal sees it escaped.
  EXPECT_TRUE(fs::exists(out / "Evil\x1b]0;owned\x07Song.mp3"));
}

TEST_F(CliHardening, EveryBadOptionValueIsAUsageError) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:75", "music1:75", "data:50"});
  const std::string img = q(cue) + " --list ";
  for (const std::string bad :
       {"--tracks 1-x", "--tracks ''", "--tracks 0", "--tracks 3-1", "--tracks 1,,2", "--tracks ,1", "--tracks 100",
        "--tracks ' 1'", "--drive -1", "--drive 1x", "--drive ''", "--drive 99999999999", "--jobs 0", "--jobs x",
        "--jobs 1.5", "--bitrate 7", "--bitrate 321", "--max-bitrate x", "--vbr-quality 10", "--format stereo48000",
        "--mode surround", "--quality best", "--samplerate 44101", "--title 0=x", "--title x", "--title 100=x", "--out ''", "--jobs"}) {
    const auto r = rip(img + bad);
    EXPECT_EQ(r.exitCode, 2) << bad << ": " << r.err;
    EXPECT_NE(r.err.find("Try 'tessaly-rip --help'."), std::string::npos) << bad;
  }
  // Good values of the same options are taken; a track the disc lacks is a failure, not a
  // usage error.
  for (const std::string good : {"--tracks 1", "--tracks 1-2,1", "--jobs 3", "--drive 0", "--title 2=x"})
    EXPECT_EQ(rip(img + good).exitCode, 0) << good;
  EXPECT_EQ(rip(q(cue) + " --tracks 4 --out " + q(out)).exitCode, 1);
  EXPECT_EQ(rip(q(cue) + " --tracks 3 --out " + q(out)).exitCode, 1);
}

TEST_F(CliHardening, ADiscImageSaysWhichDataFileItUsesAndWhyItCannotBeRead) {
  // The sheet's FILE line names the data file; a stale file named like the sheet is not it.
  makeDisc(tmp.path(), "real", {"music:100"});
  fs::rename(tmp / "real.bin", tmp / "Real Data.bin");
  makeDisc(tmp.path(), "stale", {"noise:100"});
  fs::rename(tmp / "stale.bin", tmp / "disc.bin");
  writeFile(tmp / "disc.cue", "FILE \"Real Data.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  const auto list = rip(q(tmp / "disc.cue") + " --list --drive 0");
  const auto lines = testing_support::lines(list.out);
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Data file: " + (tmp / "Real Data.bin").string()), lines.end())
      << list.out;

  // Without its data file there is no disc, and the message says why.
  writeFile(tmp / "gone.cue", "FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  const auto gone = rip(q(tmp / "gone.cue") + " --out " + q(out));
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_NE(gone.err.find("no readable disc in drive 0 (Disc image gone.cue): the data file gone.bin is missing"),
            std::string::npos)
      << gone.err;
}

TEST_F(CliHardening, SectorsAnImageLacksAreNamedAndLeftSilent) {
  // A TOC file claims more than its data file holds: track 2 runs from sector 150 to 449, the
  // file ends at sector 299; track 3 lies wholly beyond it.
  makeDisc(tmp.path(), "d", {"music:300"});
  writeFile(tmp / "d.toc",
            "CD_DA\nTRACK AUDIO\nFILE \"d.bin\" 0 00:02:00\nTRACK AUDIO\nFILE \"d.bin\" 00:02:00 00:04:00\n"
            "TRACK AUDIO\nFILE \"d.bin\" 00:06:00 00:01:00\n");
  const std::string bin = readFile(tmp / "d.bin");
  for (const char* jobs : {"1", "2"}) {
    const auto r = rip(q(tmp / "d.toc") + " --yes --jobs " + jobs + " --out " + q(out));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Track01: done\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Track02: done, with read errors: the image lacks 150 of its sectors (the last at sector 449), "
                         "left silent"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Track03: done, with read errors: the image lacks all of its sectors 450 to 524, left silent"),
              std::string::npos)
        << r.err;
  }
  const std::string two = wavData(readFile(out / "Track02.wav"));
  ASSERT_EQ(two.size(), 300u * 2352u);
  EXPECT_TRUE(two.substr(0, 150 * 2352) == bin.substr(150 * 2352));
  EXPECT_EQ(two.substr(150 * 2352), std::string(150 * 2352, '\0'));
  // The same words for an MP3 run on several encoders.
  const auto m = rip(q(tmp / "d.toc") + " --mp3 --jobs 2 --out " + q(out));
  ASSERT_EQ(m.exitCode, 0) << m.err;
  EXPECT_NE(m.err.find("Track02: done, with read errors: the image lacks 150 of its sectors"), std::string::npos) << m.err;
}

}  // namespace
