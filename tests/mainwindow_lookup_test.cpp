// SPDX-License-Identifier: GPL-3.0-or-later
// The main window names discs without typing, offscreen, over the real CD library and disc
// images, asking the stand-in web service on 127.0.0.1: CD-Text first, else an automatic
// look-up; the chooser for several releases; the menu command; what the status line says, a
// notice kept, and answers for a disc no longer listed.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "app/Application.h"
#include "app/ReleaseChooser.h"
#include "app/globals.h"
#include "app/uMain.h"
#include "names/DiscId.h"
#include "names/mb_answer.h"
#include "names/stand_in_server.h"
#include "platform/profile.h"
#include "event_loop.h"
#include "test_support.h"

namespace {

using namespace testing_support;

void runFor(int ms) {
  runUntil([] { return false; }, ms);
}

QStringList captions(const TfrmMain& w) {
  QStringList out;
  for (int i = 0; i < w.RowCount(); ++i) out << w.Row(i)->text(colTitle);
  return out;
}

QStringList qlist(const std::vector<std::string>& v) {
  QStringList out;
  for (const auto& s : v) out << QString::fromStdString(s);
  return out;
}

// Whether cdplayer.ini holds a section for the listed disc.
bool hasSection(const TfrmMain& w) {
  const auto section = platform::ReadProfileSection(CDPlayerIniPath(), w.RIPPER->DiscID());
  return section && !section->empty();
}

using Release = MbRelease;

// The plain disc: three audio tracks of 150, 120 and 90 sectors, no CD-Text.
names::TMbDisc plainDiscId() {
  names::TDiscLayout layout;
  layout.tracks = {{1, 0, true}, {2, 150, true}, {3, 270, true}};
  layout.leadOut = 360;
  return names::DiscIdOf(layout);
}

const Release kMorning{"Morning Tones", "", "", {"Dawn", "Noon", "Dusk"}};  // the demo credit and date
const Release kEvening{"Evening Tones", "", "", {"Late", "Later", "Latest"}};

class WindowNames : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (tmp.path() / "config").c_str(), 1);
    setenv("HOME", tmp.path().c_str(), 1);
    CR_DeInit();
    Settings = StartupSettings();
    plainCue = makeDisc(tmp.path(), "plain", {"tone440:150", "music1:120", "noise:90"});
    disc = plainDiscId();
    ASSERT_TRUE(disc.ok) << disc.error;
    answer("one", {kMorning});
    answer("two", {kMorning, kEvening});
    fs::create_directories(tmp / "answers/none");
  }
  void TearDown() override {
    CR_DeInit();
    unsetenv("TESSALY_MUSICBRAINZ_URL");
  }

  void answer(const std::string& dir, const std::vector<Release>& releases) {
    WriteMbAnswer(tmp / "answers", dir, disc, releases);
  }
  // The stand-in service, checking the program's User-Agent and one request a second.
  void serve(const std::string& dir) {
    server = std::make_unique<StandInServer>((tmp / "answers").string(),
                                             std::vector<std::string>{"--agent", "Tessaly/", "--min-interval", "1"});
    ASSERT_TRUE(server->Running());
    setenv("TESSALY_MUSICBRAINZ_URL", (server->Url() + "/" + dir).c_str(), 1);
  }
  size_t requests() const { return server->Requests().size(); }

  TempDir tmp;
  fs::path plainCue;
  names::TMbDisc disc;
  std::unique_ptr<StandInServer> server;
};

// Acts on the release chooser once it opens (it runs an event loop of its own) and keeps what
// it showed and what the window's rows were meanwhile.
struct ChooserSeen {
  bool opened = false;
  int preselected = -2;
  QStringList rows, captionsMeanwhile;
};

