// SPDX-License-Identifier: GPL-3.0-or-later
// What the scenarios under a real X server share: the program started in the test's own folders,
// synthetic input through xdotool at the face's places, grabs of the window and what the user
// finds on disk or pastes from the clipboard. A scenario file includes this and writes
// TEST_F(X11Scenario, ...) or derives a fixture of its own from X11Scenario.
//
// The target defines TESSALY_PATH, TESSALY_RIP_PATH, X11_HELPER_PATH, DEMO_CUE and
// SCREENSHOT_DIR (the x11_scenario_test() function in CMakeLists.txt does that).
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QString>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <thread>
#include <utility>

#include "app/face.h"
#include "tests/test_support.h"

namespace x11_support {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

inline void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Polls until `done` holds or `seconds` have passed; the last answer.
template <class F>
bool waitUntil(F done, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (done()) return true;
    pause(50);
  }
  return done();
}

inline std::string q(const fs::path& p) { return shellQuote(p.string()); }

inline std::string xdotool(const std::string& args) { return run("xdotool " + args).out; }

// The point in the middle of a hover area: where a user aims.
struct Point {
  int x, y;
};
inline Point centre(face::HotImage id) {
  for (const face::HotImageInfo& h : face::kHotImages)
    if (h.id == id) return {(h.hoverX.lo + h.hoverX.hi) / 2, (h.hoverY.lo + h.hoverY.hi) / 2};
  return {-1, -1};
}
inline const Point kSelAll{(face::kSelAllHoverX.lo + face::kSelAllHoverX.hi) / 2,
                    (face::kSelAllHoverY.lo + face::kSelAllHoverY.hi) / 2};

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Geometry&) const = default;
};

// What tessaly-rip --list says of a disc: its identifier and each track's duration text.
struct Listing {
  std::string discId;
  std::vector<std::string> durations;
};

inline Listing listDisc(const fs::path& cue) {
  Listing l;
  for (const std::string& line : lines(run(shellQuote(TESSALY_RIP_PATH) + " " + q(cue) + " --list").out)) {
    if (line.rfind("DiscID: ", 0) == 0) l.discId = line.substr(8);
    if (line.rfind("Track", 0) == 0) l.durations.push_back(line.substr(line.rfind(' ') + 1));
  }
  return l;
}

inline uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + static_cast<size_t>(i)]);
  return v;
}
inline uint16_t le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}

// A WAV file must be the 44-byte header of 44100 Hz 16-bit stereo PCM with sizes that agree
// with the file, followed by exactly `sectors` of the disc image from sector `first` on.
inline void expectWavOfSectors(const fs::path& wav, const std::string& bin, size_t first, size_t sectors) {
  SCOPED_TRACE(wav.string());
  ASSERT_TRUE(fs::exists(wav));
  const std::string f = readFile(wav);
  ASSERT_GE(f.size(), 44u);
  EXPECT_EQ(f.substr(0, 4), "RIFF");
  EXPECT_EQ(le32(f, 4), f.size() - 8);
  EXPECT_EQ(f.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(le32(f, 16), 16u);
  EXPECT_EQ(le16(f, 20), 1);  // PCM
  EXPECT_EQ(le16(f, 22), 2);
  EXPECT_EQ(le32(f, 24), 44100u);
  EXPECT_EQ(le32(f, 28), 44100u * 4u);
  EXPECT_EQ(le16(f, 32), 4);
  EXPECT_EQ(le16(f, 34), 16);
  EXPECT_EQ(f.substr(36, 4), "data");
  EXPECT_EQ(le32(f, 40), f.size() - 44);
  EXPECT_EQ(f.size() - 44, sectors * 2352);
  EXPECT_TRUE(f.compare(44, std::string::npos, bin, first * 2352, sectors * 2352) == 0)
      << "the PCM data differs from the disc's sectors";
}

// How many pixels of `r` differ between two grabs of the same window.
inline int changedPixels(const QImage& a, const QImage& b, const face::Rect& r) {
  int n = 0;
  for (int y = r.top; y < r.top + r.height; ++y)
    for (int x = r.left; x < r.left + r.width; ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) ++n;
  return n;
}

// How many pixels differ between two grabs of the same window outside the rectangles given.
inline int changedPixelsOutside(const QImage& a, const QImage& b, const std::vector<face::Rect>& skip) {
  int n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      bool skipped = false;
      for (const face::Rect& r : skip)
        skipped = skipped || (x >= r.left && x < r.left + r.width && y >= r.top && y < r.top + r.height);
      if (!skipped && a.pixel(x, y) != b.pixel(x, y)) ++n;
    }
  return n;
}

