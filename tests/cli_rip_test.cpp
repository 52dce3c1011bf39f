// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip as a user runs it: real rips of fixture images to every output kind, checked in
// the finished files (bytes, headers, decoded length and pitch), cancel, and failures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>
#include <pty.h>

#include <chrono>
#include <cmath>
#include <cstring>

#include "mp3info/MP3Info.h"
#include "test_support.h"

namespace {

using namespace testing_support;

uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}
uint16_t le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

struct Wav {
  int channels = 0, rate = 0;
  std::string data;
};

// Parses a canonical 44-byte-header WAV file, checking that its sizes agree with the file.
Wav parseWav(const std::string& f) {
  Wav w;
  EXPECT_GE(f.size(), 44u);
  if (f.size() < 44) return w;
  EXPECT_EQ(f.substr(0, 4), "RIFF");
  EXPECT_EQ(f.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(le32(f, 4), f.size() - 8);
  EXPECT_EQ(le32(f, 40), f.size() - 44);
  w.channels = le16(f, 22);
  w.rate = static_cast<int>(le32(f, 24));
  EXPECT_EQ(le32(f, 28), static_cast<uint32_t>(w.channels * w.rate * 2));
  w.data = f.substr(44);
  return w;
}

double crossingsPerSecond(const std::string& pcm, int channels, int rate) {
  const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
  const size_t frames = pcm.size() / 2 / static_cast<size_t>(channels);
  int crossings = 0;
  for (size_t i = 1; i < frames; ++i)
    if ((s[(i - 1) * static_cast<size_t>(channels)] < 0) != (s[i * static_cast<size_t>(channels)] < 0)) ++crossings;
  return crossings * static_cast<double>(rate) / static_cast<double>(frames);
}

class CliRip : public ::testing::Test {
 protected:
  std::string env() const {
    return "env HOME=" + shellQuote((tmp / "home").string()) +
           " XDG_CONFIG_HOME=" + shellQuote((tmp / "config").string()) + " ";
  }
  // No terminal on standard input: a question about an existing file is answered No.
  CommandResult rip(const std::string& args) {
    return run(env() + shellQuote(TESSALY_RIP_PATH) + " " + args + " </dev/null");
  }
  std::string q(const fs::path& p) const { return shellQuote(p.string()); }
  // Decodes an MP3 file with mpg123 into a WAV file.
  Wav decode(const fs::path& mp3) {
    const fs::path wav = tmp / "decoded.wav";
    const auto r = run("mpg123 -q -w " + q(wav) + " " + q(mp3));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return parseWav(readFile(wav));
  }

  TempDir tmp;
  fs::path out = tmp / "out";
};

TEST_F(CliRip, WavRipsAreTheTracksSectorsExactly) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:400", "data:100", "noise:333", "tone440:75"});
  const std::string bin = readFile(tmp / "disc.bin");
  const auto r = rip(q(cue) + " --out " + q(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, (out / "Track01.wav").string() + "\n" + (out / "Track03.wav").string() + "\n" +
                       (out / "Track04.wav").string() + "\n");
  EXPECT_FALSE(fs::exists(out / "Track02.wav"));  // data tracks are not ripped
  struct T {
    const char* file;
    size_t first, sectors;
  };
  for (const T t : {T{"Track01.wav", 0, 400}, T{"Track03.wav", 500, 333}, T{"Track04.wav", 833, 75}}) {
    const Wav w = parseWav(readFile(out / t.file));
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 44100);
    EXPECT_TRUE(w.data == bin.substr(t.first * 2352, t.sectors * 2352)) << t.file;
  }
  // Raw PCM: the same bytes, no header.
  ASSERT_EQ(rip(q(cue) + " --raw --tracks 3 --out " + q(out)).exitCode, 0);
  EXPECT_TRUE(readFile(out / "Track03.raw") == bin.substr(500 * 2352, 333 * 2352));
}

