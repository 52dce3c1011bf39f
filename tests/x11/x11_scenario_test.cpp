// The built program as a user meets it: tessaly runs on an X server of its own (run_x11.sh
// starts Xvfb and a window manager) and is driven with synthetic pointer and key input
// (xdotool) at the face's places. Every check is something the user sees on the screen, finds
// on disk or pastes from the clipboard.
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

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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

std::string q(const fs::path& p) { return shellQuote(p.string()); }

std::string xdotool(const std::string& args) { return run("xdotool " + args).out; }

// The point in the middle of a hover area: where a user aims.
struct Point {
  int x, y;
};
Point centre(face::HotImage id) {
  for (const face::HotImageInfo& h : face::kHotImages)
    if (h.id == id) return {(h.hoverX.lo + h.hoverX.hi) / 2, (h.hoverY.lo + h.hoverY.hi) / 2};
  return {-1, -1};
}
const Point kSelAll{(face::kSelAllHoverX.lo + face::kSelAllHoverX.hi) / 2,
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

Listing listDisc(const fs::path& cue) {
  Listing l;
  for (const std::string& line : lines(run(shellQuote(TESSALY_RIP_PATH) + " " + q(cue) + " --list").out)) {
    if (line.rfind("DiscID: ", 0) == 0) l.discId = line.substr(8);
    if (line.rfind("Track", 0) == 0) l.durations.push_back(line.substr(line.rfind(' ') + 1));
  }
  return l;
}

uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + static_cast<size_t>(i)]);
  return v;
}
uint16_t le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}

