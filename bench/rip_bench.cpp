// Rip benchmark: a long track of a generated image to WAV and to MP3 (start-up settings),
// against cd-paranoia reading the same track and lame encoding that WAV file with the same
// settings. Prints seconds and peak memory of each, and whether the goals hold:
//   WAV rip <= cd-paranoia; MP3 rip <= cd-paranoia + lame; memory flat whatever the length.
//
//   tessaly-bench [MINUTES]     (default 10; a track three times as long checks the memory)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Measure {
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
};

// Runs a program (output discarded) and measures its wall time and peak resident memory.
Measure timed(const std::vector<std::string>& args, const fs::path& home) {
  Measure m;
  std::fflush(stdout);  // or the child repeats what is still buffered
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peakKiB = ru.ru_maxrss;
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

// The best of several rounds, each command once a round, interleaved, so that neither a busy
// moment of the machine nor the page cache's state favours one command.
std::vector<Measure> bestOf(const std::vector<std::vector<std::string>>& commands, const fs::path& home) {
  constexpr int kRounds = 7;
  std::vector<Measure> best(commands.size());
  for (int r = 0; r < kRounds; ++r)
    for (size_t c = 0; c < commands.size(); ++c) {
      const Measure m = timed(commands[c], home);
      if (r == 0 || !m.ok || (best[c].ok && m.seconds < best[c].seconds)) best[c] = m;
    }
  return best;
}

void row(const char* what, const Measure& m) {
  std::printf("%-44s %8.2f s %9ld KiB%s\n", what, m.seconds, m.peakKiB, m.ok ? "" : "  (FAILED)");
}

bool onPath(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int minutes = argc > 1 ? std::atoi(argv[1]) : 10;
  if (minutes < 1) {
    std::fprintf(stderr, "usage: tessaly-bench [MINUTES]\n");
    return 2;
  }
  const fs::path dir = fs::temp_directory_path() / ("tessaly-bench-" + std::to_string(getpid()));
  fs::create_directories(dir / "out");
  const std::string rip = TESSALY_RIP_PATH;
  const std::string sectors = std::to_string(minutes * 60 * 75);
  const std::string longSectors = std::to_string(minutes * 3 * 60 * 75);
  const fs::path cue = dir / "disc.cue";
  const fs::path longCue = dir / "long.cue";
  if (std::system((std::string(MKDISC_PATH) + " " + cue.string() + " music:" + sectors + " >/dev/null").c_str()) != 0 ||
      std::system((std::string(MKDISC_PATH) + " " + longCue.string() + " music:" + longSectors + " >/dev/null").c_str()) != 0) {
    std::fprintf(stderr, "tessaly-bench: cannot generate the images\n");
    return 1;
  }
  const std::string out = (dir / "out").string();
  const std::string ref = (dir / "ref.wav").string();
  const bool compare = onPath("cd-paranoia") && onPath("lame");
  std::vector<std::vector<std::string>> commands{
      {rip, cue.string(), "--yes", "--out", out},
      {rip, cue.string(), "--yes", "--mp3", "--out", out},
      {rip, longCue.string(), "--yes", "--out", out},
      {rip, longCue.string(), "--yes", "--mp3", "--out", out}};
  if (compare) {
    commands.push_back({"cd-paranoia", "-q", "-d", cue.string(), "1", ref});
    // The start-up settings: VBR quality 5 from 128 to 320 kbit/s, stereo, normal quality, CRC.
    commands.push_back({"lame", "--quiet", "-V", "5", "-b", "128", "-B", "320", "-m", "s", "-q", "5", "-p", ref,
                        (dir / "ref.mp3").string()});
  }
  std::printf("A %d-minute track of a generated image, jitter correction on (best of 7 rounds):\n\n", minutes);
  const std::vector<Measure> m = bestOf(commands, dir);
  const Measure &wav = m[0], &mp3 = m[1], &wavLong = m[2], &mp3Long = m[3];
  row("tessaly-rip to WAV", wav);
  row("tessaly-rip to MP3 (start-up settings)", mp3);
  row(("tessaly-rip to WAV, " + std::to_string(3 * minutes) + " minutes").c_str(), wavLong);
  row(("tessaly-rip to MP3, " + std::to_string(3 * minutes) + " minutes").c_str(), mp3Long);

  bool pass = wav.ok && mp3.ok && wavLong.ok && mp3Long.ok;
  // Flat memory: three times the track may not cost more than a little bookkeeping.
  const bool flat = wavLong.peakKiB <= wav.peakKiB * 11 / 10 + 1024 && mp3Long.peakKiB <= mp3.peakKiB * 11 / 10 + 1024;
  std::printf("\nmemory flat with the track's length: %s\n", flat ? "yes" : "NO");
  pass = pass && flat;

  if (compare) {
    const Measure &para = m[4], &lame = m[5];
    row("cd-paranoia reading the track", para);
    row("lame encoding that WAV file", lame);
    const bool wavGoal = wav.seconds <= para.seconds;
    const bool mp3Goal = mp3.seconds <= para.seconds + lame.seconds;
    std::printf("\nWAV rip no slower than cd-paranoia: %s (%.2f s vs %.2f s)\n", wavGoal ? "yes" : "NO", wav.seconds,
                para.seconds);
    std::printf("MP3 rip no slower than cd-paranoia + lame: %s (%.2f s vs %.2f s)\n", mp3Goal ? "yes" : "NO",
                mp3.seconds, para.seconds + lame.seconds);
    pass = pass && para.ok && lame.ok && wavGoal && mp3Goal;
  } else {
    std::printf("\n(cd-paranoia or lame is not installed: no comparison)\n");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  std::printf("\n%s\n", pass ? "all goals met" : "GOALS NOT MET");
  return pass ? 0 : 1;
}