TEST_F(CliRip, EveryOutputFormatHasItsRateChannelsAndDuration) {
  const auto cue = makeDisc(tmp.path(), "disc", {"tone440:150"});
  struct F {
    const char* name;
    int channels, rate;
  };
  for (const F f : {F{"stereo44100", 2, 44100}, F{"mono44100", 1, 44100}, F{"stereo22050", 2, 22050},
                    F{"mono22050", 1, 22050}, F{"stereo11025", 2, 11025}, F{"mono11025", 1, 11025}}) {
    const fs::path dir = out / f.name;
    const auto r = rip(q(cue) + " --format " + f.name + " --out " + q(dir));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Wav w = parseWav(readFile(dir / "Track01.wav"));
    EXPECT_EQ(w.channels, f.channels) << f.name;
    EXPECT_EQ(w.rate, f.rate) << f.name;
    EXPECT_EQ(w.data.size(), 150u * 588u * static_cast<size_t>(f.rate) / 44100u * static_cast<size_t>(f.channels) * 2)
        << f.name;  // two seconds exactly
    EXPECT_NEAR(crossingsPerSecond(w.data, f.channels, f.rate), 880.0, 25.0) << f.name;
  }
}

TEST_F(CliRip, TheSameTrackRippedTwiceIsTheSameBytes) {
  // Resampled formats too: a rip can be checked against another, and --jobs compared.
  const auto cue = makeDisc(tmp.path(), "disc", {"noise:300"});
  for (const char* f : {"stereo22050", "mono11025", "mono44100"}) {
    for (const char* kind : {"--wav", "--mp3"}) {
      ASSERT_EQ(rip(q(cue) + " " + kind + " --format " + f + " --out " + q(out / "a")).exitCode, 0);
      ASSERT_EQ(rip(q(cue) + " " + kind + " --format " + f + " --out " + q(out / "b")).exitCode, 0);
      const std::string name = std::string("Track01.") + (kind + 2);
      EXPECT_TRUE(readFile(out / "a" / name) == readFile(out / "b" / name)) << f << " " << kind;
      fs::remove_all(out);
    }
  }
}

TEST_F(CliRip, Mp3DecodesToTheTracksExactLengthAndPitch) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:300", "tone440:1000"});
  ASSERT_EQ(rip(q(cue) + " --mp3 --out " + q(out)).exitCode, 0);
  const Wav w = decode(out / "Track02.mp3");
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.rate, 44100);
  EXPECT_EQ(w.data.size(), 1000u * 2352u);  // gapless: not one sample more or less
  EXPECT_NEAR(crossingsPerSecond(w.data, 2, 44100), 880.0, 10.0);
  EXPECT_EQ(decode(out / "Track01.mp3").data.size(), 300u * 2352u);

  // Constant bit rate, and a file resampled and downmixed by the settings' rate and mode.
  ASSERT_EQ(rip(q(cue) + " --mp3 --cbr --bitrate 192 --tracks 2 --yes --out " + q(out)).exitCode, 0);
  EXPECT_EQ(decode(out / "Track02.mp3").data.size(), 1000u * 2352u);
  ASSERT_EQ(rip(q(cue) + " --mp3 --samplerate 22050 --mode mono --tracks 2 --yes --out " + q(out)).exitCode, 0);
  const Wav m = decode(out / "Track02.mp3");
  EXPECT_EQ(m.channels, 1);
  EXPECT_EQ(m.rate, 22050);
  EXPECT_EQ(m.data.size(), 1000u * 588u);
  EXPECT_NEAR(crossingsPerSecond(m.data, 1, 22050), 880.0, 10.0);
}