// A WAV file must be the 44-byte header of 44100 Hz 16-bit stereo PCM with sizes that agree
// with the file, followed by exactly `sectors` of the disc image from sector `first` on.
void expectWavOfSectors(const fs::path& wav, const std::string& bin, size_t first, size_t sectors) {
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
int changedPixels(const QImage& a, const QImage& b, const face::Rect& r) {
  int n = 0;
  for (int y = r.top; y < r.top + r.height; ++y)
    for (int x = r.left; x < r.left + r.width; ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) ++n;
  return n;
}

// How many pixels differ between two grabs of the same window outside the rectangles given.
int changedPixelsOutside(const QImage& a, const QImage& b, const std::vector<face::Rect>& skip) {
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
    const bool ended = waitUntil(
        [&] {
          if (!findWindow("^Extract To").empty()) return false;
          for (const fs::path& f : expected)
            if (!fs::exists(f)) return false;
          return true;
        },
        30);
    ASSERT_TRUE(ended) << "the extraction did not end with every file written";
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
Point row(int i) {
  return {face::kTrackList.left + 80, face::kTrackList.top + kListHeader + kListRow * i + kListRow / 2};
}

TEST_F(X11Scenario, TickAllExtractToWavThenCloseThroughTheCloseArea) {
  const fs::path cue = makeDisc(tmp.path(), "disc", {"music0:150", "data:75", "tone440:120", "noise:90"});
  const std::string bin = readFile(tmp / "disc.bin");
  start(cue);
  ASSERT_FALSE(window.empty());

  // A borderless window of 638 x 480 at the centre of the screen.
  const Geometry g = geometry();
  EXPECT_EQ(g.width, face::kClient.width);
  EXPECT_EQ(g.height, face::kClient.height);
  EXPECT_NEAR(g.x, (1280 - g.width) / 2, 1);
  EXPECT_NEAR(g.y, (1024 - g.height) / 2, 1);
  EXPECT_NE(run("xprop -id " + window + " _NET_FRAME_EXTENTS").out.find("= 0, 0, 0, 0"), std::string::npos)
      << "the window manager framed the window";

  click(kSelAll);  // ticks every row, the data track's too
  extract({out() / "Track01.wav", out() / "Track03.wav", out() / "Track04.wav"});
  expectWavOfSectors(out() / "Track01.wav", bin, 0, 150);
  expectWavOfSectors(out() / "Track03.wav", bin, 225, 120);
  expectWavOfSectors(out() / "Track04.wav", bin, 345, 90);
  EXPECT_FALSE(fs::exists(out() / "Track02.wav")) << "the data track was extracted";
  int wavFiles = 0;  // beside them only the rip log
  for (const auto& e : fs::directory_iterator(out())) wavFiles += e.path().extension() == ".wav" ? 1 : 0;
  EXPECT_EQ(wavFiles, 3);
  EXPECT_TRUE(onlyMainWindowVisible());

  closeThroughCloseArea();
  // Closing saved every setting, the ones the file lacked included.
  const std::string settings = readFile(settingsFile());
  EXPECT_NE(settings.find("OutDir=" + out().string() + "\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("OpenWhenDone=0"), std::string::npos) << settings;
  EXPECT_NE(settings.find("[MP3]"), std::string::npos) << settings;
  EXPECT_NE(settings.find("SampleRates=44100"), std::string::npos) << settings;
  EXPECT_NE(settings.find("bPrivate=0"), std::string::npos) << settings;
}

TEST_F(X11Scenario, ContextMenuSelectsRenamesSavesAndCopies) {
  const fs::path cue = makeDisc(tmp.path(), "menu", {"tone440:150", "music1:120", "noise:90"});
  const std::string bin = readFile(tmp / "menu.bin");
  const Listing listing = listDisc(cue);
  ASSERT_EQ(listing.durations.size(), 3u);
  start(cue);
  ASSERT_FALSE(window.empty());

  // Select All, then Invert Selection: nothing is ticked, and the WAV button says so.
  contextMenu(row(0));
  key("a");
  contextMenu(row(0));
  key("i");
  ASSERT_TRUE(onlyMainWindowVisible());
  click(centre(face::HotImage::imgToWave));
  answerMessageBox();  // "No Audio Track Selected!"
  EXPECT_TRUE(fs::is_empty(out()));

  // Rename the second track in place and save the names.
  contextMenu(row(1));  // the right click also selects the row
  key("r");  // "&Rename Track" shares its R with "&Read CD Information": R only highlights it
  key("Return");
  key("ctrl+a");
  xdotool("type --delay 20 'Night Drive'");
  key("Return");
  contextMenu(row(1));
  key("s");
  ASSERT_TRUE(waitUntil([&] { return fs::exists(cdplayerIni()); }, 5)) << "cdplayer.ini was not written";
  const std::string ini = readFile(cdplayerIni());
  EXPECT_NE(ini.find("[" + listing.discId + "]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("0=Track01\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("1=Night Drive\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("2=Track03\n"), std::string::npos) << ini;

  // Copy the track information: the clipboard holds one line per row, and a box says so.
  contextMenu(row(0));
  key("o");
  ASSERT_FALSE(waitForDialog().empty()) << "no message box";
  EXPECT_EQ(clipboard(), "\r\n01\tTrack01\t" + listing.durations[0] + "\r\n02\tNight Drive\t" + listing.durations[1] +
                             "\r\n03\tTrack03\t" + listing.durations[2]);
  answerMessageBox();

  // The new title names the file.
  contextMenu(row(2));
  key("a");
  extract({out() / "Track01.wav", out() / "Night Drive.wav", out() / "Track03.wav"});
  expectWavOfSectors(out() / "Track01.wav", bin, 0, 150);
  expectWavOfSectors(out() / "Night Drive.wav", bin, 150, 120);
  expectWavOfSectors(out() / "Track03.wav", bin, 270, 90);

  click(centre(face::HotImage::imgExit));
  ASSERT_EQ(program->waitExit(10), std::optional<int>(0));

  // The saved name comes back when the disc is listed again.
  start(cue);
  ASSERT_FALSE(window.empty());
  contextMenu(row(0));
  key("o");
  ASSERT_FALSE(waitForDialog().empty()) << "no message box";
  EXPECT_NE(clipboard().find("\r\n02\tNight Drive\t"), std::string::npos);
  answerMessageBox();
  closeThroughCloseArea();
}

TEST_F(X11Scenario, FaceLightsDragsAndMinimizes) {
  start(makeDisc(tmp.path(), "face", {"tone440:75", "music2:75"}));
  ASSERT_FALSE(window.empty());
  const face::Rect status{face::kStatusLeft, face::kStatusTop, 420, 16};

  // Each button lights while the pointer is on its area, and nothing else changes but the
  // status line, which shows the button's hint. Between two buttons the pointer rests on a
  // plain point of the face, which empties the status line.
  const Point rest{300, 40};
  moveTo(centre(face::HotImage::imgToWave));
  moveTo(rest);
  const QImage before = settledShot(tmp / "before.png");
  ASSERT_FALSE(before.isNull());
  for (const face::HotImageInfo& h : face::kHotImages) {
    SCOPED_TRACE(std::string(h.name));
    moveTo(centre(h.id));
    const QImage lit = shotWhen(tmp / "lit.png", [&](const QImage& img) {
      return changedPixels(before, img, h.place) > h.place.width * h.place.height / 10 &&
             changedPixels(before, img, status) > 0;
    });
    ASSERT_FALSE(lit.isNull());
    EXPECT_GT(changedPixels(before, lit, h.place), h.place.width * h.place.height / 10) << "the button did not light";
    EXPECT_EQ(changedPixelsOutside(before, lit, {h.place, status}), 0) << "more than the button changed";
    EXPECT_GT(changedPixels(before, lit, status), 0) << "no hint in the status line";
    moveTo(rest);
  }
  const face::Rect wavImage = face::Info(face::HotImage::imgToWave).place;
  // (36, y) lies left of every hover area: the light goes out.
  moveTo({36, 172});
  const QImage left = shotWhen(tmp / "left.png", [&](const QImage& img) { return changedPixels(before, img, wavImage) == 0; });
  EXPECT_EQ(changedPixels(before, left, wavImage), 0) << "the WAV button stayed lit";

  // A press on an active area does not move the window, nor does releasing it elsewhere click.
  const Geometry g0 = geometry();
  moveTo(centre(face::HotImage::imgToWave));
  drag(centre(face::HotImage::imgToWave), 100, 50);
  EXPECT_EQ(geometry(), g0) << "a button area moved the window";
  EXPECT_TRUE(onlyMainWindowVisible()) << "a press dragged off the button still clicked it";
  EXPECT_TRUE(fs::is_empty(out()));

  // A press on the lit picture beside its hover area (x 95) drags the window.
  moveTo(centre(face::HotImage::imgToWave));
  drag({95, 172}, 100, 50);
  Geometry moved = g0;
  moved.x += 100;
  moved.y += 50;
  EXPECT_TRUE(waitUntil([&] { return geometry() == moved; }, 3))
      << "the window is at " << geometry().x << "," << geometry().y << ", not " << moved.x << "," << moved.y;
  // And so does any plain point of the face.
  drag({300, 40}, -100, -50);
  EXPECT_TRUE(waitUntil([&] { return geometry() == g0; }, 3))
      << "the window is at " << geometry().x << "," << geometry().y << ", not " << g0.x << "," << g0.y;

  // The minimize area iconifies the window; the window manager brings it back.
  click(centre(face::HotImage::imgMin));
  auto wmState = [&] { return run("xprop -id " + window + " WM_STATE").out; };
  EXPECT_TRUE(waitUntil([&] { return wmState().find("Iconic") != std::string::npos; }, 5)) << wmState();
  EXPECT_TRUE(program->running());
  xdotool("windowactivate " + window);
  EXPECT_TRUE(waitUntil([&] { return wmState().find("Normal") != std::string::npos; }, 5)) << wmState();
  pause(300);
  closeThroughCloseArea();
}

TEST_F(X11Scenario, ButtonAreasOpenOptionsHelpTheMakersPageAndExtractMp3) {
  start(makeDisc(tmp.path(), "buttons", {"tone440:150", "music0:120"}));
  ASSERT_FALSE(window.empty());

  // Options: the dialog opens, Esc closes it.
  click(centre(face::HotImage::imgOptions));
  const std::string options = waitForDialog();
  ASSERT_FALSE(options.empty()) << "no options dialog";
  EXPECT_EQ(lines(xdotool("getwindowname " + options)), std::vector<std::string>{"Options"});
  key("Escape");
  ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 5)) << "the options dialog stayed open";

  // Help opens the help page beside the program through the desktop's handler, the maker's
  // mark the maker's address.
  const fs::path help = fs::canonical(TESSALY_PATH).parent_path() / "tessaly.html";
  EXPECT_TRUE(fs::exists(help));
  click(centre(face::HotImage::imgHelp));
  EXPECT_TRUE(waitUntil([&] { return opened().find("file://" + help.string() + "\n") != std::string::npos; }, 5))
      << "opened: " << opened();
  click(centre(face::HotImage::imgCorvane));
  EXPECT_TRUE(waitUntil([&] { return opened().find(std::string(face::kMakerUrl) + "\n") != std::string::npos; }, 5))
      << "opened: " << opened();

  // MP3: every ticked track becomes an MP3 file that ends in an ID3v1 tag with its title.
  click(kSelAll);
  extract({out() / "Track01.mp3", out() / "Track02.mp3"}, face::HotImage::imgToMP3);
  for (const std::string title : {"Track01", "Track02"}) {
    SCOPED_TRACE(title);
    std::string f = readFile(out() / (title + ".mp3"));
    ASSERT_GT(f.size(), 1000u);
    // An ID3v2 tag in front, when there is one: ten bytes and a size of seven bits a byte.
    if (f.compare(0, 3, "ID3") == 0) {
      const size_t size = (static_cast<size_t>(f[6] & 0x7F) << 21) | (static_cast<size_t>(f[7] & 0x7F) << 14) |
                          (static_cast<size_t>(f[8] & 0x7F) << 7) | static_cast<size_t>(f[9] & 0x7F);
      f = f.substr(10 + size);
    }
    EXPECT_EQ(static_cast<unsigned char>(f[0]), 0xFF) << "no MPEG frame at the start";
    EXPECT_EQ(static_cast<unsigned char>(f[1]) & 0xE0, 0xE0) << "no MPEG frame at the start";
    const std::string tag = f.substr(f.size() - 128);
    EXPECT_EQ(tag.substr(0, 3), "TAG");
    EXPECT_EQ(tag.substr(3, title.size()), title);
    EXPECT_TRUE(tag[3 + title.size()] == '\0' || tag[3 + title.size()] == ' ');
  }
  closeThroughCloseArea();
}

// The window on the demo disc, as the build's screenshots: at rest, with a lit button, and
// with every track ticked and the context menu open.
TEST_F(X11Scenario, AFolderForSettingsThatCannotBeWrittenStillOpensTheWindow) {
  // The configuration folder below a plain file, and no HOME at all: the window opens with the
  // start-up values, tells why in its status line, and closes normally.
  writeFile(tmp / "plain", "a file");
  const std::string config = (tmp / "plain" / "config").string();
  const QImage normalStart = [&] {
    start(DEMO_CUE);
    const QImage img = settledShot(tmp / "normal.png");
    closeThroughCloseArea();
    return img;
  }();
  for (const auto& env : std::vector<std::vector<std::pair<std::string, std::optional<std::string>>>>{
           {{"XDG_CONFIG_HOME", config}}, {{"XDG_CONFIG_HOME", config}, {"HOME", std::nullopt}}}) {
    start(DEMO_CUE, env);
    const QImage img = settledShot(fs::path(SCREENSHOT_DIR) / "x11_settings_cannot_be_saved.png");
    ASSERT_FALSE(img.isNull());
    // The status line says something else than after a normal start; the rest is the same.
    const face::Rect status{face::kStatusLeft, face::kStatusTop, 420, 16};
    EXPECT_GT(changedPixels(normalStart, img, status), 50);
    EXPECT_EQ(changedPixelsOutside(normalStart, img, {status}), 0);
    closeThroughCloseArea();
    EXPECT_TRUE(fs::is_regular_file(tmp / "plain"));
  }
}

TEST_F(X11Scenario, ScreenshotsOfTheDemoDisc) {
  start(fs::path(DEMO_CUE));
  ASSERT_FALSE(window.empty());
  xdotool("mousemove 0 0");  // the pointer away from the window
  pause(150);
  const QImage main = settledShot(fs::path(SCREENSHOT_DIR) / "tessaly-main.png");
  ASSERT_FALSE(main.isNull());
  EXPECT_EQ(main.size(), QSize(face::kClient.width, face::kClient.height));
  const face::Rect wavImage = face::Info(face::HotImage::imgToWave).place;
  moveTo(centre(face::HotImage::imgToWave));
  EXPECT_GT(changedPixels(main, shotWhen(fs::path(SCREENSHOT_DIR) / "tessaly-hover.png",
                                         [&](const QImage& img) { return changedPixels(main, img, wavImage) > 0; }),
                          wavImage),
            0);
  click(kSelAll);
  moveTo({300, 40});  // over the face, as a pointer on its way to the list
  contextMenu(row(1));
  key("Down");  // the first item lit, its hint in the status line
  pause(200);
  EXPECT_FALSE(shot(fs::path(SCREENSHOT_DIR) / "tessaly-menu.png").isNull());
  key("Escape");
  ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 5));
  closeThroughCloseArea();
}

}  // namespace
