// SPDX-License-Identifier: GPL-3.0-or-later
// The built program as a user meets it: tessaly runs on an X server of its own (run_x11.sh
// starts Xvfb and a window manager) and is driven with synthetic pointer and key input
// (xdotool) at the face's places. Every check is something the user sees on the screen, finds
// on disk or pastes from the clipboard.
#include "tests/x11/x11_support.h"

namespace {

using namespace x11_support;

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

TEST_F(X11Scenario, CtrlOOpensADiscImageTypedIntoTheFileDialog) {
  const fs::path first = makeDisc(tmp.path(), "first", {"tone440:150", "music1:120", "noise:90"});
  const fs::path second = makeDisc(tmp.path(), "second", {"music0:75", "noise:60"});
  const Listing listing = listDisc(second);
  ASSERT_EQ(listing.durations.size(), 2u);
  start(first);
  ASSERT_FALSE(window.empty());
  key("ctrl+o");
  const std::string dialog = waitForDialog();
  ASSERT_FALSE(dialog.empty()) << "no file dialog";
  EXPECT_EQ(lines(xdotool("getwindowname " + dialog)), std::vector<std::string>{"Open Disc Image"});
  shot(fs::path(SCREENSHOT_DIR) / "x11_open_image_dialog.png");
  xdotool("type --delay 10 " + q(second));
  key("Return");
  ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 5)) << "the file dialog stayed open";
  // The window lists the image it was given: its rows are the ones copied.
  contextMenu(row(0));
  key("o");
  ASSERT_FALSE(waitForDialog().empty()) << "no message box";
  EXPECT_EQ(clipboard(), "\r\n01\tTrack01\t" + listing.durations[0] + "\r\n02\tTrack02\t" + listing.durations[1]);
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

// A rip to WAV with the keyboard alone: no pointer input at all. Where the focus is, the user
// sees: a focused button area is lit as under the pointer.
TEST_F(X11Scenario, KeysAloneTickTracksAndExtractToWav) {
  const fs::path cue = makeDisc(tmp.path(), "keys", {"tone440:150", "music1:120", "noise:90"});
  const std::string bin = readFile(tmp / "keys.bin");
  start(cue);
  ASSERT_FALSE(window.empty());
  const face::Rect wavImage = face::Info(face::HotImage::imgToWave).place;
  const face::Rect list = face::kTrackList;
  const QImage before = settledShot(tmp / "keys-before.png");
  ASSERT_FALSE(before.isNull());
  auto wavLit = [&](const QImage& img) {
    return changedPixels(before, img, wavImage) > wavImage.width * wavImage.height / 10;
  };

  // Ctrl+A ticks every row: the list's check boxes change, nothing else is run.
  key("ctrl+a");
  const QImage ticked = shotWhen(tmp / "keys-ticked.png", [&](const QImage& img) { return changedPixels(before, img, list) > 0; });
  EXPECT_GT(changedPixels(before, ticked, list), 0) << "Ctrl+A ticked nothing";
  EXPECT_TRUE(fs::is_empty(out()));

  // Tab walks from wherever the focus starts (the drive box, the select-all box, the list) to
  // the WAV area, which lights.
  auto tabToWav = [&](const char* name) {
    QImage img;
    for (int tabs = 0; tabs < 6 && !wavLit(img = settledShot(tmp / "keys-tab.png")); ++tabs) key("Tab");
    ASSERT_TRUE(wavLit(img)) << "Tab did not reach the WAV area";
    shot(fs::path(SCREENSHOT_DIR) / name);
  };
  // Back from the WAV area the list has the focus: Home and Down make the second row current
  // and Space unticks it.
  auto toggleSecondRow = [&](const char* name) {
    key("shift+Tab");
    const QImage img = shotWhen(tmp / "keys-list.png", [&](const QImage& i) { return !wavLit(i); });
    ASSERT_FALSE(wavLit(img)) << "the WAV area kept the focus";
    key("Home");
    key("Down");
    const QImage current = settledShot(tmp / "keys-current.png");
    key("space");
    const QImage toggled = shotWhen(fs::path(SCREENSHOT_DIR) / name,
                                    [&](const QImage& i) { return changedPixels(current, i, list) > 0; });
    ASSERT_GT(changedPixels(current, toggled, list), 0) << "Space in the list changed no tick";
  };
  ASSERT_NO_FATAL_FAILURE(tabToWav("x11_keys_wav_focused.png"));
  ASSERT_NO_FATAL_FAILURE(toggleSecondRow("x11_keys_row_unticked.png"));
  ASSERT_NO_FATAL_FAILURE(tabToWav("x11_keys_wav_focused_again.png"));
  key("Return");  // Enter presses at once
  ASSERT_TRUE(runEnded({out() / "Track01.wav", out() / "Track03.wav"})) << "the extraction did not end with both files";
  expectWavOfSectors(out() / "Track01.wav", bin, 0, 150);
  expectWavOfSectors(out() / "Track03.wav", bin, 270, 90);
  EXPECT_FALSE(fs::exists(out() / "Track02.wav")) << "the unticked track was extracted";
  ASSERT_TRUE(waitUntil([&] { return onlyMainWindowVisible(); }, 5));

  // The focus came back to the window: tick the second row again and press WAV with Space.
  fs::remove(out() / "Track01.wav");
  fs::remove(out() / "Track03.wav");
  ASSERT_NO_FATAL_FAILURE(tabToWav("x11_keys_after_run.png"));
  ASSERT_NO_FATAL_FAILURE(toggleSecondRow("x11_keys_row_ticked.png"));
  ASSERT_NO_FATAL_FAILURE(tabToWav("x11_keys_wav_focused_space.png"));
  key("space");
  ASSERT_TRUE(runEnded({out() / "Track01.wav", out() / "Track02.wav", out() / "Track03.wav"}))
      << "the extraction did not end with every file";
  expectWavOfSectors(out() / "Track01.wav", bin, 0, 150);
  expectWavOfSectors(out() / "Track02.wav", bin, 150, 120);
  expectWavOfSectors(out() / "Track03.wav", bin, 270, 90);

  key("ctrl+q");
  ASSERT_EQ(program->waitExit(10), std::optional<int>(0));
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

  // At twice the scale the window is twice the size, drawn from the 2x artwork.
  start(fs::path(DEMO_CUE), {{"QT_SCALE_FACTOR", "2"}});
  ASSERT_FALSE(window.empty());
  xdotool("mousemove 0 0");
  pause(150);
  const QImage twice = settledShot(fs::path(SCREENSHOT_DIR) / "tessaly-main@2x.png");
  ASSERT_FALSE(twice.isNull());
  EXPECT_EQ(twice.size(), QSize(2 * face::kClient.width, 2 * face::kClient.height));
  key("ctrl+q");
  ASSERT_EQ(program->waitExit(10), std::optional<int>(0));
}

}  // namespace