// The running program, started with its configuration in the test's own folders.
class Program {
 public:
  // `environment`: variables set after the test's own ones; a value of nothing unsets one.
  Program(const std::vector<std::string>& args, const fs::path& root, const fs::path& log,
          const std::vector<std::pair<std::string, std::optional<std::string>>>& environment = {}) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
      setenv("HOME", (root / "home").c_str(), 1);
      for (const auto& [name, value] : environment) {
        if (value)
          setenv(name.c_str(), value->c_str(), 1);
        else
          unsetenv(name.c_str());
      }
      setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      // The desktop's handler of files and addresses is a recorder (see SetUp).
      setenv("PATH", ((root / "bin").string() + ":" + std::getenv("PATH")).c_str(), 1);
      setenv("XDG_OPEN_LOG", (root / "opened.txt").c_str(), 1);
      unsetenv("BROWSER");
      unsetenv("SESSION_MANAGER");
      FILE* out = std::freopen(log.c_str(), "w", stdout);
      if (out) dup2(fileno(stdout), 2);
      std::vector<char*> argv{const_cast<char*>(TESSALY_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(TESSALY_PATH, argv.data());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t pid() const { return pid_; }
  // The exit status once the process has ended within `seconds` (128 + signal when killed).
  std::optional<int> waitExit(double seconds) {
    waitUntil(
        [&] {
          int st = 0;
          if (!status_ && waitpid(pid_, &st, WNOHANG) == pid_)
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
          return status_.has_value();
        },
        seconds);
    return status_;
  }
  bool running() { return !waitExit(0).has_value(); }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

class X11Scenario : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through run_x11.sh";
    for (const char* d : {"config/tessaly", "home", "out", "bin"}) fs::create_directories(tmp / d);
    writeFile(tmp / "bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>\"$XDG_OPEN_LOG\"\n");
    fs::permissions(tmp / "bin/xdg-open", fs::perms::owner_all);
    fs::create_directories(tmp / "runtime");
    fs::permissions(tmp / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    // The run must not open a file manager, and must write where the test looks.
    writeFile(settingsFile(), "[System]\nOutDir=" + out().string() + "\nOpenWhenDone=0\n");
  }

  void TearDown() override {
    if (HasFailure()) std::cerr << "--- tessaly's output ---\n" << readFile(tmp / "tessaly.log") << "\n";
  }

  fs::path out() const { return tmp / "out"; }
  fs::path settingsFile() const { return tmp / "config/tessaly/tessaly.ini"; }
  // What the program asked the desktop to open, one line each.
  std::string opened() const { return readFile(tmp / "opened.txt"); }
  fs::path cdplayerIni() const { return tmp / "config/tessaly/cdplayer.ini"; }

  // Starts tessaly on a disc image and waits for its main window.
  void start(const fs::path& cue, const std::vector<std::pair<std::string, std::optional<std::string>>>& env = {}) {
    program.emplace(std::vector<std::string>{cue.string()}, tmp.path(), tmp / "tessaly.log", env);
    ASSERT_TRUE(waitUntil([&] { return !(window = findWindow("^Tessaly 2\\.3$")).empty(); }, 15))
        << "no window \"Tessaly 2.3\" appeared";
    pause(300);  // the first paint
  }

  // The first visible window of the program whose name matches `pattern`.
  std::string findWindow(const std::string& pattern) {
    const auto ids = lines(xdotool("search --all --onlyvisible --pid " + std::to_string(program->pid()) +
                                   " --name " + shellQuote(pattern)));
    return ids.empty() ? std::string() : ids.front();
  }
  // The program's visible windows: the main window, and a menu, message box or dialog.
  std::vector<std::string> visibleWindows() {
    return lines(xdotool("search --all --onlyvisible --pid " + std::to_string(program->pid()) + " --name ''"));
  }
  bool onlyMainWindowVisible() {
    const auto w = visibleWindows();
    return w.size() == 1 && w.front() == window;
  }

  Geometry geometry() {
    Geometry g;
    for (const std::string& line : lines(run("xwininfo -id " + window).out)) {
      auto value = [&](const char* key, int& v) {
        const size_t at = line.find(key);
        if (at != std::string::npos) v = std::atoi(line.c_str() + at + std::strlen(key));
      };
      value("Absolute upper-left X:", g.x);
      value("Absolute upper-left Y:", g.y);
      value("Width:", g.width);
      value("Height:", g.height);
    }
    return g;
  }

  // Pointer input at client coordinates of the main window, with time for the program to
  // handle it.
  void moveTo(Point p) {
    xdotool("mousemove --window " + window + " " + std::to_string(p.x) + " " + std::to_string(p.y));
    pause(150);
  }
  void click(Point p, int button = 1) {
    moveTo(p);
    xdotool("click " + std::to_string(button));
    pause(200);
  }
  // Presses at p, moves the pointer by (dx, dy) in steps and releases.
  void drag(Point p, int dx, int dy) {
    moveTo(p);
    xdotool("mousedown 1");
    pause(300);  // for the window manager to take the move over
    for (int i = 1; i <= 5; ++i) {
      xdotool("mousemove_relative -- " + std::to_string(dx / 5) + " " + std::to_string(dy / 5));
      pause(60);
    }
    xdotool("mouseup 1");
    pause(300);
  }
  void key(const std::string& keys) {
    xdotool("key --clearmodifiers " + keys);
    pause(200);
  }

  // Opens the list's context menu at p and waits until it shows.
  void contextMenu(Point p) {
    click(p, 3);
    ASSERT_TRUE(waitUntil([&] { return visibleWindows().size() == 2; }, 5)) << "no context menu";
  }
  // Waits until a second window of the program (a message box, a dialog) shows and has the
  // keyboard; its id, empty when none came.
  std::string waitForDialog() {
    std::string dialog;
    waitUntil(
        [&] {
          const auto active = lines(xdotool("getactivewindow"));
          for (const std::string& w : visibleWindows())
            if (w != window && !active.empty() && active.front() == w) dialog = w;
          return !dialog.empty();
        },
        5);
    return dialog;
  }
  // Waits for a message box, then closes it with Enter.
  void answerMessageBox() {
    ASSERT_FALSE(waitForDialog().empty()) << "no message box";
    key("Return");
    ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 5)) << "the message box stayed open";
  }

