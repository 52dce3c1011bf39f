// SPDX-License-Identifier: GPL-3.0-or-later
// Playback benchmark, run by hand against a private PulseAudio with a null sink (never the
// user's own server):
//   - the CPU this process spends playing a track of a disc image, polled once a second as the
//     window polls (goal: under 3% of one core);
//   - the delay from CR_PlayTrack to the first sound at the server, seen on the null sink's
//     monitor, and to the first movement of the play position (goal: under 0.3 s).
//
//   tessaly-play-bench [SECONDS]     (the track's length, default 20)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "cdrip/CDRIP.h"
#include "tests/sound_server.h"
#include "tests/test_support.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

int32_t position() {
  int32_t first = 0, second = 0;
  CR_GetPlayPosition(&first, &second);
  return second;
}

// The null sink's monitor, read as it comes through a FIFO from parec with a short latency:
// remembers when the first sound after arm() arrived.
class FirstSound {
 public:
  explicit FirstSound(const fs::path& dir) : fifo_(dir / "monitor.fifo") {
    mkfifo(fifo_.c_str(), 0600);
    fd_ = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    parec_ = std::make_unique<Child>(
        std::vector<std::string>{"parec", std::string("--device=") + PrivateSoundServer::kSink + ".monitor",
                                 "--format=s16le", "--rate=44100", "--channels=2", "--latency-msec=5", "--raw"},
        std::vector<std::string>{}, fifo_);
    fcntl(fd_, F_SETFL, 0);
    reader_ = std::thread([this] { readLoop(); });
    for (int i = 0; i < 500; ++i) {
      std::string out;
      if (pactlSays("list short source-outputs", &out) && !lines(out).empty()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~FirstSound() {
    parec_.reset();
    reader_.join();
    close(fd_);
  }
  void arm() {
    heardAt_ = 0;
    armedAt_ = Clock::now().time_since_epoch().count();
    armed_ = true;
  }
  // Seconds from arm() to the first sound; negative while none came.
  double delay() const {
    const auto at = heardAt_.load();
    return at == 0 ? -1.0 : static_cast<double>(at - armedAt_) * Clock::period::num / Clock::period::den;
  }

 private:
  void readLoop() {
    std::vector<char> buf(4096);
    for (;;) {
      const ssize_t n = read(fd_, buf.data(), buf.size());
      if (n <= 0) return;
      if (armed_ && heardAt_ == 0 &&
          std::any_of(buf.begin(), buf.begin() + n, [](char c) { return c != 0; })) {
        heardAt_ = Clock::now().time_since_epoch().count();
        armed_ = false;
      }
    }
  }
  fs::path fifo_;
  int fd_ = -1;
  std::unique_ptr<Child> parec_;
  std::thread reader_;
  std::atomic<bool> armed_{false};
  std::atomic<Clock::rep> heardAt_{0};
  Clock::rep armedAt_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
  if (seconds < 2) {
    std::fprintf(stderr, "usage: tessaly-play-bench [SECONDS >= 2]\n");
    return 2;
  }
  TempDir tmp;
  PrivateSoundServer server;
  const std::string length = std::to_string(static_cast<int>(seconds)) + "s";
  const fs::path cue = makeDisc(tmp.path(), "bench", {"music0:" + length, "music1:5s"});
  CR_AddDrive(cue.c_str());
  TCDRIP r;
  std::optional<FirstSound> monitor(std::in_place, tmp.path());

  // The delay to the first sound, several times over; each play is stopped once heard.
  std::vector<double> toSound, toPosition;
  for (int i = 0; i < 10; ++i) {
    const int track = 1 + i % 2;
    const int32_t start = r.Tracks().Objects(track - 1).StartSector * 588;
    monitor->arm();
    const auto t0 = Clock::now();
    if (r.PlayTrack(track) != CDEX_OK) {
      std::fprintf(stderr, "play-bench: playback refused\n");
      return 1;
    }
    double moved = -1;
    while (since(t0) < 3 && (monitor->delay() < 0 || moved < 0)) {
      if (moved < 0 && position() > start) moved = since(t0);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    toSound.push_back(monitor->delay());
    toPosition.push_back(moved);
    r.StopPlayTrack();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  std::sort(toSound.begin(), toSound.end());
  std::sort(toPosition.begin(), toPosition.end());

  // The cost of playing the long track, polled once a second; the monitor's reader is gone,
  // so that only the library's work is counted.
  monitor.reset();
  const int32_t end = (r.Tracks().Objects(0).EndSector + 1) * 588;
  const double cpu0 = cpuSeconds();
  const auto t0 = Clock::now();
  r.PlayTrack(1);
  while (since(t0) < seconds + 10) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    r.IsPlaying();
    if (r.LastPlayPosition() >= end) break;
  }
  const double wall = since(t0);
  const double cpuShare = (cpuSeconds() - cpu0) / wall * 100.0;

  const bool soundOk = toSound.back() >= 0 && toSound.back() < 0.3;
  const bool cpuOk = cpuShare < 3.0;
  std::printf("first sound at the server: median %.3f s, worst %.3f s (goal < 0.3 s): %s\n",
              toSound[toSound.size() / 2], toSound.back(), soundOk ? "met" : "MISSED");
  std::printf("position moving:           median %.3f s, worst %.3f s\n", toPosition[toPosition.size() / 2],
              toPosition.back());
  std::printf("playing %.0f s of an image: %.2f%% of one core over %.1f s (goal < 3%%): %s\n", seconds,
              cpuShare, wall, cpuOk ? "met" : "MISSED");
  return soundOk && cpuOk ? 0 : 1;
}
