// SPDX-License-Identifier: GPL-3.0-or-later
// Names without typing, as a user meets them in the built program on an X server of its own:
// CD-Text names the demo disc; a disc without names is named by the stand-in web service on
// 127.0.0.1, by the menu command or by itself when listed, through the release chooser when
// asked; saved names come back from cdplayer.ini when no service answers. The checks are the
// rows as the clipboard receives them, the service's request log and cdplayer.ini on disk.
#include <nlohmann/json.hpp>
#include <regex>

#include "names/DiscId.h"
#include "tests/names/mb_answer.h"
#include "tests/names/stand_in_server.h"
#include "tests/x11/x11_support.h"

namespace {

using namespace x11_support;
using nlohmann::json;

// A disc as tessaly-rip lists it: the key of its cdplayer.ini section, each track's duration,
// and its MusicBrainz disc ID computed from the listed sectors.
struct ListedDisc {
  std::string iniKey;
  std::vector<std::string> durations;
  names::TMbDisc mb;
};

ListedDisc listed(const fs::path& cue) {
  ListedDisc d;
  names::TDiscLayout layout;
  // "<title> <NN> <Audio|Data> <first sector> <last sector> <duration>"; a title may hold spaces.
  const std::regex track(R"(^.* (\d\d) (Audio|Data) (\d+) (\d+) (\S+)$)");
  const CommandResult r = run(shellQuote(TESSALY_RIP_PATH) + " " + q(cue) + " --list --no-lookup");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const std::string& line : lines(r.out)) {
    std::smatch m;
    if (line.rfind("DiscID: ", 0) == 0) {
      d.iniKey = line.substr(8);
    } else if (std::regex_match(line, m, track)) {
      layout.tracks.push_back({std::stoi(m[1]), static_cast<uint32_t>(std::stoul(m[3])), m[2] == "Audio"});
      layout.leadOut = static_cast<uint32_t>(std::stoul(m[4])) + 1;
      d.durations.push_back(m[5]);
    }
  }
  d.mb = names::DiscIdOf(layout);
  return d;
}

// What Copy Track Information puts on the clipboard for rows of these titles.
std::string rowsText(const std::vector<std::string>& titles, const std::vector<std::string>& durations) {
  std::string text;
  for (size_t i = 0; i < titles.size(); ++i) {
    const std::string no = (i < 9 ? "0" : "") + std::to_string(i + 1);
    text += "\r\n" + no + "\t" + titles[i] + "\t" + (i < durations.size() ? durations[i] : "?");
  }
  return text;
}

using Release = MbRelease;

// The track titles of the first release in the stored answer for the demo disc.
std::vector<std::string> demoAnswerTitles() {
  fs::path demo;
  for (const auto& e : fs::directory_iterator(fs::path(ANSWERS_DIR) / "demo/ws/2/discid")) demo = e.path();
  const json root = json::parse(readFile(demo));
  std::vector<std::string> titles;
  for (const json& t : root["releases"][0]["media"][0]["tracks"])
    titles.push_back(t["title"].get<std::string>());
  return titles;
}

const Release kMorning{"Morning Tones", "Dawn Chorus", "2019-04-02", {"Dawn", "Noon", "Dusk"}};
const Release kEvening{"Evening Tones", "Night Shift", "2021", {"Late", "Later", "Latest"}};

class X11Lookup : public X11Scenario {
 protected:
  void SetUp() override {
    X11Scenario::SetUp();
    fs::create_directories(tmp / "answers");
    // The service's own rules: the program's User-Agent, and at most one request a second.
    server = std::make_unique<StandInServer>((tmp / "answers").string(),
                                             std::vector<std::string>{"--agent", "Tessaly/", "--min-interval", "1"});
    ASSERT_TRUE(server->Running());
    // Whatever the test runs besides the window (tessaly-rip) asks the stand-in too.
    setenv("TESSALY_MUSICBRAINZ_URL", caseUrl("none").c_str(), 1);
  }
  void TearDown() override {
    X11Scenario::TearDown();
    if (HasFailure() && server) {
      std::cerr << "--- the stand-in's requests ---\n";
      for (const std::string& l : server->Log()) std::cerr << l << "\n";
    }
    unsetenv("TESSALY_MUSICBRAINZ_URL");
  }

  std::string caseUrl(const std::string& name) const { return server->Url() + "/" + name; }
  // A case folder of the stand-in answering for one disc.
  void answer(const std::string& name, const names::TMbDisc& disc, const std::vector<Release>& releases) {
    WriteMbAnswer(tmp / "answers", name, disc, releases);
  }
  void settings(bool automatic) {
    writeFile(settingsFile(), "[System]\nOutDir=" + out().string() + "\nOpenWhenDone=0\n[Lookup]\nAutomatic=" +
                                  (automatic ? "1" : "0") + "\n");
  }
  void startAsking(const fs::path& cue, const std::string& url) { start(cue, {{"TESSALY_MUSICBRAINZ_URL", url}}); }

