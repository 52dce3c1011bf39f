// Whole-disc benchmark: a generated disc of 12 tracks to MP3 through the extraction window's
// run (offscreen, in this process) against tessaly-rip, with one encoder per core and with one
// encoder. Prints the seconds of each and their ratios; the goals are at most 1.1 on every
// core and 1.05 with one encoder. The window's files must be tessaly-rip's, byte for byte.
//
//   tessaly-window-disc-bench [MINUTES_PER_TRACK [ROUNDS]]     (default 4 minutes, 1 round)
//
// Both read the same settings from a folder of their own; neither looks anything up.
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/shared_model.h"
#include "app/uprg.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "run/CoderSettings.h"
#include "mp3info/MP3Info.h"
#include "run/ParallelRip.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTracks = 12;

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

int runProgram(const std::vector<std::string>& args) {
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
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  // As the window program starts: large freed blocks stay in the process (see app/main.cpp).
  mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  const fs::path dir = fs::temp_directory_path() / ("tessaly-window-disc-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  setenv("HOME", dir.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  setenv("TESSALY_MUSICBRAINZ_URL", "http://127.0.0.1:1", 1);
  setenv("TESSALY_ACCURATERIP_URL", "http://127.0.0.1:1", 1);
  const fs::path cue = dir / "disc.cue";
  std::vector<std::string> mk{MKDISC_PATH, cue.string()};
  for (int t = 0; t < kTracks; ++t) mk.push_back("music" + std::to_string(t % 4) + ":" + std::to_string(minutes * 60 * 75));
  if (runProgram(mk) != 0) {
    std::fprintf(stderr, "tessaly-window-disc-bench: mkdisc failed\n");
    return 1;
  }
  const fs::path winOut = dir / "window", cliOut = dir / "cli";

  QApplication app(argc, argv);
  LoadSettings();
  MoreSettings.RipLog = false;  // tessaly-rip gets --no-log
  if (CR_AddDrive(cue.c_str()) != CDEX_OK) {
    std::fprintf(stderr, "tessaly-window-disc-bench: cannot open %s\n", cue.c_str());
    return 1;
  }
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
  for (int i = 0; i < ripper.Tracks().Count(); ++i) {
    auto* row = new QTreeWidgetItem(&list, {QString::fromStdString(ripper.Tracks().Strings(i)), QString::number(i + 1),
                                            QString::fromStdString(ripper.TrackDuration(i)), QStringLiteral("--"),
                                            QString::number(i)});
    row->setCheckState(colTitle, Qt::Checked);
  }
  Settings.OutDir = winOut.string();
  Settings.OpenWhenDone = false;

  auto windowRun = [&](int jobs) {
    fs::remove_all(winOut);
    MoreSettings.Jobs = jobs;
    Tfrmprg w(TSharedModel{&mainWindow, &list, &ripper, &tagger, &ripPercent});
    w.Timer1->setInterval(10);
    const auto start = Clock::now();
    const int result = w.exec();
    const double secs = since(start);
    for (int i = 0; i < list.topLevelItemCount(); ++i)
      if (result != 1 || list.topLevelItem(i)->text(colStatus) != QStringLiteral("OK")) {
        std::fprintf(stderr, "tessaly-window-disc-bench: the window's run failed\n");
        std::exit(1);
      }
    return secs;
  };
  auto cliRun = [&](int jobs) {
    fs::remove_all(cliOut);
    const auto start = Clock::now();
    const int rc = runProgram({TESSALY_RIP_PATH, cue.string(), "--mp3", "--yes", "--no-log", "--no-lookup", "--jobs",
                               std::to_string(jobs), "--out", cliOut.string()});
    const double secs = since(start);
    if (rc != 0) {
      std::fprintf(stderr, "tessaly-window-disc-bench: tessaly-rip failed (%d)\n", rc);
      std::exit(1);
    }
    return secs;
  };
  auto sameFiles = [&] {
    for (int t = 1; t <= kTracks; ++t) {
      const std::string name = std::string("Track") + (t < 10 ? "0" : "") + std::to_string(t) + ".mp3";
      if (readAll(winOut / name) != readAll(cliOut / name)) return false;
    }
    return true;
  };

  const int cores = RunJobs(0);
  std::printf("%d tracks of %d minutes to MP3, %d round(s), %d core(s)\n", kTracks, minutes, rounds, cores);
  bool met = true;
  for (const auto& [jobs, goal] : {std::pair{cores, 1.1}, std::pair{1, 1.05}}) {
    std::vector<double> win, cli;
    bool same = true;
    for (int r = 0; r < rounds; ++r) {
      // Alternated, so that neither always finds the caches warm.
      if (r % 2 == 0) {
        win.push_back(windowRun(jobs));
        cli.push_back(cliRun(jobs));
      } else {
        cli.push_back(cliRun(jobs));
        win.push_back(windowRun(jobs));
      }
      same = same && sameFiles();
      std::printf("  jobs %d, round %d: window %.3f s, tessaly-rip %.3f s\n", jobs, r + 1, win.back(), cli.back());
    }
    const double ratio = median(win) / median(cli);
    std::printf("jobs %d: window %.3f s, tessaly-rip %.3f s, ratio %.3f (goal <= %.2f: %s); files %s\n", jobs,
                median(win), median(cli), ratio, goal, ratio <= goal ? "met" : "NOT met",
                same ? "byte-identical" : "DIFFER");
    met = met && ratio <= goal && same;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return met ? 0 : 1;
}
