// SPDX-License-Identifier: GPL-3.0-or-later
// A private PulseAudio for tests and benchmarks: user mode, a null sink, and a socket in a
// temporary folder that this process's PULSE_SERVER points at, so that a user's own sound
// server is never touched, even when run by hand. Also a recorder of the null sink's monitor.
//
//   PrivateSoundServer server;               // started; PULSE_SERVER set for this process
//   MonitorRecorder rec(server, dir / "rec.raw");  // returns once its stream exists
//   ... play ...
//   std::string pcm = rec.stop();            // 16-bit stereo 44100 Hz, as the sink rendered it
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

extern char** environ;

namespace testing_support {

// A child process started with posix_spawnp, its output to a file; stopped by its process id.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
        const fs::path& output) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string kv = *e;
      const std::string name = kv.substr(0, kv.find('='));
      bool replaced = false;
      for (const auto& x : extraEnv) replaced |= x.compare(0, name.size() + 1, name + "=") == 0;
      if (!replaced) env.push_back(kv);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, (output.string() + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int rc = posix_spawnp(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { stop(SIGTERM); }

  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }

  // Signals the child and waits for it; a child that does not go within 3 s is killed.
  void stop(int sig) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

inline bool pactlSays(const std::string& args, std::string* out = nullptr) {
  const CommandResult r = run("pactl " + args);
  if (out) *out = r.out;
  return r.exitCode == 0;
}

class PrivateSoundServer {
 public:
  static constexpr const char* kSink = "tessaly_test";

  PrivateSoundServer() {
    const fs::path runtime = dir_ / "runtime";
    fs::create_directories(runtime);
    fs::create_directories(dir_ / "home");
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    writeFile(dir_ / "client.conf", "autospawn = no\n");
    const std::string socket = (dir_ / "native").string();
    const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime.string(),
                                          "HOME=" + (dir_ / "home").string(),
                                          "PULSE_COOKIE=" + (dir_ / "cookie").string()};
    server_ = std::make_unique<Child>(
        std::vector<std::string>{
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
            "--realtime=no", "--high-priority=no",
            "--load=module-native-protocol-unix socket=" + socket + " auth-anonymous=1",
            std::string("--load=module-null-sink sink_name=") + kSink +
                " rate=44100 channels=2 format=s16le norewinds=1"},
        env, dir_ / "server.log");
    // From here on this process, the library in it and every client it starts use this server.
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    setenv("PULSE_COOKIE", (dir_ / "cookie").c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (dir_ / "client.conf").c_str(), 1);
    for (int i = 0; i < 500; ++i) {
      if (!server_->running()) break;
      if (fs::exists(socket) && pactlSays("info")) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("the private sound server did not start: " + readFile(dir_ / "server.log.err"));
  }
  ~PrivateSoundServer() {
    server_.reset();
    unsetenv("PULSE_SERVER");
  }
  PrivateSoundServer(const PrivateSoundServer&) = delete;
  PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

  // The number of playback streams the server holds now.
  static int playbackStreams() {
    std::string out;
    if (!pactlSays("list short sink-inputs", &out)) return -1;
    return static_cast<int>(lines(out).size());
  }

 private:
  TempDir dir_;
  std::unique_ptr<Child> server_;
};

// Records the null sink's monitor with parec into a file.
class MonitorRecorder {
 public:
  explicit MonitorRecorder(const fs::path& file) : file_(file) {
    parec_ = std::make_unique<Child>(
        std::vector<std::string>{"parec", std::string("--device=") + PrivateSoundServer::kSink + ".monitor",
                                 "--format=s16le", "--rate=44100", "--channels=2", "--latency-msec=20",
                                 "--raw"},
        std::vector<std::string>{}, file);
    // Sound played before the recording stream exists would be lost.
    for (int i = 0; i < 500; ++i) {
      std::string out;
      if (pactlSays("list short source-outputs", &out) && !lines(out).empty()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("parec did not start recording: " + readFile(file.string() + ".err"));
  }
  // Stops recording and returns what was recorded.
  std::string stop() {
    parec_->stop(SIGINT);
    return readFile(file_);
  }

 private:
  fs::path file_;
  std::unique_ptr<Child> parec_;
};

// PCM without the silence (all-zero frames) at its two ends.
inline std::string trimSilence(const std::string& pcm) {
  size_t begin = 0, end = pcm.size() / 4 * 4;
  while (begin < end && pcm.compare(begin, 4, std::string(4, '\0')) == 0) begin += 4;
  while (end > begin && pcm.compare(end - 4, 4, std::string(4, '\0')) == 0) end -= 4;
  return pcm.substr(begin, end - begin);
}

// PCM without any all-zero frame, wherever it is.
inline std::string withoutSilentFrames(const std::string& pcm) {
  std::string out;
  for (size_t i = 0; i + 4 <= pcm.size(); i += 4)
    if (pcm.compare(i, 4, std::string(4, '\0')) != 0) out.append(pcm, i, 4);
  return out;
}

// The longest run of all-zero frames, in frames.
inline size_t longestSilence(const std::string& pcm) {
  size_t best = 0, run = 0;
  for (size_t i = 0; i + 4 <= pcm.size(); i += 4) {
    run = pcm.compare(i, 4, std::string(4, '\0')) == 0 ? run + 1 : 0;
    best = std::max(best, run);
  }
  return best;
}

}  // namespace testing_support