void whenChooserOpens(ChooserSeen& seen, const TfrmMain& w, std::function<void(TReleaseChooser&)> act) {
  auto* poll = new QTimer;
  poll->setInterval(20);
  QObject::connect(poll, &QTimer::timeout, [poll, &seen, &w, act] {
    auto* d = dynamic_cast<TReleaseChooser*>(QApplication::activeModalWidget());
    if (!d) return;
    poll->stop();
    poll->deleteLater();
    seen.opened = true;
    seen.preselected = d->Chosen();
    for (int i = 0; i < d->List()->topLevelItemCount(); ++i) seen.rows << d->List()->topLevelItem(i)->text(0);
    seen.captionsMeanwhile = captions(w);
    act(*d);
  });
  poll->start();
}

TEST_F(WindowNames, TheDemoDiscIsNamedFromItsCdTextWithoutAsking) {
  serve("one");
  ASSERT_EQ(CR_AddDrive(DEMO_CUE), CDEX_OK);
  TfrmMain w;
  ASSERT_EQ(w.RowCount(), 5);
  EXPECT_EQ(captions(w).mid(0, 4), QStringList({"Opening", "Second Thoughts", "Rising", "Coda"}));
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Names from CD-Text"));
  EXPECT_EQ(w.Album.AlbumTitle, "Tessaly Demo");
  EXPECT_EQ(w.Album.AlbumArtist, "The Test Signals");
  EXPECT_FALSE(w.LookingUp());
  runFor(300);
  EXPECT_EQ(requests(), 0u) << "a disc with CD-Text was looked up";
}

TEST_F(WindowNames, ADiscWithoutNamesIsLookedUpAndNothingIsSavedUntilAsked) {
  serve("one");
  ASSERT_EQ(CR_AddDrive(plainCue.c_str()), CDEX_OK);
  {
    TfrmMain w;
    ASSERT_EQ(w.RowCount(), 3);
    EXPECT_EQ(captions(w), QStringList({"Track01", "Track02", "Track03"}));
    EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Looking up names..."));
    w.cboDriveClick();  // listed again while it is asked for: the same look-up names it
    EXPECT_TRUE(w.LookingUp());
    ASSERT_TRUE(runUntil([&] { return !w.LookingUp(); }));
    EXPECT_EQ(captions(w), qlist(kMorning.tracks));
    EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Names from MusicBrainz"));
    EXPECT_EQ(w.Album.AlbumTitle, kMorning.title);
    EXPECT_EQ(w.Album.AlbumArtist, "The Test Signals with Guest");  // the credit with its join phrase
    EXPECT_EQ(w.Album.Year, "2024");
    ASSERT_EQ(requests(), 1u);
    EXPECT_NE(server->Requests()[0].find(disc.id), std::string::npos);
    EXPECT_EQ(server->Broken(), "");
    EXPECT_FALSE(hasSection(w)) << "saved without being asked";
    std::string artist, title, year, genre;
    std::vector<std::string> stored;
    w.SaveCDInformation1Click();
    ASSERT_TRUE(ReadCDInfo(w.RIPPER->DiscID(), artist, title, year, genre, stored));
    EXPECT_EQ(title, kMorning.title);
    EXPECT_EQ(qlist(stored), qlist(kMorning.tracks));
  }
  // The next start names the disc from the file and asks nobody.
  TfrmMain again;
  EXPECT_EQ(captions(again), qlist(kMorning.tracks));
  EXPECT_FALSE(again.LookingUp());
  EXPECT_FALSE(again.lblStatus->text().startsWith(QStringLiteral("Names from")));
  runFor(300);
  EXPECT_EQ(requests(), 1u);
}

