// SPDX-License-Identifier: GPL-3.0-or-later
// Extraction-run benchmark: one long track of a generated image to MP3 through the extraction
// window's run (offscreen, in this process: the window, its timer, the event loop let through
// after every chunk) against tessaly-rip doing the same, in interleaved rounds. Prints the
// median seconds of each and their ratio; the goal is a ratio of at most 1.05.
//
//   tessaly-run-bench [MINUTES [ROUNDS]]     (default 10 minutes, 5 rounds)
//
// The window's time runs from the start of its run (the first track begun) to the end of
// exec(); tessaly-rip's from its start to its exit, so it carries its own start-up as well.
// Processor seconds (user + system) are printed beside the wall-clock ones: on a busy machine
// they tell the two apart more steadily.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/shared_model.h"
#include "app/uprg.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "run/CoderSettings.h"
#include "mp3info/MP3Info.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Measure {
  double wall = 0, cpu = 0;
};

// Runs a program with its output discarded; its exit status, and its processor seconds in cpu.
int runProgram(const std::vector<std::string>& args, double* cpu = nullptr) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    std::freopen("/dev/null", "r", stdin);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  if (cpu) {
    const auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    *cpu = secs(ru.ru_utime) + secs(ru.ru_stime);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  // As the window program starts: large freed blocks stay in the process (see app/main.cpp).
  mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  const fs::path dir = fs::temp_directory_path() / ("tessaly-run-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  setenv("HOME", dir.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  // Neither side looks the unnamed disc up: closed local ports answer at once (two, as the
  // services are two origins; one would make the second wait out the first one's turn).
  setenv("TESSALY_MUSICBRAINZ_URL", "http://127.0.0.1:1", 1);
  setenv("TESSALY_ACCURATERIP_URL", "http://127.0.0.1:2", 1);
  const fs::path cue = dir / "long.cue";
  const std::string track = "music:" + std::to_string(minutes * 60 * 75);
  if (runProgram({MKDISC_PATH, cue.string(), track}) != 0) {
    std::fprintf(stderr, "tessaly-run-bench: mkdisc failed\n");
    return 1;
  }
  const fs::path winOut = dir / "window", cliOut = dir / "cli";
  fs::create_directories(winOut);

  QApplication app(argc, argv);
  if (CR_AddDrive(cue.c_str()) != CDEX_OK) {
    std::fprintf(stderr, "tessaly-run-bench: cannot open %s\n", cue.c_str());
    return 1;
  }
  // The main window's side of the run.
  TCDRIP ripper;
  TLameCoder coder;
  ApplyStoredRipperValues(ripper, &coder);
  ripper.SelectDrive(ripper.GetNumCDROM() - 1);
  SetUpCoder(coder, Settings);
  int32_t ripPercent = 0;
  ripper.OnProgress = [&](TCDRIP&, uint16_t p) { ripPercent = p; };
  TMP3Info tagger;
  tagger.SetGenreID(12);
  QWidget mainWindow;
  QTreeWidget list(&mainWindow);
  list.setColumnCount(5);
  auto* row = new QTreeWidgetItem(&list, {QString::fromStdString(ripper.Tracks().Strings(0)), QStringLiteral("01"),
                                          QString::fromStdString(ripper.TrackDuration(0)), QStringLiteral("--"),
                                          QStringLiteral("0")});
  row->setCheckState(colTitle, Qt::Checked);
  Settings.OutDir = winOut.string();
  Settings.OpenWhenDone = true;
  // The one-track run on both sides (tessaly-window-disc-bench measures the run on every core).
  MoreSettings.Jobs = 1;
  OpenFolderHandler() = [](const QUrl&) {};

  auto windowRun = [&] {
    fs::remove(winOut / "Track01.mp3");
    Tfrmprg w(TSharedModel{&mainWindow, &list, &ripper, &tagger, &ripPercent});
    Clock::time_point start{};
    double cpuStart = 0;
    ripper.OnBeginTrack = [&](TCDRIP&, uint16_t) {
      start = Clock::now();
      cpuStart = processCpuSeconds();
    };
    const int result = w.exec();
    const Measure m{since(start), processCpuSeconds() - cpuStart};
    ripper.OnBeginTrack = nullptr;
    if (result != 1 || row->text(colStatus) != QStringLiteral("OK") || !fs::exists(winOut / "Track01.mp3")) {
      std::fprintf(stderr, "tessaly-run-bench: the window's run failed\n");
      std::exit(1);
    }
    return m;
  };
  auto cliRun = [&] {
    fs::remove_all(cliOut);
    const auto start = Clock::now();
    Measure m;
    const int rc = runProgram({TESSALY_RIP_PATH, cue.string(), "--mp3", "--yes", "--no-lookup", "--jobs", "1", "--out", cliOut.string()}, &m.cpu);
    m.wall = since(start);
    if (rc != 0 || !fs::exists(cliOut / "Track01.mp3")) {
      std::fprintf(stderr, "tessaly-run-bench: tessaly-rip failed (%d)\n", rc);
      std::exit(1);
    }
    return m;
  };

  std::printf("A %d-minute track to MP3, %d interleaved rounds\n", minutes, rounds);
  std::vector<Measure> win, cli;
  for (int r = 0; r < rounds; ++r) {
    // Alternate which goes first, so neither always finds the caches warm.
    if (r % 2 == 0) {
      win.push_back(windowRun());
      cli.push_back(cliRun());
    } else {
      cli.push_back(cliRun());
      win.push_back(windowRun());
    }
    std::printf("  round %d: window %.3f s (cpu %.3f s), tessaly-rip %.3f s (cpu %.3f s)\n", r + 1, win.back().wall,
                win.back().cpu, cli.back().wall, cli.back().cpu);
  }
  auto medianOf = [](const std::vector<Measure>& v, double Measure::*field) {
    std::vector<double> x;
    for (const Measure& m : v) x.push_back(m.*field);
    return median(x);
  };
  const double mw = medianOf(win, &Measure::wall), mc = medianOf(cli, &Measure::wall);
  const double cw = medianOf(win, &Measure::cpu), cc = medianOf(cli, &Measure::cpu);
  const double ratio = mw / mc;
  std::printf("median wall: window's run %.3f s, tessaly-rip %.3f s, ratio %.3f (goal <= 1.05: %s)\n", mw, mc, ratio,
              ratio <= 1.05 ? "met" : "NOT met");
  std::printf("median cpu:  window's run %.3f s, tessaly-rip %.3f s, ratio %.3f\n", cw, cc, cw / cc);
  if (fs::file_size(winOut / "Track01.mp3") != fs::file_size(cliOut / "Track01.mp3"))
    std::printf("note: the two MP3 files differ in size; the encoder settings are not the same\n");
  std::error_code ec;
  fs::remove_all(dir, ec);
  return ratio <= 1.05 ? 0 : 1;
}
