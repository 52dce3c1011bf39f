// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip --jobs N as a user runs it: a disc ripped to MP3 on several cores gives the files,
// names, tags, messages and exit status of --jobs 1, where the run ends as well as when it
// finishes; Ctrl-C keeps whole or cancelled files; memory stays flat.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>

#include "mp3info/MP3Info.h"
#include "test_support.h"

namespace {

using namespace testing_support;

struct Spawned {
  int exitCode = -1;  // -1 when a signal ended it
  std::string out, err;
  long peakKiB = 0;
};

// Environment variables set for a run, beside HOME and XDG_CONFIG_HOME.
using Env = std::vector<std::pair<std::string, std::string>>;

// Runs tessaly-rip (standard input /dev/null); once standard error shows `marker`, sends `sig`.
// env: more variables; openFiles: its open-file limit (0: this process's).
Spawned spawnRip(const std::vector<std::string>& args, const fs::path& home, const std::string& marker = "",
                 int sig = 0, const Env& env = {}, rlim_t openFiles = 0) {
  Spawned r;
  int errPipe[2], outPipe[2];
  if (pipe(errPipe) != 0 || pipe(outPipe) != 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    for (int fd : {errPipe[0], errPipe[1], outPipe[0], outPipe[1], in})
      if (fd > STDERR_FILENO) close(fd);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    if (openFiles) {
      const rlimit lim{openFiles, openFiles};
      setrlimit(RLIMIT_NOFILE, &lim);
    }
    std::vector<char*> argv{const_cast<char*>(TESSALY_RIP_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    // Without the rip log, which tessaly-rip makes one track at a time whatever --jobs says:
    // the runs on several cores are what is tested here.
    argv.push_back(const_cast<char*>("--no-log"));
    argv.push_back(nullptr);
    execv(TESSALY_RIP_PATH, argv.data());
    _exit(127);
  }
  close(errPipe[1]);
  close(outPipe[1]);
  bool sent = marker.empty(), errOpen = true, outOpen = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
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
  close(outPipe[0]);
  if (std::chrono::steady_clock::now() >= deadline) kill(pid, SIGKILL);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.peakKiB = ru.ru_maxrss;
  return r;
}

// Every file below dir, hidden ones too (a rip's temporary files), with its bytes.
std::map<std::string, std::string> files(const fs::path& dir) {
  std::map<std::string, std::string> m;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(dir, ec))
    if (e.is_regular_file()) m[fs::relative(e.path(), dir).string()] = readFile(e.path());
  return m;
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, from.size(), to);
  return s;
}

class CliParallel : public ::testing::Test {
 protected:
  // Rips with the given --jobs into out/<name>; the run's texts with that folder as <out>.
  Spawned ripInto(const std::string& name, const std::vector<std::string>& args, const std::string& jobs,
                  const Env& env = {}, rlim_t openFiles = 0) {
    const fs::path dir = out / name;
    std::vector<std::string> all = args;
    for (const std::string& a : {std::string("--jobs"), jobs, std::string("--out"), dir.string()}) all.push_back(a);
    Spawned r = spawnRip(all, tmp.path(), "", 0, env, openFiles);
    r.out = replaced(r.out, dir.string(), "<out>");
    r.err = replaced(r.err, dir.string(), "<out>");
    return r;
  }
  // One rip with --jobs 1 and others with more: the same exit status, texts and files.
  // Returns the --jobs 1 run.
  Spawned expectSameAsOneJob(const std::string& what, const std::vector<std::string>& args, int exitCode,
                             const std::function<void(const fs::path&)>& prepare = nullptr, const Env& env = {}) {
    if (prepare) prepare(out / (what + "-1"));
    const Spawned one = ripInto(what + "-1", args, "1", env);
    EXPECT_EQ(one.exitCode, exitCode) << what << one.err;
    const auto expected = files(out / (what + "-1"));
    for (const char* jobs : {"2", "4"}) {
      if (prepare) prepare(out / (what + "-" + jobs));
      const Spawned many = ripInto(what + "-" + jobs, args, jobs, env);
      EXPECT_EQ(many.exitCode, one.exitCode) << what << " --jobs " << jobs << many.err;
      EXPECT_EQ(many.out, one.out) << what << " --jobs " << jobs;
      EXPECT_EQ(many.err, one.err) << what << " --jobs " << jobs;  // progress lines included
      const auto got = files(out / (what + "-" + jobs));
      EXPECT_EQ(got.size(), expected.size()) << what << " --jobs " << jobs;
      for (const auto& [name, bytes] : expected) {
        const auto it = got.find(name);
        EXPECT_TRUE(it != got.end() && it->second == bytes) << what << " --jobs " << jobs << ": " << name;
      }
    }
    return one;
  }