TEST_F(WindowNames, TwoReleasesAreChosenFromTheFirstPreselectedCancelKeepsTheRows) {
  serve("two");
  ASSERT_EQ(CR_AddDrive(plainCue.c_str()), CDEX_OK);
  {
    TfrmMain w;
    ChooserSeen seen;
    whenChooserOpens(seen, w, [](TReleaseChooser& d) { d.reject(); });
    ASSERT_TRUE(runUntil([&] { return seen.opened && !QApplication::activeModalWidget() && !w.LookingUp(); }));
    EXPECT_EQ(seen.rows, QStringList({QString::fromStdString(kMorning.title), QString::fromStdString(kEvening.title)}));
    EXPECT_EQ(seen.preselected, 0);
    EXPECT_EQ(captions(w), QStringList({"Track01", "Track02", "Track03"}));
    EXPECT_TRUE(w.Album.AlbumTitle.empty());
    EXPECT_FALSE(w.lblStatus->text().startsWith(QStringLiteral("Names from")));
  }
  // Another run asks again; the second release taken.
  TfrmMain w;
  ChooserSeen seen;
  whenChooserOpens(seen, w, [](TReleaseChooser& d) {
    QTest::keyClick(d.List(), Qt::Key_Down);
    QTest::keyClick(d.List(), Qt::Key_Return);
  });
  ASSERT_TRUE(runUntil([&] { return seen.opened && !QApplication::activeModalWidget() && !w.LookingUp(); }));
  EXPECT_EQ(captions(w), qlist(kEvening.tracks));
  EXPECT_EQ(w.Album.AlbumTitle, kEvening.title);
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Names from MusicBrainz"));
  EXPECT_EQ(server->Broken(), "");
}

TEST_F(WindowNames, LookUpNamesOnlineReplacesNamesOnlyWithAChosenReleaseAndSavesNothing) {
  // The demo disc has CD-Text; the service knows it from its own answers (two releases).
  server = std::make_unique<StandInServer>(ANSWERS_DIR, std::vector<std::string>{"--agent", "Tessaly/"});
  ASSERT_TRUE(server->Running());
  setenv("TESSALY_MUSICBRAINZ_URL", (server->Url() + "/demo").c_str(), 1);
  ASSERT_EQ(CR_AddDrive(DEMO_CUE), CDEX_OK);
  TfrmMain w;
  const QStringList fromText = captions(w);
  ASSERT_EQ(fromText.first(), QStringLiteral("Opening"));

  // Cancel: the CD-Text names stay.
  ChooserSeen cancelled;
  whenChooserOpens(cancelled, w, [](TReleaseChooser& d) { d.reject(); });
  w.LookUpNamesOnline1Click();
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Looking up names..."));
  ASSERT_TRUE(runUntil([&] { return cancelled.opened && !QApplication::activeModalWidget() && !w.LookingUp(); }));
  EXPECT_EQ(cancelled.captionsMeanwhile, fromText) << "rows replaced before a choice";
  EXPECT_EQ(captions(w), fromText);
  EXPECT_EQ(w.Album.AlbumTitle, "Tessaly Demo");

  // The first release taken: its titles replace the captions, and cdplayer.ini stays untouched.
  ChooserSeen taken;
  whenChooserOpens(taken, w, [](TReleaseChooser& d) { d.accept(); });
  w.LookUpNamesOnline1Click();
  ASSERT_TRUE(runUntil([&] { return taken.opened && !QApplication::activeModalWidget() && !w.LookingUp(); }));
  EXPECT_EQ(taken.captionsMeanwhile, fromText);
  EXPECT_EQ(captions(w).first(), QStringLiteral("Overture"));
  EXPECT_EQ(w.Album.AlbumTitle, "Signals Live");
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Names from MusicBrainz"));
  EXPECT_FALSE(hasSection(w)) << "saved without being asked";
  std::string artist, title, year, genre;
  std::vector<std::string> stored;
  w.SaveCDInformation1Click();
  ASSERT_TRUE(ReadCDInfo(w.RIPPER->DiscID(), artist, title, year, genre, stored));
  EXPECT_EQ(qlist(stored).mid(0, 4), captions(w).mid(0, 4));
  EXPECT_EQ(title, "Signals Live");
  EXPECT_EQ(server->Broken(), "");
}

