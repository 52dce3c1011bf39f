// SPDX-License-Identifier: GPL-3.0-or-later
// Rip benchmark: tessaly-rip against the tools a user would pick instead, on generated images.
//
// Every comparison is made of paired rounds: a round runs each command of its group once, in
// an order that turns from round to round, so that neither a busy moment of the machine nor
// the page cache favours one command. A command's time is the median of its rounds; the ratio
// of two commands is the median of their per-round ratios (not the best of either, which
// cannot tell a small difference on a machine others use).
//
//   tessaly-bench [--quick] [--rounds N] [--disc-rounds N] [--no-disc] [--no-memory]
//
// 1. A 10-minute track: the WAV rip against cp of the track's bytes (the physical limit) and
//    cp followed by sync (a rip flushes each file to the disk when it is closed), and against
//    cd-paranoia; the MP3 rip against lame --noreplaygain encoding the same WAV file with the
//    same settings (the floor; lame's command line computes ReplayGain unless told not to).
//    The same track to FLAC against flac at the same level, without and with its verify mode.
// 2. A whole disc of 12 tracks of 4 minutes to MP3: --jobs N (N: the cores) against --jobs 1,
//    and against the same lame run on every core (xargs -P N).
// 3. Peak memory of WAV and MP3 rips from 1 to 12 tracks and from 1 to 74 minutes.
// The load of the machine is printed beside each group; the ratios are the last lines.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Measure {
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
};

fs::path g_home;

// Runs a program with its output discarded and measures its wall time and peak resident
// memory. Called in a fresh process (this program run as "--measure"), so that the child's peak
// is its own: a child forked from the benchmark itself starts out with the benchmark's pages.
// Writes "SECONDS KIB OK" to descriptor 3.
int measure(char** args) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    ::close(3);
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr) ||
        !std::freopen("/dev/null", "r", stdin))
      _exit(126);
    execvp(args[0], args);
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const std::string line = std::to_string(seconds) + " " + std::to_string(ru.ru_maxrss) + " " + (ok ? "1" : "0") + "\n";
  return ::write(3, line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0 : 1;
}