  // Lights the WAV (or MP3) button, clicks it, and waits until the run's window has come and
  // gone and every expected file is there.
  void extract(const std::vector<fs::path>& expected, face::HotImage button = face::HotImage::imgToWave) {
    moveTo(centre(button));
    click(centre(button));
    ASSERT_TRUE(runEnded(expected)) << "the extraction did not end with every file written";
  }
  // Waits until the run's window has gone and every expected file is there.
  bool runEnded(const std::vector<fs::path>& expected) {
    return waitUntil(
        [&] {
          if (!findWindow("^Extract To").empty()) return false;
          for (const fs::path& f : expected)
            if (!fs::exists(f)) return false;
          return true;
        },
        30);
  }

  // Closes through the face's close area; the program must end with status 0 and leave its
  // settings file written.
  void closeThroughCloseArea() {
    click(centre(face::HotImage::imgClose));
    const std::optional<int> status = program->waitExit(10);
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    EXPECT_EQ(*status, 0);
  }

  QImage shot(const fs::path& file) {
    const Geometry g = geometry();
    const CommandResult r = run(shellQuote(X11_HELPER_PATH) + " shot " + q(file) + " " + std::to_string(g.x) + " " +
                                std::to_string(g.y) + " " + std::to_string(g.width) + " " +
                                std::to_string(g.height));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return QImage(QString::fromStdString(file.string()));
  }
  // Grabs the window until `ready` holds for the grab, since the program repaints in its own
  // time; the last grab.
  QImage shotWhen(const fs::path& file, const std::function<bool(const QImage&)>& ready) {
    QImage img;
    waitUntil([&] { return !(img = shot(file)).isNull() && ready(img); }, 3);
    return img;
  }
  // A grab once the window has stopped changing.
  QImage settledShot(const fs::path& file) {
    QImage last = shot(file);
    return shotWhen(file, [&](const QImage& img) { return std::exchange(last, img) == img; });
  }
  std::string clipboard() { return run(shellQuote(X11_HELPER_PATH) + " clipboard").out; }

  TempDir tmp;
  std::optional<Program> program;
  std::string window;  // the main window's id
};

// The rows of the track list as the window lays them out: the list's frame and header, then
// one row after the other (measured on the window; a point in the title column).
constexpr int kListHeader = 18, kListRow = 18;
inline Point row(int i) {
  return {face::kTrackList.left + 80, face::kTrackList.top + kListHeader + kListRow * i + kListRow / 2};
}

}  // namespace x11_support