TEST_F(WindowNames, NotFoundAndNotReachableAreTold) {
  serve("none");
  ASSERT_EQ(CR_AddDrive(plainCue.c_str()), CDEX_OK);
  {
    TfrmMain w;
    ASSERT_TRUE(runUntil([&] { return !w.LookingUp(); }));
    const QString said = w.lblStatus->text();
    EXPECT_TRUE(said.startsWith(QStringLiteral("This disc is not in MusicBrainz; add it at "))) << said.toStdString();
    EXPECT_TRUE(said.contains(QString::fromStdString(disc.id))) << said.toStdString();
    EXPECT_EQ(captions(w), QStringList({"Track01", "Track02", "Track03"}));
  }
  // Nobody listens on port 1.
  setenv("TESSALY_MUSICBRAINZ_URL", "http://127.0.0.1:1", 1);
  TfrmMain w;
  ASSERT_TRUE(runUntil([&] { return !w.LookingUp(); }, 15000));
  EXPECT_TRUE(w.lblStatus->text().startsWith(QStringLiteral("MusicBrainz could not be reached ("))) << w.lblStatus->text().toStdString();
  EXPECT_EQ(captions(w), QStringList({"Track01", "Track02", "Track03"}));
}

TEST_F(WindowNames, AnAnswerForADriveLeftIsNotAppliedAndTheDiscIsAskedAgainOnReturn) {
  serve("one");
  ASSERT_EQ(CR_AddDrive(plainCue.c_str()), CDEX_OK);
  ASSERT_EQ(CR_AddDrive(DEMO_CUE), CDEX_OK);
  TfrmMain w;
  ASSERT_TRUE(w.LookingUp());
  // The demo disc's drive chosen before the answer came.
  w.cboDrive->setCurrentIndex(1);
  w.DriveChosen();
  const QStringList demo = captions(w);
  ASSERT_EQ(demo.first(), QStringLiteral("Opening"));
  runFor(1500);  // room for the first answer to come, were it still awaited
  EXPECT_EQ(captions(w), demo);
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Names from CD-Text"));
  EXPECT_EQ(w.Album.AlbumTitle, "Tessaly Demo");

  // Back to the first drive: the answer dropped, the disc is asked again.
  w.cboDrive->setCurrentIndex(0);
  w.DriveChosen();
  EXPECT_TRUE(w.LookingUp());
  ASSERT_TRUE(runUntil([&] { return !w.LookingUp(); }));
  EXPECT_EQ(captions(w), qlist(kMorning.tracks));
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Names from MusicBrainz"));
  const size_t asked = requests();
  EXPECT_GE(asked, 1u);

  // Once answered, the disc keeps its names for the run without another request.
  w.cboDrive->setCurrentIndex(1);
  w.DriveChosen();
  w.cboDrive->setCurrentIndex(0);
  w.DriveChosen();
  EXPECT_FALSE(w.LookingUp());
  EXPECT_EQ(captions(w), qlist(kMorning.tracks));
  runFor(300);
  EXPECT_EQ(requests(), asked);
  EXPECT_EQ(server->Broken(), "");
}

TEST_F(WindowNames, TheNoticeThatSettingsCannotBeSavedOutlastsTheLookupsWord) {
  // The settings folder lies below a file.
  writeFile(tmp / "file", "x");
  setenv("XDG_CONFIG_HOME", (tmp / "file/config").c_str(), 1);
  serve("one");
  ASSERT_EQ(CR_AddDrive(plainCue.c_str()), CDEX_OK);
  TfrmMain w;
  const QString notice = w.lblStatus->text();
  ASSERT_TRUE(notice.startsWith(QStringLiteral("Settings cannot be saved: "))) << notice.toStdString();
  ASSERT_TRUE(runUntil([&] { return !w.LookingUp(); }));
  EXPECT_EQ(captions(w), qlist(kMorning.tracks));
  runFor(500);
  EXPECT_EQ(w.lblStatus->text(), notice) << "the look-up's word took the notice's place";
  // The user's pointer brings a hint and takes it away: then the look-up's word is told.
  auto& app = *TApplication::Instance();
  app.SetHint(QStringLiteral("A hint"));
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("A hint"));
  runFor(500);
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("A hint"));
  app.SetHint(QString());
  EXPECT_TRUE(runUntil([&] { return w.lblStatus->text() == QStringLiteral("Names from MusicBrainz"); }, 3000))
      << w.lblStatus->text().toStdString();
}

}  // namespace

// The application object lives on main's stack, so it is torn down before the leak check.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication a(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