Measure timed(const std::vector<std::string>& args) {
  Measure m;
  int report[2];
  if (pipe(report) != 0) return m;
  std::fflush(stdout);  // or the child repeats what is still buffered
  const pid_t pid = fork();
  if (pid == 0) {
    ::close(report[0]);
    if (dup2(report[1], 3) < 0) _exit(126);
    setenv("HOME", g_home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (g_home / "config").c_str(), 1);
    // The generated disc has no names: nothing is looked up anywhere. Two closed ports, two
    // origins: one would make the second service wait out the first one's turn.
    setenv("TESSALY_MUSICBRAINZ_URL", "http://127.0.0.1:1", 1);
    setenv("TESSALY_ACCURATERIP_URL", "http://127.0.0.1:2", 1);
    std::vector<char*> argv{const_cast<char*>("/proc/self/exe"), const_cast<char*>("--measure")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  ::close(report[1]);
  std::string line;
  char buf[128];
  for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) line.append(buf, static_cast<size_t>(n));
  ::close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  int ok = 0;
  if (std::sscanf(line.c_str(), "%lf %ld %d", &m.seconds, &m.peakKiB, &ok) == 3) m.ok = ok == 1;
  return m;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The rounds of one group: rounds[r][c] is command c in round r.
struct Group {
  std::vector<std::string> names;
  std::vector<std::vector<Measure>> rounds;

  std::vector<double> times(size_t c) const {
    std::vector<double> v;
    for (const auto& r : rounds) v.push_back(r[c].seconds);
    return v;
  }
  double time(size_t c) const { return median(times(c)); }
  bool ok(size_t c) const {
    return std::all_of(rounds.begin(), rounds.end(), [&](const auto& r) { return r[c].ok; });
  }
  long peak(size_t c) const {
    long p = 0;
    for (const auto& r : rounds) p = std::max(p, r[c].peakKiB);
    return p;
  }
  // The median of the per-round ratios a / b.
  double ratio(size_t a, size_t b) const {
    std::vector<double> v;
    for (const auto& r : rounds)
      if (r[b].seconds > 0) v.push_back(r[a].seconds / r[b].seconds);
    return median(v);
  }
};

Group runRounds(const std::vector<std::string>& names, const std::vector<std::vector<std::string>>& commands,
                int rounds) {
  Group g;
  g.names = names;
  const size_t n = commands.size();
  for (int r = 0; r < rounds; ++r) {
    std::vector<Measure> round(n);
    for (size_t k = 0; k < n; ++k) {
      const size_t c = (static_cast<size_t>(r) + k) % n;  // the order turns each round
      round[c] = timed(commands[c]);
    }
    g.rounds.push_back(round);
    std::fprintf(stderr, ".");
  }
  std::fprintf(stderr, "\n");
  return g;
}

void printGroup(const Group& g) {
  for (size_t c = 0; c < g.names.size(); ++c) {
    const auto t = g.times(c);
    std::printf("  %-46s %8.3f s  (%.3f to %.3f) %9ld KiB%s\n", g.names[c].c_str(), g.time(c),
                *std::min_element(t.begin(), t.end()), *std::max_element(t.begin(), t.end()), g.peak(c),
                g.ok(c) ? "" : "  FAILED");
  }
}

std::string load() {
  double l[3] = {0, 0, 0};
  if (getloadavg(l, 3) != 3) return "unknown";
  char b[64];
  std::snprintf(b, sizeof b, "%.2f %.2f %.2f", l[0], l[1], l[2]);
  return b;
}

bool onPath(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool makeDisc(const fs::path& cue, const std::vector<std::string>& tracks) {
  std::string cmd = std::string(MKDISC_PATH) + " '" + cue.string() + "'";
  for (const auto& t : tracks) cmd += " " + t;
  return std::system((cmd + " >/dev/null").c_str()) == 0;
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// An MP3 file without its trailing ID3v1 tag and its leading ID3v2 tag: what an encoder with
// the same settings writes.
std::string withoutTag(std::string f) {
  if (f.size() >= 128 && f.compare(f.size() - 128, 3, "TAG") == 0) f.resize(f.size() - 128);
  if (f.size() >= 10 && f.compare(0, 3, "ID3") == 0) {
    size_t size = 10;  // the header, then a syncsafe length
    for (int i = 6; i < 10; ++i) size += static_cast<size_t>(static_cast<unsigned char>(f[static_cast<size_t>(i)]) & 0x7f)
                                          << (7 * (9 - i));
    f.erase(0, std::min(size, f.size()));
  }
  return f;
}

// Whether tessaly-rip offers an option (its help names it).
bool ripOffers(const std::string& rip, const std::string& option) {
  return std::system(("'" + rip + "' --help 2>/dev/null | grep -q -- '" + option + "'").c_str()) == 0;
}

// The start-up settings on lame's command line: VBR quality 5 from 128 to 320 kbit/s, stereo,
// normal quality, CRC, not marked original (lame marks files original unless told -o).
const std::vector<std::string> kLameSettings{"--quiet", "--noreplaygain", "-V", "5", "-b", "128", "-B",
                                             "320",     "-m",            "s",  "-q", "5", "-p", "-o"};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--measure") return measure(argv + 2);
  bool quick = false, disc = true, memory = true;
  int rounds = 7, discRounds = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      quick = true;
    } else if (a == "--no-disc") {
      disc = false;
    } else if (a == "--no-memory") {
      memory = false;
    } else if ((a == "--rounds" || a == "--disc-rounds") && i + 1 < argc) {
      (a == "--rounds" ? rounds : discRounds) = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: tessaly-bench [--quick] [--rounds N] [--disc-rounds N] [--no-disc] [--no-memory]\n");
      return 2;
    }
  }
  if (quick) {
    rounds = std::min(rounds, 3);
    discRounds = 1;
  }
  const fs::path dir = fs::temp_directory_path() / ("tessaly-bench-" + std::to_string(getpid()));
  g_home = dir;
  fs::create_directories(dir / "out");
  const std::string rip = TESSALY_RIP_PATH;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const bool tools = onPath("cd-paranoia") && onPath("lame");
  if (!tools) {
    std::fprintf(stderr, "tessaly-bench: cd-paranoia and lame are needed (Debian: cd-paranoia, lame)\n");
    return 1;
  }
  std::vector<std::string> ratios;
  auto ratioLine = [&](const char* what, double v, const char* goal) {
    char b[256];
    std::snprintf(b, sizeof b, "%-58s %6.2f%s", what, v, goal);
    ratios.push_back(b);
  };
  bool pass = true;

  // --- 1. one track ---
  const int minutes = quick ? 2 : 10;
  const fs::path cue = dir / "track.cue";
  if (!makeDisc(cue, {"music:" + std::to_string(minutes * 60 * 75)})) {
    std::fprintf(stderr, "tessaly-bench: cannot generate the images\n");
    return 1;
  }
  const std::string out = (dir / "out").string(), ref = (dir / "ref.wav").string();
  if (!timed({rip, cue.string(), "--yes", "--out", out}).ok ||
      !timed({"cp", (dir / "out" / "Track01.wav").string(), ref}).ok) {
    std::fprintf(stderr, "tessaly-bench: the first rip failed\n");
    return 1;
  }
  std::vector<std::string> lame = {"lame"};
  lame.insert(lame.end(), kLameSettings.begin(), kLameSettings.end());
  lame.push_back(ref);
  lame.push_back((dir / "ref.mp3").string());
  std::printf("One %d-minute track of a generated image, %d paired rounds; %d cores, load %s\n", minutes, rounds, cores,
              load().c_str());
  const Group one = runRounds(
      {"tessaly-rip to WAV", "cp of the track's bytes", "cp + sync of the track's bytes", "cd-paranoia to WAV",
       "tessaly-rip to MP3 (start-up settings)", "lame --noreplaygain, the same settings"},
      {{rip, cue.string(), "--yes", "--out", out},
       {"cp", (dir / "track.bin").string(), (dir / "copy.bin").string()},
       {"sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", (dir / "track.bin").string(), (dir / "copy.bin").string()},
       {"cd-paranoia", "-q", "-d", cue.string(), "1", (dir / "paranoia.wav").string()},
       {rip, cue.string(), "--yes", "--mp3", "--out", out},
       lame},
      rounds);
  printGroup(one);
  const std::string refMp3 = readFile(dir / "ref.mp3");
  const bool same = !refMp3.empty() && withoutTag(readFile(dir / "out" / "Track01.mp3")) == refMp3;
  std::printf("  the two MP3 files are the same bytes but for the ID3 tags: %s; load now %s\n\n", same ? "yes" : "NO",
              load().c_str());
  pass = pass && same && one.ok(0) && one.ok(4) && one.ok(5);
  ratioLine("MP3 rip / lame --noreplaygain (goal <= 1.00):", one.ratio(4, 5), one.ratio(4, 5) <= 1.0 ? "" : "  NOT MET");
  ratioLine("WAV rip / cp (goal <= 2.00):", one.ratio(0, 1), one.ratio(0, 1) <= 2.0 ? "" : "  NOT MET");
  ratioLine("WAV rip / cp + sync (goal <= 2.00; the rip flushes too):", one.ratio(0, 2),
            one.ratio(0, 2) <= 2.0 ? "" : "  NOT MET");
  ratioLine("WAV rip / cd-paranoia:", one.ratio(0, 3), "");
  pass = pass && one.ratio(4, 5) <= 1.0 && one.ratio(0, 1) <= 2.0 && one.ratio(0, 2) <= 2.0;

  // --- 1b. the same track to FLAC, against flac at the same level (5, the start-up level),
  // without and with its verify mode (which the rip always uses) ---
  if (ripOffers(rip, "--flac") && onPath("flac")) {
    std::printf("The same track to FLAC, %d paired rounds; load %s\n", rounds, load().c_str());
    const std::string refFlac = (dir / "ref.flac").string();
    const Group flac = runRounds({"tessaly-rip to FLAC (level 5, verify)", "flac -5", "flac -5 --verify"},
                                 {{rip, cue.string(), "--yes", "--flac", "--out", out},
                                  {"flac", "-s", "-f", "-5", "-o", refFlac, ref},
                                  {"flac", "-s", "-f", "-5", "-V", "-o", refFlac, ref}},
                                 rounds);
    printGroup(flac);
    const fs::path raw = dir / "decoded.raw";
    const bool decodes =
        std::system(("flac -s -d -f --force-raw-format --endian=little --sign=signed -o '" + raw.string() + "' '" +
                     (dir / "out" / "Track01.flac").string() + "'")
                        .c_str()) == 0 &&
        readFile(raw) == readFile(ref).substr(44);
    std::printf("  the FLAC file decodes to the WAV rip's samples: %s; load now %s\n\n", decodes ? "yes" : "NO",
                load().c_str());
    fs::remove(raw);
    pass = pass && decodes && flac.ok(0);
    ratioLine("FLAC rip / flac -5 (goal <= 1.00):", flac.ratio(0, 1), flac.ratio(0, 1) <= 1.0 ? "" : "  NOT MET");
    ratioLine("FLAC rip / flac -5 --verify:", flac.ratio(0, 2), "");
    pass = pass && flac.ratio(0, 1) <= 1.0;
  } else {
    std::printf("tessaly-rip has no --flac (or flac is missing): no FLAC comparison\n\n");
  }
  fs::remove_all(dir / "out");
  fs::remove(dir / "copy.bin");

  // --- 2. a whole disc on every core ---
  if (disc) {
    const int trackSeconds = quick ? 20 : 240;
    std::vector<std::string> tracks;
    for (int t = 0; t < 12; ++t) tracks.push_back("music" + std::to_string(t % 8) + ":" + std::to_string(trackSeconds * 75));
    const fs::path discCue = dir / "disc.cue";
    const fs::path wavs = dir / "wavs";
    if (!makeDisc(discCue, tracks) || !timed({rip, discCue.string(), "--yes", "--out", wavs.string()}).ok) {
      std::fprintf(stderr, "tessaly-bench: cannot generate the disc\n");
      return 1;
    }
    std::string lameAll = "printf '%s\\n' \"$0\"/*.wav | xargs -P " + std::to_string(cores) + " -I{} lame";
    for (const auto& s : kLameSettings) lameAll += " " + s;
    lameAll += " {} {}.mp3";
    const std::string n = std::to_string(cores);
    std::printf("A disc of 12 tracks of %d s to MP3, %d paired rounds; load %s\n", trackSeconds, discRounds,
                load().c_str());
    const Group whole = runRounds(
        {"tessaly-rip --jobs " + n, "tessaly-rip --jobs 1", "lame --noreplaygain on " + n + " cores (xargs -P)"},
        {{rip, discCue.string(), "--yes", "--mp3", "--jobs", n, "--out", (dir / "many").string()},
         {rip, discCue.string(), "--yes", "--mp3", "--jobs", "1", "--out", (dir / "single").string()},
         {"sh", "-c", lameAll, wavs.string()}},
        discRounds);
    printGroup(whole);
    bool identical = true;
    for (int t = 1; t <= 12; ++t) {
      const std::string name = (t < 10 ? "Track0" : "Track") + std::to_string(t) + ".mp3";
      identical = identical && readFile(dir / "many" / name) == readFile(dir / "single" / name) &&
                  fs::exists(dir / "many" / name);
    }
    std::printf("  --jobs %d and --jobs 1 wrote the same bytes: %s; load now %s\n\n", cores, identical ? "yes" : "NO",
                load().c_str());
    pass = pass && identical && whole.ok(0) && whole.ok(1);
    ratioLine(("whole disc: --jobs 1 / --jobs " + n + " (goal >= 1.80 on 2 free cores):").c_str(), whole.ratio(1, 0),
              cores >= 2 && whole.ratio(1, 0) < 1.8 ? "  NOT MET" : "");
    ratioLine(("whole disc: --jobs " + n + " / lame on " + n + " cores:").c_str(), whole.ratio(0, 2), "");
    if (cores >= 2) pass = pass && whole.ratio(1, 0) >= 1.8;
    fs::remove_all(dir / "many");
    fs::remove_all(dir / "single");
    fs::remove_all(wavs);
    fs::remove(dir / "disc.bin");
  }

  // --- 3. peak memory ---
  if (memory) {
    std::printf("Peak memory (KiB), one rip each; load %s\n", load().c_str());
    const fs::path many = dir / "twelve.cue";
    std::vector<std::string> minuteTracks;
    for (int t = 0; t < 12; ++t) minuteTracks.push_back("music" + std::to_string(t % 8) + ":4500");
    if (!makeDisc(many, minuteTracks)) return 1;
    // [axis: tracks, minutes][kind: WAV, MP3]
    long least[2][2] = {{0, 0}, {0, 0}}, most[2][2] = {{0, 0}, {0, 0}};
    auto row = [&](const std::string& what, const std::vector<std::string>& base, int axis) {
      std::printf("  %-22s", what.c_str());
      for (int kind = 0; kind < 2; ++kind) {
        std::vector<std::string> args = base;
        args.push_back(kind ? "--mp3" : "--wav");
        const Measure m = timed(args);
        std::printf(" %s %8ld%s", kind ? "MP3" : "WAV", m.peakKiB, m.ok ? "" : " FAILED");
        pass = pass && m.ok;
        least[axis][kind] = least[axis][kind] ? std::min(least[axis][kind], m.peakKiB) : m.peakKiB;
        most[axis][kind] = std::max(most[axis][kind], m.peakKiB);
      }
      std::printf("\n");
    };
    for (int k : {1, 2, 4, 8, 12})
      row(std::to_string(k) + (k == 1 ? " track of 1 min" : " tracks of 1 min"),
          {rip, many.string(), "--yes", "--tracks", "1-" + std::to_string(k), "--out", out}, 0);
    fs::remove_all(dir / "out");
    fs::remove(dir / "twelve.bin");
    std::vector<int> lengths = quick ? std::vector<int>{1, 5, 10} : std::vector<int>{1, 10, 30, 74};
    for (int len : lengths) {
      const fs::path c = dir / ("len" + std::to_string(len) + ".cue");
      if (!makeDisc(c, {"music:" + std::to_string(len * 60 * 75)})) return 1;
      row("1 track of " + std::to_string(len) + " min", {rip, c.string(), "--yes", "--out", out}, 1);
      fs::remove_all(dir / "out");
      fs::remove(dir / ("len" + std::to_string(len) + ".bin"));
    }
    std::printf("  load now %s\n\n", load().c_str());
    for (int axis = 0; axis < 2; ++axis)
      for (int kind = 0; kind < 2; ++kind) {
        const double mib = static_cast<double>(most[axis][kind] - least[axis][kind]) / 1024.0;
        const std::string what = std::string("peak memory spread, ") + (kind ? "MP3" : "WAV") + ", " +
                                 (axis ? "1 to " + std::to_string(lengths.back()) + " minutes" : "1 to 12 tracks") +
                                 " (MiB, goal <= 2):";
        ratioLine(what.c_str(), mib, mib <= 2.0 ? "" : "  NOT MET");
        pass = pass && mib <= 2.0;
      }
  }

  std::error_code ec;
  fs::remove_all(dir, ec);
  std::printf("Ratios (medians of per-round ratios):\n");
  for (const auto& r : ratios) std::printf("%s\n", r.c_str());
  std::printf("%s\n", pass ? "all goals met" : "GOALS NOT MET");
  return pass ? 0 : 1;
}