  TempDir tmp;
  fs::path out = tmp / "out";
};

TEST_F(CliParallel, ADiscOnSeveralCoresGivesTheFilesOfOne) {
  // Twelve audio tracks of different kinds and lengths, a data track among them; names from
  // cdplayer.ini, one with a subfolder, two alike (the later one replaces the earlier).
  const auto cue = makeDisc(tmp.path(), "disc",
                            {"music:600", "music1:450", "noise:150", "tone440:520", "music2:300", "data:100",
                             "music3:700", "tone1000:200", "music4:380", "noise:260", "music5:640", "music6:170",
                             "tone330:410"});
  const auto list = run("env HOME=" + shellQuote(tmp.path().string()) + " XDG_CONFIG_HOME=" +
                        shellQuote((tmp / "config").string()) + " " + shellQuote(TESSALY_RIP_PATH) + " " +
                        shellQuote(cue.string()) + " --list");
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const std::string id = list.out.substr(list.out.find("DiscID: ") + 8, 6);
  fs::create_directories(tmp / "config" / "tessaly");
  writeFile(tmp / "config" / "tessaly" / "cdplayer.ini",
            "[" + id + "]\r\n1=Live/Opening\r\n4=Same\r\n8=Same\r\n11=Closing words\r\n");
  expectSameAsOneJob("default", {cue.string(), "--mp3", "--yes"}, 0);
  EXPECT_TRUE(fs::exists(out / "default-2" / "Live" / "Opening.mp3"));
  EXPECT_FALSE(fs::exists(out / "default-2" / "Track06.mp3"));  // the data track
  for (const auto& [name, bytes] : files(out / "default-2")) {
    TMP3Info tag;
    tag.SetFilename((out / "default-2" / name).string());
    EXPECT_TRUE(tag.Valid()) << name;
  }
  // Same.mp3 is the later track's (track 9, 380 sectors).
  const auto decoded = run("mpg123 -q -w " + shellQuote((tmp / "same.wav").string()) + " " +
                           shellQuote((out / "default-2" / "Same.mp3").string()));
  EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
  EXPECT_EQ(fs::file_size(tmp / "same.wav"), 44u + 380u * 2352u);
  // Another format and constant bit rate.
  expectSameAsOneJob("mono", {cue.string(), "--mp3", "--yes", "--format", "mono22050", "--cbr", "--bitrate", "64",
                              "--tracks", "1-5,7-9"},
                     0);
}

TEST_F(CliParallel, WhereOneTrackAtATimeStopsTheRunOnSeveralCoresStops) {
  const auto cue = makeDisc(tmp.path(), "disc",
                            {"music:300", "music1:250", "noise:100", "tone440:320", "music2:200", "music3:280",
                             "tone1000:150"});
  // An existing file and no terminal to ask on: the run stops at it, the earlier ones done.
  expectSameAsOneJob("exists", {cue.string(), "--mp3"}, 1, [](const fs::path& dir) {
    fs::create_directories(dir);
    writeFile(dir / "Track05.mp3", "old");
  });
  const auto exists = files(out / "exists-2");
  EXPECT_EQ(exists.at("Track05.mp3"), "old");
  EXPECT_TRUE(exists.count("Track04.mp3"));
  EXPECT_FALSE(exists.count("Track06.mp3"));
  // A folder where a file belongs: the failure ends the run there.
  expectSameAsOneJob("folder", {cue.string(), "--mp3", "--yes"}, 1,
                     [](const fs::path& dir) { fs::create_directories(dir / "Track04.mp3"); });
  EXPECT_FALSE(fs::exists(out / "folder-2" / "Track05.mp3"));
  // Two tracks of one name, without --yes: the second finds the first's file and stops.
  const std::string ini = (tmp / "config" / "tessaly" / "cdplayer.ini").string();
  const auto list = run("env HOME=" + shellQuote(tmp.path().string()) + " XDG_CONFIG_HOME=" +
                        shellQuote((tmp / "config").string()) + " " + shellQuote(TESSALY_RIP_PATH) + " " +
                        shellQuote(cue.string()) + " --list");
  const std::string id = list.out.substr(list.out.find("DiscID: ") + 8, 6);
  fs::create_directories(tmp / "config" / "tessaly");
  writeFile(ini, "[" + id + "]\r\n2=Same\r\n5=Same\r\n");
  expectSameAsOneJob("same", {cue.string(), "--mp3"}, 1);
  EXPECT_FALSE(fs::exists(out / "same-2" / "Track07.mp3"));
  EXPECT_TRUE(fs::exists(out / "same-2" / "Track05.mp3"));
}

TEST_F(CliParallel, CtrlCDuringAParallelRunKeepsWholeOrCancelledFiles) {
  const auto cue = makeDisc(tmp.path(), "disc", {"tone440:9000", "music:9000", "noise:9000"});  // two minutes each
  auto decodedBytes = [&](const fs::path& mp3) {
    const auto r = run("mpg123 -q -w " + shellQuote((tmp / "d.wav").string()) + " " + shellQuote(mp3.string()));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return fs::file_size(tmp / "d.wav") - 44;
  };
  // During the first track: it is cut and kept, tagged; the second, encoded beside it, is not
  // kept, as one track at a time it would not have been begun.
  const fs::path first = out / "first";
  const Spawned a = spawnRip({cue.string(), "--mp3", "--jobs", "2", "--out", first.string()}, tmp.path(),
                             "Track01: 10%", SIGINT);
  EXPECT_EQ(a.exitCode, 130) << a.err;
  EXPECT_NE(a.err.find("Track01: cancelled"), std::string::npos) << a.err;
  EXPECT_LT(decodedBytes(first / "Track01.mp3"), 9000u * 2352u);
  TMP3Info tag;
  tag.SetFilename((first / "Track01.mp3").string());
  EXPECT_TRUE(tag.Valid());
  EXPECT_EQ(files(first).size(), 1u);  // no other file, no temporary one

  // During the second: the first is whole, the second cut, the third never made.
  const fs::path second = out / "second";
  const Spawned b = spawnRip({cue.string(), "--mp3", "--jobs", "2", "--out", second.string()}, tmp.path(),
                             "Track02: 10%", SIGINT);
  EXPECT_EQ(b.exitCode, 130) << b.err;
  EXPECT_EQ(b.out, (second / "Track01.mp3").string() + "\n");
  EXPECT_EQ(decodedBytes(second / "Track01.mp3"), 9000u * 2352u);
  // Its encoder may already have finished it from the buffered sound by the time its progress
  // is shown: then it is whole, otherwise cut; either way decodable and tagged.
  EXPECT_LE(decodedBytes(second / "Track02.mp3"), 9000u * 2352u);
  TMP3Info tag2;
  tag2.SetFilename((second / "Track02.mp3").string());
  EXPECT_TRUE(tag2.Valid());
  EXPECT_EQ(files(second).size(), 2u);
}

TEST_F(CliParallel, PeakMemoryStaysFlatWithTheTracksAndTheirLength) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own memory hides the program's";
#endif
  const auto fewShort = makeDisc(tmp.path(), "few", {"music:1500", "music1:1500"});
  const auto manyShort = makeDisc(tmp.path(), "many", {"music:1500", "music1:1500", "music2:1500", "music3:1500",
                                                       "music4:1500", "music5:1500", "music6:1500", "music7:1500"});
  const auto fewLong = makeDisc(tmp.path(), "long", {"music:13500", "music1:13500"});  // three minutes each
  long least = 0, most = 0;
  for (const auto& cue : {fewShort, manyShort, fewLong}) {
    const Spawned r = spawnRip({cue.string(), "--mp3", "--jobs", "2", "--yes", "--out", out.string()}, tmp.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    least = least ? std::min(least, r.peakKiB) : r.peakKiB;
    most = std::max(most, r.peakKiB);
  }
  EXPECT_LE(most - least, 4096) << least << " KiB to " << most << " KiB";
}

// The bytes of PCM an MP3 file decodes to.
uintmax_t decodedBytes(const fs::path& mp3, const fs::path& wav) {
  const auto r = run("mpg123 -q -w " + shellQuote(wav.string()) + " " + shellQuote(mp3.string()));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return fs::file_size(wav) - 44;
}

TEST_F(CliParallel, RowsThatShareANameAfterReplaceAllAreAllWritten) {
  // The second row's file waits, finished, for the long first row while the fourth row's
  // writer of the same name is made: it is not a leftover to remove.
  const auto cue = makeDisc(tmp.path(), "disc", {"music:6000", "music1:300", "music2:2000", "music3:450"});
  const Spawned one = expectSameAsOneJob(
      "shared", {cue.string(), "--title", "1=L", "--title", "2=X", "--title", "3=M", "--title", "4=X", "--mp3", "--yes"},
      0, [](const fs::path& dir) {
        fs::create_directories(dir);
        writeFile(dir / "L.mp3", "old");
      });
  EXPECT_EQ(one.out, "<out>/L.mp3\n<out>/X.mp3\n<out>/M.mp3\n<out>/X.mp3\n");
  EXPECT_EQ(decodedBytes(out / "shared-2" / "X.mp3", tmp / "x.wav"), 450u * 2352u);  // the later row's
}

TEST_F(CliParallel, AFailingFileSystemIsMetAsOneTrackAtATimeMeetsIt) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:3000", "tone440:300", "music1:400"});
  // Under AddressSanitizer the preloaded library comes before its runtime, which it accepts
  // once told to: the library intercepts nothing the sanitizer does.
  const Env preload{{"LD_PRELOAD", FAULTS_PRELOAD_PATH}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
  auto with = [&](const std::string& k, const std::string& v) {
    Env e = preload;
    e.emplace_back(k, v);
    return e;
  };
  // Written data that fsync says did not reach the disk: a write error, never done.
  const Spawned lost = expectSameAsOneJob("fsync", {cue.string(), "--mp3", "--yes"}, 1, nullptr,
                                          with("TESSALY_FAIL_FSYNC", "1"));
  EXPECT_NE(lost.err.find("<out>/Track01.mp3: Write error (Input/output error)"), std::string::npos) << lost.err;
  EXPECT_EQ(lost.err.find("done"), std::string::npos) << lost.err;
  EXPECT_EQ(lost.out, "");
  // No locks on the file system: the files are written, with no temporary file left.
  const Spawned unlocked = expectSameAsOneJob("flock", {cue.string(), "--mp3", "--yes"}, 0, nullptr,
                                              with("TESSALY_FAIL_FLOCK", "1"));
  EXPECT_EQ(files(out / "flock-2").size(), 3u);
  // A temporary folder that takes nothing, or is missing: the reader waits for the encoders.
  expectSameAsOneJob("spill", {cue.string(), "--mp3", "--yes"}, 0, nullptr, with("TESSALY_FAIL_UNNAMED", "1"));
  expectSameAsOneJob("notmp", {cue.string(), "--mp3", "--yes"}, 0, nullptr, {{"TMPDIR", (tmp / "none").string()}});
  EXPECT_TRUE(files(out / "spill-2") == files(out / "flock-2"));
  EXPECT_TRUE(files(out / "notmp-4") == files(out / "flock-2"));
}

TEST_F(CliParallel, FewOpenFilesLowerTheParallelismAndTheRunSaysSo) {
  std::vector<std::string> tracks;
  for (int i = 0; i < 99; ++i) tracks.push_back("music" + std::to_string(i % 7) + ":40");
  const auto cue = makeDisc(tmp.path(), "disc", tracks);
  const std::vector<std::string> args{cue.string(), "--mp3", "--yes", "--no-lookup"};
  const Spawned one = ripInto("nofile-1", args, "1", {}, 64);
  ASSERT_EQ(one.exitCode, 0) << one.err;
  const auto expected = files(out / "nofile-1");
  ASSERT_EQ(expected.size(), 99u);
  for (rlim_t limit : {rlim_t{64}, rlim_t{24}}) {
    const std::string what = "nofile-16-" + std::to_string(limit);
    const Spawned many = ripInto(what, args, "16", {}, limit);
    EXPECT_EQ(many.exitCode, 0) << many.err;
    EXPECT_TRUE(files(out / what) == expected) << limit;
    EXPECT_EQ(many.out, one.out) << limit;
    // Said once, before the first row, when it was lowered (at 64 it depends on the files
    // the test's process lets the program inherit); the rest is what one track at a time says.
    std::string err = many.err;
    const size_t said = err.find("tessaly-rip: --jobs 16 lowered to ");
    if (limit == 24) {
      ASSERT_NE(said, std::string::npos) << err.substr(0, 300);
    }
    if (said != std::string::npos) {
      EXPECT_LT(said, err.find("Extract Track01")) << limit;
      const std::string line = err.substr(said, err.find('\n', said) + 1 - said);
      EXPECT_NE(line.find(": at most " + std::to_string(limit) + " files may be open (ulimit -n)\n"), std::string::npos)
          << line;
      err.erase(said, line.size());
    }
    EXPECT_EQ(err, one.err) << limit;
  }

  // Without --jobs the settings' [System] Jobs decides, as it does for the window: 16 there
  // meets the same limit, 1 is the one-track run that needs no more files.
  const fs::path ini = tmp / "config" / "tessaly" / "tessaly.ini";
  const std::string written = readFile(ini);  // the first run's settings, the encoder's among them
  ASSERT_EQ(written.rfind("[System]\n", 0), 0u) << written;
  for (const std::string setting : {"16", "1"}) {
    writeFile(ini, "[System]\nJobs=" + setting + "\n" + written.substr(9));
    const fs::path dir = out / ("setting-" + setting);
    std::vector<std::string> all = args;
    all.push_back("--out");
    all.push_back(dir.string());
    const Spawned r = spawnRip(all, tmp.path(), "", 0, {}, 24);
    EXPECT_EQ(r.exitCode, 0) << setting << r.err;
    EXPECT_EQ(r.err.find(" lowered to ") != std::string::npos, setting == "16") << setting << r.err.substr(0, 300);
    EXPECT_TRUE(files(dir) == expected) << setting;
  }
}

TEST_F(CliParallel, EveryLegalNameIsWrittenAndAReadOnlyFileIsKept) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:300", "tone440:200", "music1:250"});
  // 251 and 255 bytes: the temporary names beside them are cut to fit.
  const std::string longer(251, 'n'), longest = std::string(125, 'x') + "\xc3\xa9" + std::string(124, 'y');
  expectSameAsOneJob("long", {cue.string(), "--mp3", "--yes", "--title", "1=" + longer, "--title", "3=" + longest}, 0);
  const auto names = files(out / "long-2");
  EXPECT_TRUE(names.count(longer + ".mp3"));
  EXPECT_TRUE(names.count(longest + ".mp3"));
  // A file made read-only stops the run at it, whoever runs it (root too).
  const Spawned kept = expectSameAsOneJob("readonly", {cue.string(), "--mp3", "--yes"}, 1, [](const fs::path& dir) {
    fs::create_directories(dir);
    writeFile(dir / "Track02.mp3", "kept");
    fs::permissions(dir / "Track02.mp3", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  });
  EXPECT_NE(kept.err.find("Cannot create file <out>/Track02.mp3: Permission denied"), std::string::npos) << kept.err;
  EXPECT_EQ(readFile(out / "readonly-4" / "Track02.mp3"), "kept");
}

}  // namespace