TEST_F(CliRip, Mp3FilesAreNamedAndTaggedFromCdplayerIni) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:200", "music1:200"});
  fs::create_directories(tmp / "config" / "tessaly");
  // DiscID of tracks at 0 and 200: 0x200 + (A 350 = 0:04:50) 0x432 = 0x632.
  writeFile(tmp / "config" / "tessaly" / "cdplayer.ini",
            "[000632]\r\ntitle=Album\r\n0=Über Song  \r\n1=A title longer than thirty characters\r\n");
  const auto list = rip(q(cue) + " --list");
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(list.out.find("\nÜber Song 01 Audio 0 199 0:02\n"), std::string::npos) << list.out;
  const auto r = rip(q(cue) + " --mp3 --out " + q(out));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* name : {"Über Song.mp3", "A title longer than thirty characters.mp3"}) {
    const fs::path f = out / name;
    ASSERT_TRUE(fs::exists(f)) << name;
    const std::string bytes = readFile(f);
    TMP3Info tag;
    tag.SetFilename(f.string());
    EXPECT_TRUE(tag.Valid());
    EXPECT_EQ(tag.GenreID(), 12);
    EXPECT_EQ(tag.Genre(), "Other");
    EXPECT_EQ(bytes.substr(bytes.size() - 128, 3), "TAG");
    EXPECT_EQ(bytes[bytes.size() - 1], '\x0c');
  }
  TMP3Info tag;
  tag.SetFilename((out / "A title longer than thirty characters.mp3").string());
  EXPECT_EQ(tag.Title(), "A title longer than thirty cha");
  // Another tag reader agrees.
  const auto id3 = run("id3v2 -l " + q(out / "Über Song.mp3"));
  EXPECT_NE(id3.out.find("Title  : \xDC" "ber Song"), std::string::npos) << id3.out;  // ISO-8859-1 on disk
  EXPECT_NE(id3.out.find("Genre: Other (12)"), std::string::npos) << id3.out;
}

TEST_F(CliRip, SavedNamesKeepTheRestOfTheFile) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:200", "music1:200"});
  const fs::path ini = tmp / "config" / "tessaly" / "cdplayer.ini";
  fs::create_directories(ini.parent_path());
  const std::string before = "; other player\r\n[000632]\r\nartist=Band\r\nx=kept\r\n0=Old\r\n[other]\r\nk=v\r\n";
  writeFile(ini, before);
  const auto r = rip(q(cue) + " --title 2=Second --save-names");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // The first name was already stored; the second is new, and so are the album keys that
  // the section lacked (the album also as "title", the key readers take); nothing else moves.
  EXPECT_EQ(readFile(ini), "; other player\r\n[000632]\r\nartist=Band\r\nx=kept\r\n0=Old\r\nalbum=\r\ntitle=\r\n"
                           "year=\r\ngenre=\r\n1=Second\r\n[other]\r\nk=v\r\n");
  const auto list = rip(q(cue) + " --list");
  EXPECT_NE(list.out.find("\nSecond 02 Audio"), std::string::npos) << list.out;
}

// What tessaly-rip wrote on its terminal and on standard output, and its exit status.
struct TerminalRun {
  int exitCode = -1;
  std::string terminal, out;
  int questions = 0;
};

