// SPDX-License-Identifier: GPL-3.0-or-later
// The window's player end to end: Play on a disc image in the main window, heard at a private
// sound server byte for byte, and the timer moving on to the next track when one ends.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <functional>
#include <optional>

#include "app/Application.h"
#include "app/globals.h"
#include "app/uMain.h"
#include "sound_server.h"
#include "event_loop.h"
#include "test_support.h"

namespace {

using namespace testing_support;

int g_argc = 1;
char g_arg0[] = "mainwindow_play_test";
char* g_argv[] = {g_arg0, nullptr};

TEST(WindowPlayer, PlayIsHeardExactlyAndTheTimerPlaysOn) {
  TApplication app(g_argc, g_argv);
  PrivateSoundServer server;
  TempDir tmp;
  setenv("XDG_CONFIG_HOME", (tmp.path() / "config").c_str(), 1);
  setenv("HOME", tmp.path().c_str(), 1);
  CR_DeInit();
  Settings = StartupSettings();
  // Two tracks of noise: 1.6 s and 1.2 s.
  const fs::path cue = makeDisc(tmp.path(), "noise", {"noise:120", "noise:90"});
  const std::string bin = readFile(tmp / "noise.bin");
  ASSERT_EQ(CR_AddDrive(cue.c_str()), CDEX_OK);
  {
    TfrmMain w;
    ASSERT_EQ(w.RowCount(), 2);
    MonitorRecorder rec(tmp / "rec.raw");
    w.btnPlayClick();  // no row selected: track 1
    EXPECT_EQ(w.SelectedRow(), 0);
    EXPECT_EQ(w.PlayIndex, 0);
    // A tick sees track 1 moving and marks its row; then the track ends and the timer plays on.
    EXPECT_TRUE(runUntil([&] { return w.RowIcon(0) == 2; }, 2500));
    ASSERT_TRUE(runUntil([&] { return w.PlayIndex == 1; }, 5000));
    EXPECT_EQ(w.SelectedRow(), 1);
    EXPECT_TRUE(runUntil([&] { return w.RowIcon(1) == 2 && w.RowIcon(0) == 0; }, 2500));
    w.btnStopClick();
    EXPECT_FALSE(w.PlayMode);
    const std::string heard = trimSilence(rec.stop());
    const std::string track1 = bin.substr(0, 120 * 2352);
    ASSERT_GE(heard.size(), track1.size());
    EXPECT_TRUE(heard.compare(0, track1.size(), track1) == 0) << "track 1 was not heard exactly";
    // After it, and a moment of silence, track 2 from its first frame.
    const std::string rest = heard.substr(track1.size());
    const std::string track2 = bin.substr(120 * 2352, 90 * 2352);
    const size_t startOfTrack2 = rest.find_first_not_of('\0');
    ASSERT_NE(startOfTrack2, std::string::npos);
    const std::string tail = rest.substr(startOfTrack2 / 4 * 4);
    ASSERT_GT(tail.size(), 4u * 588);
    EXPECT_TRUE(track2.compare(0, std::min(tail.size(), track2.size()), tail, 0,
                               std::min(tail.size(), track2.size())) == 0);
  }
  CR_DeInit();
}

TEST(WindowPlayer, AnEjectedImageIsListedAgainByEjectOrByChoosingItsDrive) {
  TApplication app(g_argc, g_argv);
  TempDir tmp;
  setenv("XDG_CONFIG_HOME", (tmp.path() / "config").c_str(), 1);
  setenv("HOME", tmp.path().c_str(), 1);
  CR_DeInit();
  Settings = StartupSettings();
  const fs::path cue = makeDisc(tmp.path(), "tray", {"noise:120", "noise:90"});
  ASSERT_EQ(CR_AddDrive(cue.c_str()), CDEX_OK);
  {
    TfrmMain w;
    ASSERT_EQ(w.RowCount(), 2);
    w.btnEjectClick();
    EXPECT_EQ(w.RowCount(), 0);
    w.Timer1Timer();  // the tray stays open: nobody can push an image's tray in
    EXPECT_EQ(w.RowCount(), 0);
    w.btnEjectClick();  // a second press closes it
    EXPECT_EQ(w.RowCount(), 2);
    w.btnEjectClick();
    EXPECT_EQ(w.RowCount(), 0);
    w.DriveChosen();  // choosing the drive in the box closes it too
    EXPECT_EQ(w.RowCount(), 2);
  }
  CR_DeInit();
}

TEST(WindowPlayer, ProblemsAreToldInTheStatusLineOnce) {
  TApplication app(g_argc, g_argv);
  TempDir tmp;
  setenv("XDG_CONFIG_HOME", (tmp.path() / "config").c_str(), 1);
  setenv("HOME", tmp.path().c_str(), 1);
  const std::optional<std::string> server =
      std::getenv("PULSE_SERVER") ? std::optional<std::string>(std::getenv("PULSE_SERVER")) : std::nullopt;
  setenv("PULSE_SERVER", ("unix:" + (tmp / "no-server").string()).c_str(), 1);
  CR_DeInit();
  Settings = StartupSettings();
  const fs::path cue = makeDisc(tmp.path(), "quiet", {"noise:120", "noise:90"});
  // A second image whose data file is gone.
  const fs::path lost = makeDisc(tmp.path(), "lost", {"noise:75"});
  fs::remove(tmp / "lost.bin");
  ASSERT_EQ(CR_AddDrive(cue.c_str()), CDEX_OK);
  ASSERT_EQ(CR_AddDrive(lost.c_str()), CDEX_OK);
  {
    TfrmMain w;
    ASSERT_EQ(w.RowCount(), 2);
    // Play with no sound server: said, and nothing plays on at the next tick.
    w.btnPlayClick();
    EXPECT_EQ(w.lblStatus->text(), QStringLiteral("No sound: the sound server cannot be reached"));
    EXPECT_FALSE(w.PlayMode);
    EXPECT_EQ(w.PlayIndex, -1);
    w.Timer1Timer();
    EXPECT_FALSE(w.RIPPER->IsPlaying());
    EXPECT_EQ(w.PlayIndex, -1);

    // The image that cannot be read says why, once: the timer's relisting keeps quiet after
    // a hint took the line, and choosing the drive again tells it again.
    w.cboDrive->setCurrentIndex(1);
    w.DriveChosen();
    EXPECT_EQ(w.RowCount(), 0);
    const QString told = w.lblStatus->text();
    EXPECT_TRUE(told.contains(QStringLiteral("lost.bin"))) << told.toStdString();
    EXPECT_TRUE(told.startsWith(w.cboDrive->currentText())) << told.toStdString();
    app.SetHint(QStringLiteral("a hint"));
    app.SetHint(QString());
    w.Timer1Timer();
    EXPECT_FALSE(w.lblStatus->text().contains(QStringLiteral("lost.bin")));
    w.DriveChosen();
    EXPECT_EQ(w.lblStatus->text(), told);
    // A drive with a disc forgets the problem.
    w.cboDrive->setCurrentIndex(0);
    w.DriveChosen();
    EXPECT_EQ(w.RowCount(), 2);
    // The disc has no names, so what the look-up says may follow; the image's problem is gone.
    EXPECT_FALSE(w.lblStatus->text().contains(QStringLiteral("lost.bin"))) << w.lblStatus->text().toStdString();
  }
  CR_DeInit();
  if (server)
    setenv("PULSE_SERVER", server->c_str(), 1);
  else
    unsetenv("PULSE_SERVER");
}

}  // namespace