  // The rows as Copy Track Information puts them on the clipboard (its message box closed).
  std::string copiedRows() {
    contextMenu(row(0));
    key("o");
    if (waitForDialog().empty()) return "(no message box after the copy command)";
    const std::string text = clipboard();
    answerMessageBox();
    return text;
  }

  // Waits, generously for a slow sanitized build, until the release chooser is shown and has
  // the keyboard; its id, empty when it did not come.
  std::string waitForChooser(double seconds = 30) {
    std::string chooser;
    waitUntil(
        [&] {
          chooser = findWindow("^Choose a release$");
          const auto active = lines(xdotool("getactivewindow"));
          return !chooser.empty() && !active.empty() && active.front() == chooser;
        },
        seconds);
    return chooser;
  }

  // A settled grab of another window of the program than the main one.
  QImage shotOf(const std::string& id, const fs::path& file) {
    const std::string main = std::exchange(window, id);
    const QImage img = settledShot(file);
    window = main;
    return img;
  }
  // A settled grab of the main window with the pointer off it (no hint in the status line).
  QImage restingShot(const fs::path& file) {
    xdotool("mousemove 0 0");
    pause(150);
    return settledShot(file);
  }
  static constexpr face::Rect kStatus{face::kStatusLeft, face::kStatusTop, 420, 16};

  std::unique_ptr<StandInServer> server;
};

TEST_F(X11Lookup, TheDemoDiscIsNamedFromItsCdTextAndTheMenuCommandAsksOnlyWhenTold) {
  // The service knows the demo disc from two releases of its own (the stored answers).
  fs::copy(fs::path(ANSWERS_DIR) / "demo", tmp / "answers/demo", fs::copy_options::recursive);
  const ListedDisc demo = listed(DEMO_CUE);
  ASSERT_EQ(demo.durations.size(), 5u);
  const std::vector<std::string> cdText{"Opening", "Second Thoughts", "Rising", "Coda", "Track05"};
  startAsking(DEMO_CUE, caseUrl("demo"));
  ASSERT_FALSE(window.empty());
  const QImage fromText = restingShot(fs::path(SCREENSHOT_DIR) / "tessaly-lookup-cdtext.png");
  ASSERT_FALSE(fromText.isNull());

  EXPECT_EQ(copiedRows(), rowsText(cdText, demo.durations));
  EXPECT_TRUE(server->Requests().empty()) << "a disc with CD-Text was looked up by itself";

  // Asked for: the chooser lists both releases with the first preselected. Escape keeps the
  // CD-Text names.
  contextMenu(row(0));
  key("l");
  std::string chooser = waitForChooser();
  ASSERT_FALSE(chooser.empty()) << "no release chooser after Look Up Names Online";
  key("Escape");
  ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 10)) << "the chooser stayed open";
  EXPECT_EQ(copiedRows(), rowsText(cdText, demo.durations));

  // Asked again, Enter takes the first release: its titles replace the CD-Text ones, the data
  // track's row keeps its caption.
  contextMenu(row(0));
  key("l");
  chooser = waitForChooser();
  ASSERT_FALSE(chooser.empty()) << "no release chooser the second time";
  key("Return");
  ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 10)) << "the chooser stayed open";
  const QImage fromService = restingShot(fs::path(SCREENSHOT_DIR) / "tessaly-lookup-demo-release.png");
  std::vector<std::string> firstRelease = demoAnswerTitles();
  ASSERT_EQ(firstRelease.size(), 4u);
  firstRelease.push_back("Track05");
  EXPECT_EQ(copiedRows(), rowsText(firstRelease, demo.durations));
  // The status line said one thing for CD-Text and says another now (its words are seen on the
  // screenshots only).
  EXPECT_GT(changedPixels(fromText, fromService, kStatus), 20);
  const auto asked = server->Requests();
  ASSERT_EQ(asked.size(), 2u);
  for (const std::string& line : asked)
    EXPECT_NE(line.find(" 200 /demo/ws/2/discid/" + demo.mb.id + "?"), std::string::npos) << line;
  EXPECT_EQ(server->Broken(), "");
  EXPECT_FALSE(fs::exists(cdplayerIni())) << "names were saved without being asked";
  closeThroughCloseArea();
}