// Runs tessaly-rip with a pseudo-terminal as standard input and standard error, standard
// output on a pipe; answers its n-th question with answers[n] (a line, or "" for the end of
// the input).
TerminalRun ripOnTerminal(const std::vector<std::string>& args, const fs::path& home, const std::vector<std::string>& answers) {
  TerminalRun r;
  int master = -1, slave = -1, outPipe[2];
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || pipe(outPipe) != 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDERR_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    close(master);
    close(slave);
    close(outPipe[0]);
    close(outPipe[1]);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(TESSALY_RIP_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TESSALY_RIP_PATH, argv.data());
    _exit(127);
  }
  close(slave);
  close(outPipe[1]);
  const std::string prompt = "do you want to replace it? [y]es, [n]o, replace [a]ll: ";
  bool termOpen = true, outOpen = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((termOpen || outOpen) && std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {{termOpen ? master : -1, POLLIN, 0}, {outOpen ? outPipe[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, 200) <= 0) continue;
    char buf[4096];
    if (fds[0].revents) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) termOpen = false;  // EIO once the program has gone
      else r.terminal.append(buf, static_cast<size_t>(n));
    }
    if (fds[1].revents) {
      const ssize_t n = read(outPipe[0], buf, sizeof buf);
      if (n <= 0) outOpen = false;
      else r.out.append(buf, static_cast<size_t>(n));
    }
    // Each prompt seen gets the next answer; what was typed is echoed, never a prompt itself.
    size_t seen = 0;
    for (size_t at = r.terminal.find(prompt); at != std::string::npos; at = r.terminal.find(prompt, at + 1)) ++seen;
    while (static_cast<size_t>(r.questions) < seen) {
      const std::string a = static_cast<size_t>(r.questions) < answers.size() ? answers[static_cast<size_t>(r.questions)] : "";
      ++r.questions;
      if (a.empty()) {
        const char eof = 4;  // Ctrl-D
        (void)!write(master, &eof, 1);
      } else {
        (void)!write(master, (a + "\n").data(), a.size() + 1);
      }
    }
  }
  close(master);
  close(outPipe[0]);
  int status = 0;
  if (std::chrono::steady_clock::now() >= deadline) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST_F(CliRip, TheOverwriteQuestionOnATerminalAsTheWindowAsksIt) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:75", "music1:75", "music2:75", "tone440:75"});
  fs::create_directories(out);
  auto reset = [&] {
    for (const char* f : {"Track01.wav", "Track02.wav", "Track03.wav", "Track04.wav"}) writeFile(out / f, "old");
  };
  auto replaced = [&](const char* f) { return fs::file_size(out / f) == 44u + 75u * 2352u; };
  const std::vector<std::string> args{cue.string(), "--out", out.string()};

  // Yes, an answer it does not know (asked again), replace all: no more questions.
  reset();
  auto r = ripOnTerminal(args, tmp.path(), {"y", "maybe", "a"});
  EXPECT_EQ(r.exitCode, 0) << r.terminal;
  EXPECT_EQ(r.questions, 3);
  EXPECT_NE(r.terminal.find((out / "Track01.wav").string() + " already exists,do you want to replace it?"),
            std::string::npos) << r.terminal;
  EXPECT_NE(r.terminal.find("Extract Track02 (2 of 4)..."), std::string::npos) << r.terminal;
  for (const char* f : {"Track01.wav", "Track02.wav", "Track03.wav", "Track04.wav"}) EXPECT_TRUE(replaced(f)) << f;
  EXPECT_EQ(lines(r.out).size(), 4u);

  // No at the third: the first two are replaced, the run ends there; exit status 1.
  reset();
  r = ripOnTerminal(args, tmp.path(), {"yes", "Y", "no"});
  EXPECT_EQ(r.exitCode, 1) << r.terminal;
  EXPECT_EQ(r.questions, 3);
  EXPECT_TRUE(replaced("Track01.wav") && replaced("Track02.wav"));
  EXPECT_EQ(readFile(out / "Track03.wav"), "old");
  EXPECT_EQ(readFile(out / "Track04.wav"), "old");
  EXPECT_EQ(r.out, (out / "Track01.wav").string() + "\n" + (out / "Track02.wav").string() + "\n");

  // The end of the input answers No; the next run asks again; --yes asks nothing.
  reset();
  r = ripOnTerminal(args, tmp.path(), {""});
  EXPECT_EQ(r.exitCode, 1) << r.terminal;
  EXPECT_EQ(readFile(out / "Track01.wav"), "old");
  r = ripOnTerminal({cue.string(), "--yes", "--out", out.string()}, tmp.path(), {});
  EXPECT_EQ(r.exitCode, 0) << r.terminal;
  EXPECT_EQ(r.questions, 0);
  EXPECT_TRUE(replaced("Track04.wav"));
}

