// SPDX-License-Identifier: GPL-3.0-or-later
// A start with disc images hands them to the window already running on the display: the
// socket's name, the hand-over, a name left behind by a crashed window, and nobody listening.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <future>

#include "app/SingleInstance.h"
#include "test_support.h"

namespace {

using namespace testing_support;

QString uniqueKey(const char* what) {
  return QStringLiteral("tessaly-test-%1-%2-%3").arg(getpid()).arg(QLatin1String(what)).arg(QDateTime::currentMSecsSinceEpoch());
}

// Runs the event loop until the future is ready; its value.
bool await(std::future<bool>& f) {
  QElapsedTimer t;
  t.start();
  while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready && t.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return f.get();
}

TEST(SingleInstance, TheKeyHoldsTheUserAndTheDisplayAsAFileName) {
  setenv("DISPLAY", ":7.0", 1);
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(SingleInstanceKey(), QStringLiteral("tessaly-%1-_7.0").arg(getuid()));
  setenv("WAYLAND_DISPLAY", "wayland-1/../x", 1);
  const QString key = SingleInstanceKey();
  EXPECT_FALSE(key.contains(QLatin1Char('/'))) << key.toStdString();
  EXPECT_NE(key, QStringLiteral("tessaly-%1-_7.0").arg(getuid()));
  unsetenv("WAYLAND_DISPLAY");
}

TEST(SingleInstance, PathsReachTheRunningWindowMadeAbsolute) {
  const QString key = uniqueKey("hand");
  TSingleInstanceServer server;
  std::vector<QStringList> got;
  server.OnPaths = [&](const QStringList& paths) { got.push_back(paths); };
  ASSERT_TRUE(server.Listen(key));
  const QString absolute = QStringLiteral("/music/a disc.cue");
  std::future<bool> handed = std::async(std::launch::async, [&] {
    return HandToRunningWindow(key, {absolute, QStringLiteral("relative/b.toc")});
  });
  EXPECT_TRUE(await(handed));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], QStringList({absolute, QDir::current().absoluteFilePath(QStringLiteral("relative/b.toc"))}));
  // A second start later is heard too.
  std::future<bool> again = std::async(std::launch::async, [&] { return HandToRunningWindow(key, {absolute}); });
  EXPECT_TRUE(await(again));
  EXPECT_EQ(got.size(), 2u);
}

TEST(SingleInstance, NobodyListeningMeansAWindowOfItsOwnAndALeftOverNameIsTakenOver) {
  const QString key = uniqueKey("stale");
  EXPECT_FALSE(HandToRunningWindow(key, {QStringLiteral("/music/a.cue")}, 500));
  // What a crashed window leaves: the socket's file with nobody behind it.
  const fs::path left = (QDir::tempPath() + QLatin1Char('/') + key).toStdString();
  writeFile(left, "");
  EXPECT_FALSE(HandToRunningWindow(key, {QStringLiteral("/music/a.cue")}, 500));
  TSingleInstanceServer server;
  int heard = 0;
  server.OnPaths = [&](const QStringList&) { ++heard; };
  ASSERT_TRUE(server.Listen(key));
  std::future<bool> handed =
      std::async(std::launch::async, [&] { return HandToRunningWindow(key, {QStringLiteral("/music/a.cue")}); });
  EXPECT_TRUE(await(handed));
  EXPECT_EQ(heard, 1);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