TEST_F(X11Lookup, AnUnnamedDiscIsNamedByTheMenuCommandSavedAndNamedFromTheFileWhenNobodyAnswers) {
  const fs::path cue = makeDisc(tmp.path(), "plain", {"tone440:150", "music1:120", "noise:90"});
  const ListedDisc disc = listed(cue);
  ASSERT_EQ(disc.durations.size(), 3u);
  ASSERT_TRUE(disc.mb.ok) << disc.mb.error;
  answer("one", disc.mb, {kMorning});
  settings(false);  // no look-up by itself: the menu command is what asks
  const std::string url = caseUrl("one");
  startAsking(cue, url);
  ASSERT_FALSE(window.empty());
  const QImage unnamed = restingShot(tmp / "unnamed.png");
  EXPECT_EQ(copiedRows(), rowsText({"Track01", "Track02", "Track03"}, disc.durations));
  EXPECT_TRUE(server->Requests().empty()) << "looked up with automatic look-up off";

  // Asked for, even one release is offered to choose; Enter takes it.
  contextMenu(row(0));
  key("l");
  const std::string chooser = waitForChooser();
  ASSERT_FALSE(chooser.empty()) << "no release chooser after Look Up Names Online";
  EXPECT_FALSE(shotOf(chooser, fs::path(SCREENSHOT_DIR) / "tessaly-lookup-chooser-one.png").isNull());
  key("Return");
  ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 10)) << "the chooser stayed open";
  const QImage named = restingShot(fs::path(SCREENSHOT_DIR) / "tessaly-lookup-names.png");
  EXPECT_GT(changedPixels(unnamed, named, face::kTrackList), 0) << "the rows look as before";
  EXPECT_GT(changedPixels(unnamed, named, kStatus), 20) << "the status line says nothing new";
  EXPECT_EQ(copiedRows(), rowsText(kMorning.tracks, disc.durations));
  const auto asked = server->Requests();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0].find(" 200 /one/ws/2/discid/" + disc.mb.id + "?"), std::string::npos) << asked[0];
  EXPECT_NE(asked[0].find("toc=" + disc.mb.toc), std::string::npos) << asked[0];
  EXPECT_EQ(server->Broken(), "");
  EXPECT_FALSE(fs::exists(cdplayerIni())) << "names were saved without being asked";

  // Save CD Information: the disc's section holds the album values and the rows.
  contextMenu(row(0));
  key("s");
  ASSERT_TRUE(waitUntil([&] { return readFile(cdplayerIni()).find("2=Dusk") != std::string::npos; }, 10))
      << "cdplayer.ini was not written";
  const std::string ini = readFile(cdplayerIni());
  const size_t section = ini.find("[" + disc.iniKey + "]\n");
  ASSERT_NE(section, std::string::npos) << ini;
  const std::string body = ini.substr(section, ini.find("\n[", section + 1) - section);
  for (const std::string& entry : {"artist=" + kMorning.artist, "album=" + kMorning.title, "title=" + kMorning.title,
                                   std::string("year=2019"), "0=" + kMorning.tracks[0], "1=" + kMorning.tracks[1],
                                   "2=" + kMorning.tracks[2]})
    EXPECT_NE(body.find("\n" + entry + "\n"), std::string::npos) << entry << " is not in\n" << body;
  closeThroughCloseArea();

  // The service gone and automatic look-up on: the next start names the rows from the file,
  // and the menu command cannot reach anybody but leaves them as they are.
  server.reset();
  settings(true);
  startAsking(cue, url);
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(copiedRows(), rowsText(kMorning.tracks, disc.durations));
  const QImage fromFile = restingShot(fs::path(SCREENSHOT_DIR) / "tessaly-lookup-from-file.png");
  contextMenu(row(0));
  key("l");
  // The look-up ends in a word on the status line and no chooser.
  const fs::path unreachable = fs::path(SCREENSHOT_DIR) / "tessaly-lookup-unreachable.png";
  EXPECT_TRUE(waitUntil([&] { return changedPixels(fromFile, restingShot(unreachable), kStatus) > 20; }, 30))
      << "the status line did not tell of the failed look-up";
  EXPECT_TRUE(onlyMainWindowVisible());
  EXPECT_EQ(copiedRows(), rowsText(kMorning.tracks, disc.durations));
  EXPECT_NE(readFile(cdplayerIni()).find("album=" + kMorning.title + "\n"), std::string::npos);
  closeThroughCloseArea();
}

TEST_F(X11Lookup, AnUnnamedDiscIsLookedUpWhenListedAndTwoReleasesAreChosenWithEnter) {
  const fs::path cue = makeDisc(tmp.path(), "two", {"music0:150", "tone440:120", "noise:90"});
  const ListedDisc disc = listed(cue);
  ASSERT_EQ(disc.durations.size(), 3u);
  ASSERT_TRUE(disc.mb.ok) << disc.mb.error;
  answer("two", disc.mb, {kMorning, kEvening});
  startAsking(cue, caseUrl("two"));  // automatic look-up is on by default
  ASSERT_FALSE(window.empty());

  // Without any command the chooser comes by itself.
  const std::string chooser = waitForChooser();
  ASSERT_FALSE(chooser.empty()) << "no release chooser after listing an unnamed disc";
  const QImage chooserShot = shotOf(chooser, fs::path(SCREENSHOT_DIR) / "tessaly-lookup-chooser.png");
  EXPECT_FALSE(chooserShot.isNull());
  key("Return");
  ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 10)) << "the chooser stayed open";
  EXPECT_FALSE(restingShot(fs::path(SCREENSHOT_DIR) / "tessaly-lookup-names-automatic.png").isNull());
  EXPECT_EQ(copiedRows(), rowsText(kMorning.tracks, disc.durations));
  ASSERT_EQ(server->Requests().size(), 1u);
  EXPECT_NE(server->Requests()[0].find(" 200 /two/ws/2/discid/" + disc.mb.id + "?"), std::string::npos)
      << server->Requests()[0];
  EXPECT_EQ(server->Broken(), "");
  closeThroughCloseArea();
}

}  // namespace