TEST_F(CliRip, NamesAreTheWindowsNames) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:75", "music1:75", "music2:75", "tone440:75", "noise:75"});
  const auto r = rip(q(cue) + " --mp3 --title '1=  Blank Ends  ' --title '2=Live/Side A/Opening' --title '3=../../x'" +
                     " --title '4=   ' --tracks 1-4 --out " + q(out / ""));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const fs::path& f : {out / "Blank Ends.mp3", out / "Live" / "Side A" / "Opening.mp3", out / "x.mp3", out / "Track04.mp3"})
    EXPECT_TRUE(fs::exists(f)) << f;
  EXPECT_FALSE(fs::exists(tmp / "x.mp3"));
  TMP3Info tag;
  tag.SetFilename((out / "Blank Ends.mp3").string());
  EXPECT_EQ(tag.Title(), "  Blank Ends");  // the tag keeps the title as given, less trailing spaces
  EXPECT_NE(r.err.find("Extract   Blank Ends   (1 of 4)..."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("To " + (out / "x.mp3").string()), std::string::npos) << r.err;

  // A link in place of a title's folder is never followed.
  const fs::path elsewhere = tmp / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, out / "Linked");
  const auto link = rip(q(cue) + " --title '5=Linked/Song' --tracks 5 --out " + q(out));
  EXPECT_EQ(link.exitCode, 1);
  EXPECT_NE(link.err.find("Cannot create file " + (out / "Linked" / "Song.wav").string()), std::string::npos) << link.err;
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(CliRip, FailuresAreClearAndLoseNothing) {
  const auto cue = makeDisc(tmp.path(), "disc", {"music:100", "data:50"});
  EXPECT_EQ(rip(q(cue) + " --tracks 3").exitCode, 1);
  const auto data = rip(q(cue) + " --tracks 2");
  EXPECT_EQ(data.exitCode, 1);
  EXPECT_NE(data.err.find("track 2 is a data track"), std::string::npos);
  EXPECT_EQ(rip(q(cue) + " --tracks 1-x").exitCode, 2);  // not a track list: a usage error
  EXPECT_EQ(rip(q(cue) + " --format stereo48000").exitCode, 2);
  EXPECT_EQ(rip(q(cue) + " --vbr-quality 10").exitCode, 2);

  // An existing file stays unless --yes.
  fs::create_directories(out);
  writeFile(out / "Track01.wav", "precious");
  const auto exists = rip(q(cue) + " --out " + q(out));
  EXPECT_EQ(exists.exitCode, 1);
  EXPECT_NE(exists.err.find("already exists"), std::string::npos);
  EXPECT_EQ(readFile(out / "Track01.wav"), "precious");
  EXPECT_EQ(rip(q(cue) + " --yes --out " + q(out)).exitCode, 0);
  EXPECT_EQ(fs::file_size(out / "Track01.wav"), 44u + 100u * 2352u);

  // A folder that cannot be made.
  writeFile(tmp / "plain", "a file");
  const auto folder = rip(q(cue) + " --out " + q(tmp / "plain" / "sub"));
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_NE(folder.err.find("Cannot create file"), std::string::npos) << folder.err;

  // A disk that fills up: "Write error", and the part written stays, well-formed.
  const auto full = run("ulimit -f 100; " + env() + shellQuote(TESSALY_RIP_PATH) + " " + q(cue) + " --yes --out " + q(out));
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_NE(full.err.find("Write error"), std::string::npos) << full.err;
  EXPECT_GT(fs::file_size(out / "Track01.wav"), 44u);
}

// Starts tessaly-rip, waits for its progress to reach a tenth, then presses Ctrl-C.
int ripAndInterrupt(const std::vector<std::string>& args, const fs::path& home) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], STDERR_FILENO);
    close(pipefd[0]);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(TESSALY_RIP_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TESSALY_RIP_PATH, argv.data());
    _exit(127);
  }
  close(pipefd[1]);
  std::string seen;
  char buf[256];
  bool sent = false;
  for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;) {
    seen.append(buf, static_cast<size_t>(n));
    if (!sent && seen.find(": 10%") != std::string::npos) {
      kill(pid, SIGINT);
      sent = true;
    }
  }
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(CliRip, CtrlCKeepsAWellFormedPartialFile) {
  const auto cue = makeDisc(tmp.path(), "disc", {"tone440:45000", "music:100"});  // ten minutes
  const std::string bin = readFile(tmp / "disc.bin");
  EXPECT_EQ(ripAndInterrupt({cue.string(), "--out", out.string()}, tmp.path()), 130);
  const Wav w = parseWav(readFile(out / "Track01.wav"));
  EXPECT_GT(w.data.size(), 0u);
  EXPECT_LT(w.data.size(), 45000u * 2352u);
  EXPECT_TRUE(w.data == bin.substr(0, w.data.size()));
  EXPECT_FALSE(fs::exists(out / "Track02.wav"));  // the run stops at the cancelled track

  EXPECT_EQ(ripAndInterrupt({cue.string(), "--mp3", "--out", out.string()}, tmp.path()), 130);
  const Wav m = decode(out / "Track01.mp3");
  EXPECT_GT(m.data.size(), 0u);
  EXPECT_LT(m.data.size(), 45000u * 2352u);
  TMP3Info tag;
  tag.SetFilename((out / "Track01.mp3").string());
  EXPECT_TRUE(tag.Valid());
  EXPECT_EQ(tag.Title(), "Track01");
}

}  // namespace
