// SPDX-License-Identifier: GPL-3.0-or-later
// The extraction window driven offscreen over fixture images, with the real CD library and the
// real encoder: its controls, the run it performs on the shared track list, the overwrite
// question, Cancel / Esc / close box, errors, the folder it opens, and a screenshot mid-run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <sys/resource.h>

#include <csignal>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "run/ExtractionRun.h"
#include "app/globals.h"
#include "app/globals_dialog.h"
#include "app/uprg.h"
#include "cdrip/CDRIP.h"
#include "controls/GradProgress.h"
#include "lame/LameCoder.h"
#include "mp3info/MP3Info.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "test_support.h"

namespace {

using namespace testing_support;

// Catches what an event handler raises, as the program's application object does, and keeps it
// for the test.
class TestApp : public QApplication {
 public:
  using QApplication::QApplication;
  std::exception_ptr caught;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (...) {
      caught = std::current_exception();
      return false;
    }
  }
};

TestApp* app() { return static_cast<TestApp*>(QCoreApplication::instance()); }

// What the overwrite question showed, and how it was answered.
struct Question {
  QString text, title;
  QStringList buttons;
};

// The main window's side: its track list, components and progress field, filled from a
// fixture image as the main window fills them.
class ExtractionWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    CR_DeInit();
    saved_ = Settings;
    savedMore_ = MoreSettings;
    MoreSettings.Jobs = 1;  // the one-track run; the tests of the run on several cores set theirs
    Settings.OutDir = out.string();
    Settings.OpenWhenDone = true;
    MessageBeepHandler() = nullptr;
    OpenFolderHandler() = [this](const QUrl& url) { opened.push_back(url.toLocalFile().toStdString()); };
    app()->caught = nullptr;
    main.setWindowTitle(QStringLiteral("Tessaly"));  // the main window's own caption, never seen
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly 2.3"));  // the application title
    main.setGeometry(100, 100, 746, 490);
    list = new QTreeWidget(&main);
    list->setColumnCount(5);
    list->setColumnHidden(colIndex, true);
  }
  void TearDown() override {
    ripper.reset();
    CR_DeInit();
    Settings = saved_;
    MoreSettings = savedMore_;
    platform::SetProcessMessagesHook(nullptr);
  }

  void load(const std::vector<std::string>& tracks) {
    const fs::path cue = makeDisc(tmp.path(), "disc", tracks);
    bin = readFile(tmp / "disc.bin");
    loadImage(cue);
  }
  void loadImage(const fs::path& image) {
    ASSERT_EQ(CR_AddDrive(image.c_str()), CDEX_OK);
    ripper = std::make_unique<TCDRIP>();
    ApplyStoredRipperValues(*ripper, &coder);
    ripper->SelectDrive(ripper->GetNumCDROM() - 1);
    ripper->OnProgress = [this](TCDRIP&, uint16_t p) { ripPercent = p; };  // RIPPERProgress
    tagger.SetGenreID(12);
    for (int i = 0; i < ripper->Tracks().Count(); ++i) {
      auto* item = new QTreeWidgetItem(list, {QString::fromStdString(ripper->Tracks().Strings(i)),
                                              QString::fromStdString(IntToStr2(static_cast<uint16_t>(i + 1))),
                                              QString::fromStdString(ripper->TrackDuration(i)), QStringLiteral("--"),
                                              QString::number(i)});
      item->setCheckState(colTitle, Qt::Unchecked);
    }
  }
  TSharedModel model() { return TSharedModel{&main, list, ripper.get(), &tagger, &ripPercent}; }
  void tick(std::initializer_list<int> rows) {
    for (int r : rows) list->topLevelItem(r)->setCheckState(colTitle, Qt::Checked);
  }
  QStringList statuses() const {
    QStringList s;
    for (int i = 0; i < list->topLevelItemCount(); ++i) s << list->topLevelItem(i)->text(colStatus);
    return s;
  }
  // The audio files and folders a run made; the run's rip log beside them has tests of its own.
  std::set<std::string> filesIn(const fs::path& dir) const {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
      if (!(e.path().extension() == ".log" && e.path().parent_path() == dir))
        names.insert(fs::relative(e.path(), dir).string() + (e.is_directory() ? "/" : ""));
    return names;
  }

  // Shows the window modally until the run closes it. Each question is answered by the next
  // entry of `answers` (a button caption, or "close" for the close box); `during` runs every
  // few milliseconds while the window is open, inside the run too.
  int exec(Tfrmprg& w, std::deque<QString> answers = {}, std::function<void()> during = {}) {
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal != &w && modal->isVisible()) {
        Question q;
        if (auto* label = modal->findChild<QLabel*>(QStringLiteral("Message"))) q.text = label->text();
        q.title = modal->windowTitle();
        QPushButton* chosen = nullptr;
        const QString answer = answers.empty() ? QStringLiteral("<none>") : answers.front();
        if (!answers.empty()) answers.pop_front();
        for (auto* b : modal->findChildren<QPushButton*>()) {
          q.buttons << b->text();
          if (b->text() == answer) chosen = b;
        }
        questions.push_back(q);
        if (chosen) chosen->click();
        else modal->close();
        if (answer != QStringLiteral("close") && !chosen) ADD_FAILURE() << "no answer for " << q.text.toStdString();
      }
      if (during) during();
    });
    poll.start();
    return w.exec();
  }

  TempDir tmp;
  fs::path out = tmp / "out";
  std::string bin;
  QWidget main;
  QTreeWidget* list = nullptr;
  TLameCoder coder;
  std::unique_ptr<TCDRIP> ripper;
  TMP3Info tagger;
  int32_t ripPercent = 0;
  std::vector<std::string> opened;
  std::vector<Question> questions;
  TMP3Settings saved_{};
  TMoreSettings savedMore_{};
};

TEST_F(ExtractionWindow, ControlsStandWhereAndAsDesigned) {
  load({"music:75"});
  main.show();
  Tfrmprg w(model());
  EXPECT_EQ(w.parentWidget(), nullptr);
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Extracting..."));
  EXPECT_EQ(w.size(), QSize(373, 145));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_TRUE(w.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(w.frameGeometry().center(), main.frameGeometry().center());
  EXPECT_EQ(w.font().family(), QStringLiteral("Arial"));
  EXPECT_EQ(w.font().pixelSize(), 12);
  EXPECT_EQ(w.GroupBox1->geometry(), QRect(8, 8, 353, 97));
  EXPECT_TRUE(w.GroupBox1->title().isEmpty());
  EXPECT_EQ(w.lblStatus->parentWidget(), w.GroupBox1);
  EXPECT_EQ(w.lblStatus->pos(), QPoint(10, 23));
  EXPECT_EQ(w.lblStatus->text(), QString(16, QLatin1Char(' ')));
  EXPECT_EQ(w.lblPath->parentWidget(), w.GroupBox1);
  EXPECT_EQ(w.lblPath->geometry(), QRect(10, 52, 335, 45));
  EXPECT_TRUE(w.lblPath->wordWrap());
  EXPECT_EQ(w.lblPath->text(), QString(16, QLatin1Char(' ')));
  TGradProgress* bar = w.prgTotalProgress;
  EXPECT_EQ(bar->geometry(), QRect(8, 118, 270, 16));
  EXPECT_EQ(bar->Style(), TGradProgress::gsHorizontal);
  EXPECT_TRUE(bar->ShowDec());
  EXPECT_EQ(bar->BevelStyle(), TGradProgress::bsLowered);
  EXPECT_EQ(bar->BevelWidth(), 1);
  EXPECT_EQ(bar->StartColor(), clMenu);
  EXPECT_EQ(bar->EndColor(), clBlue);
  EXPECT_EQ(bar->BackColor(), clMenu);
  EXPECT_EQ(bar->MaxValue(), 100);
  EXPECT_EQ(bar->Step(), 1);
  EXPECT_TRUE(bar->ShowPercent());
  EXPECT_EQ(bar->font().family(), QStringLiteral("Default"));
  EXPECT_EQ(bar->font().pixelSize(), 11);
  EXPECT_EQ(bar->palette().color(QPalette::WindowText), QColor(Qt::white));
  EXPECT_EQ(w.btnCancel->text(), QStringLiteral("Cancel"));
  EXPECT_EQ(w.btnCancel->geometry(), QRect(286, 114, 75, 23));
  EXPECT_EQ(w.Timer1->interval(), 1000);
  EXPECT_TRUE(w.Timer1->isActive());
  EXPECT_FALSE(w.WavOutput);
  EXPECT_FALSE(w.StartPending);
  EXPECT_FALSE(w.Cancelled);
  // With rows 1 of an unnamed disc: the WAV name in the output folder.
  EXPECT_EQ(w.GetOutputfilename(0), (out / "Track01.wav").string());
}

TEST_F(ExtractionWindow, RowsOneAndThreeOfFourGiveTwoFilesAndOK) {
  load({"music:150", "tone440:100", "noise:120", "music1:80"});
  tick({0, 2});
  Tfrmprg w(model());
  w.WavOutput = true;
  // A tick before the window is shown starts nothing.
  w.Timer1Timer();
  EXPECT_FALSE(fs::exists(out));
  int paintsAtStart = -1;
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } painted;
  w.installEventFilter(&painted);
  QString captionDuringRun;
  int runs = 0;
  ripper->OnBeginTrack = [&](TCDRIP&, uint16_t) {
    if (runs++ == 0) paintsAtStart = painted.paints;
    captionDuringRun = w.windowTitle();
  };
  // A tick that comes after the window is shown but before it was painted (the paint comes
  // from the event loop) waits for the next one.
  w.show();
  EXPECT_TRUE(w.StartPending);
  ASSERT_EQ(painted.paints, 0);
  w.Timer1Timer();
  EXPECT_EQ(runs, 0);
  EXPECT_TRUE(w.StartPending);
  w.Timer1->setInterval(20);
  EXPECT_EQ(exec(w), 1);

  EXPECT_GT(paintsAtStart, 0);  // shown and painted before the run began
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(captionDuringRun, QStringLiteral("Extract To WAV files"));
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"Track01.wav", "Track03.wav"}));
  EXPECT_TRUE(readFile(out / "Track03.wav").substr(44) == bin.substr(250 * 2352, 120 * 2352));
  EXPECT_EQ(statuses(), (QStringList{"OK", "--", "OK", "--"}));
  EXPECT_EQ(w.lblStatus->text(), QStringLiteral("Extract Track03 (2 of 2)..."));
  EXPECT_EQ(w.lblStatus->size(), w.lblStatus->sizeHint());
  EXPECT_EQ(w.lblPath->text(), QString::fromStdString("To " + (out / "Track03.wav").string()));
  EXPECT_EQ(w.prgTotalProgress->Position(), 0);
  EXPECT_FALSE(w.prgTotalProgress->ShowDec());
  EXPECT_EQ(ripPercent, 0);
  EXPECT_EQ(opened, (std::vector<std::string>{out.string() + "/"}));
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(app()->caught);
  // Ticks after the run do nothing more.
  w.Timer1Timer();
  EXPECT_EQ(runs, 2);
}

TEST_F(ExtractionWindow, TitlesNameTheFilesInsideTheOutputFolder) {
  load({"music:75", "music1:75", "music2:75", "tone440:75"});
  list->topLevelItem(0)->setText(colTitle, QStringLiteral("Trailing Blanks   "));
  list->topLevelItem(1)->setText(colTitle, QStringLiteral("Live/Side A/Opening"));
  list->topLevelItem(2)->setText(colTitle, QStringLiteral("../../../etc/passwd"));
  tick({0, 1, 2});
  Settings.OutDir = out.string() + "/";
  {
    Tfrmprg w(model());
    EXPECT_EQ(w.GetOutputfilename(0), (out / "Trailing Blanks.wav").string());
    w.Timer1->setInterval(20);
    EXPECT_EQ(exec(w), 1);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Extract To MP3 files"));
  }
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"Trailing Blanks.mp3", "Live/", "Live/Side A/", "Live/Side A/Opening.mp3",
                                                 "etc/", "etc/passwd.mp3"}));
  tagger.SetFilename((out / "Trailing Blanks.mp3").string());
  EXPECT_EQ(tagger.Title(), "Trailing Blanks");  // kept whole; the reader drops the trailing spaces
  const std::string raw = readFile(out / "Trailing Blanks.mp3");
  EXPECT_EQ(raw.substr(raw.size() - 128, 33), "TAGTrailing Blanks" + std::string(15, ' '));
  EXPECT_EQ(opened.size(), 1u);

  // An empty output folder: the music folder, never the filesystem's root.
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  struct RestoreHome {
    std::string home;
    ~RestoreHome() { setenv("HOME", home.c_str(), 1); }
  } restore{home};
  setenv("HOME", tmp.path().c_str(), 1);
  unsetenv("XDG_MUSIC_DIR");
  const fs::path music = platform::MusicDir();
  ASSERT_EQ(music.string().rfind(tmp.path().string(), 0), 0u);
  Settings.OutDir = "";
  list->topLevelItem(0)->setCheckState(colTitle, Qt::Unchecked);
  list->topLevelItem(1)->setCheckState(colTitle, Qt::Unchecked);
  Tfrmprg w(model());
  ASSERT_EQ(w.GetOutputfilename(3), (music / "Track04.wav").string());
  tick({3});
  w.WavOutput = true;
  w.Timer1->setInterval(20);
  EXPECT_EQ(exec(w), 1);
  EXPECT_EQ(filesIn(music), (std::set<std::string>{"etc/", "etc/passwd.wav", "Track04.wav"}));
}

TEST_F(ExtractionWindow, TheOverwriteQuestionNoAtTheThirdOfFive) {
  load({"music:75", "music1:75", "music2:75", "music3:75", "tone440:75"});
  tick({0, 1, 2, 3, 4});
  fs::create_directories(out);
  for (int i = 1; i <= 5; ++i) writeFile(out / ("Track0" + std::to_string(i) + ".wav"), "old");
  Tfrmprg w(model());
  w.WavOutput = true;
  w.Timer1->setInterval(20);
  EXPECT_EQ(exec(w, {"&Yes", "close", "&No"}), 1);
  ASSERT_EQ(questions.size(), 3u);
  EXPECT_EQ(questions[0].text, QString::fromStdString((out / "Track01.wav").string()) +
                                   QStringLiteral(" already exists,do you want to replace it?"));
  EXPECT_EQ(questions[0].title, QStringLiteral("Tessaly 2.3"));
  EXPECT_EQ(questions[0].buttons, (QStringList{"&Yes", "&No", "Replace &All"}));
  EXPECT_EQ(statuses(), (QStringList{"OK", "OK", "--", "--", "--"}));
  EXPECT_EQ(fs::file_size(out / "Track01.wav"), 44u + 75u * 2352u);
  EXPECT_EQ(fs::file_size(out / "Track02.wav"), 44u + 75u * 2352u);  // the close box replaced it
  for (int i = 3; i <= 5; ++i) EXPECT_EQ(readFile(out / ("Track0" + std::to_string(i) + ".wav")), "old");
  EXPECT_TRUE(opened.empty());
}

TEST_F(ExtractionWindow, ReplaceAllAsksNoMoreAndTheNextRunAsksAgain) {
  load({"music:75", "music1:75", "music2:75"});
  tick({0, 1, 2});
  fs::create_directories(out);
  for (int i = 1; i <= 3; ++i) writeFile(out / ("Track0" + std::to_string(i) + ".wav"), "old");
  {
    Tfrmprg w(model());
    w.WavOutput = true;
    w.Timer1->setInterval(20);
    EXPECT_EQ(exec(w, {"Replace &All"}), 1);
  }
  EXPECT_EQ(questions.size(), 1u);
  EXPECT_EQ(statuses(), (QStringList{"OK", "OK", "OK"}));
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(fs::file_size(out / ("Track0" + std::to_string(i) + ".wav")), 44u + 75u * 2352u);
  EXPECT_EQ(opened.size(), 1u);
  Tfrmprg again(model());
  again.WavOutput = true;
  again.Timer1->setInterval(20);
  EXPECT_EQ(exec(again, {"&No"}), 1);
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_EQ(opened.size(), 1u);  // No opens nothing
}

TEST_F(ExtractionWindow, FlacOnTwoEncoders) {
  load({"music:150", "tone440:100"});
  tick({0, 1});
  MoreSettings.Jobs = 2;
  Tfrmprg w(model());
  w.FlacOutput = true;
  w.Timer1->setInterval(20);
  EXPECT_EQ(exec(w), 1);
  EXPECT_FALSE(app()->caught);
  EXPECT_EQ(statuses(), (QStringList{"OK", "OK"}));
  const auto r = run("flac -d -s -f --force-raw-format --endian=little --sign=signed -o " +
                     shellQuote((tmp / "t1.raw").string()) + " " + shellQuote((out / "Track01.flac").string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(readFile(tmp / "t1.raw") == bin.substr(0, 150 * 2352));
  EXPECT_FALSE(w.Summary().empty());
}

TEST_F(ExtractionWindow, FlacOutputWritesFlacFilesOfTheDiscsSamplesAndTheLogsSummary) {
  load({"music:150", "tone440:100"});
  tick({0, 1});
  MoreSettings.RipLog = true;
  Tfrmprg w(model());
  w.FlacOutput = true;
  w.Timer1->setInterval(20);
  QString caption;
  EXPECT_EQ(exec(w, {}, [&] {
              if (w.Running()) caption = w.windowTitle();
            }),
            1);
  EXPECT_FALSE(app()->caught);
  EXPECT_EQ(caption, QStringLiteral("Extract To FLAC files"));
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"Track01.flac", "Track02.flac"}));
  EXPECT_EQ(statuses(), (QStringList{"OK", "OK"}));
  const auto r = run("flac -d -s -f --force-raw-format --endian=little --sign=signed -o " +
                     shellQuote((tmp / "t2.raw").string()) + " " + shellQuote((out / "Track02.flac").string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(readFile(tmp / "t2.raw") == bin.substr(150 * 2352, 100 * 2352));
  // The summary is the one the log beside the files ends with.
  EXPECT_FALSE(w.Summary().empty());
  EXPECT_FALSE(w.DiscChanged());
  std::string log;
  for (const auto& e : fs::directory_iterator(out))
    if (e.path().extension() == ".log") log = readFile(e.path());
  EXPECT_NE(log.find(w.Summary()), std::string::npos) << w.Summary();

  // Without the log there is no summary to show, and a run does not keep the last one's.
  MoreSettings.RipLog = false;
  Tfrmprg again(model());
  again.FlacOutput = true;
  again.Timer1->setInterval(20);
  EXPECT_EQ(exec(again, {"Replace &All"}), 1);
  EXPECT_TRUE(again.Summary().empty());
}

TEST_F(ExtractionWindow, TheDiscsNamesGiveTheTagsAndTheNamesOfThePattern) {
  load({"music:75", "tone440:75"});
  list->topLevelItem(0)->setText(colTitle, QStringLiteral("Intro"));
  tick({0, 1});
  MoreSettings.NamePattern = "%albumartist%/%album%/%nn% %title%";
  MoreSettings.FullTags = true;
  Tfrmprg w(model());
  w.Album.AlbumArtist = "Ελένη";
  w.Album.AlbumTitle = "Δίσκος";
  w.Album.Year = "2001";
  w.Album.TrackArtists = {"", "Guest"};
  const fs::path folder = out / "Ελένη" / "Δίσκος";
  EXPECT_EQ(w.GetOutputfilename(1), (folder / "02 Track02.wav").string());
  w.FlacOutput = true;
  w.Timer1->setInterval(20);
  EXPECT_EQ(exec(w), 1);
  EXPECT_FALSE(app()->caught);
  ASSERT_TRUE(fs::exists(folder / "01 Intro.flac"));
  const auto r = run("metaflac --export-tags-to=- " + shellQuote((folder / "02 Track02.flac").string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* c : {"TITLE=Track02", "ARTIST=Guest", "ALBUM=Δίσκος", "ALBUMARTIST=Ελένη", "DATE=2001",
                        "TRACKNUMBER=2", "TRACKTOTAL=2"})
    EXPECT_NE(r.out.find(std::string(c) + "\n"), std::string::npos) << c << " in " << r.out;

  // An MP3 file of the same row: the ID3v2 tag in front holds the album in UTF-8, the ID3v1
  // tag the caption.
  list->topLevelItem(1)->setCheckState(colTitle, Qt::Unchecked);
  Tfrmprg mp3(model());
  mp3.Album = w.Album;
  mp3.Timer1->setInterval(20);
  EXPECT_EQ(exec(mp3), 1);
  const std::string raw = readFile(folder / "01 Intro.mp3");
  EXPECT_EQ(raw.substr(0, 3), "ID3");
  EXPECT_NE(raw.find("Δίσκος"), std::string::npos);
  tagger.SetFilename((folder / "01 Intro.mp3").string());
  EXPECT_EQ(tagger.Title(), "Intro");
}

TEST_F(ExtractionWindow, AnImageTakesNoDriveOffsetAndTheRetriesComeFromTheSettings) {
  load({"music:75", "tone440:75"});
  tick({1});
  MoreSettings.ReadOffset = 667;
  MoreSettings.Retries = 7;
  Tfrmprg w(model());
  w.WavOutput = true;
  w.Timer1->setInterval(20);
  EXPECT_EQ(exec(w), 1);
  EXPECT_EQ(ripper->ReadRetries, 7);
  EXPECT_TRUE(readFile(out / "Track02.wav").substr(44) == bin.substr(75 * 2352, 75 * 2352));
}

// What one run of the window did: its questions (the output folder left out), its statuses,
// its last labels, and its files with their bytes.
struct RunRecord {
  std::vector<std::string> questions;
  QStringList statuses;
  QString status, path;
  std::map<std::string, std::string> files;
  int result = 0;
};

TEST_F(ExtractionWindow, TwoEncodersGiveTheFilesStatusesQuestionsAndLabelsOfOne) {
  load({"music:150", "tone440:100", "noise:120", "music1:80", "music2:90"});
  tick({0, 1, 2, 3, 4});
  auto once = [&](int jobs, const fs::path& dir) {
    MoreSettings.Jobs = jobs;
    Settings.OutDir = dir.string();
    fs::create_directories(dir);
    writeFile(dir / "Track02.mp3", "old");
    writeFile(dir / "Track04.mp3", "old");
    for (int i = 0; i < list->topLevelItemCount(); ++i) list->topLevelItem(i)->setText(colStatus, QStringLiteral("--"));
    questions.clear();
    Tfrmprg w(model());
    w.Timer1->setInterval(20);
    RunRecord rec;
    rec.result = exec(w, {"&Yes", "&No"});
    for (const auto& q : questions) {
      std::string text = q.text.toStdString();
      text.erase(0, dir.string().size());
      rec.questions.push_back(text);
    }
    rec.statuses = statuses();
    rec.status = w.lblStatus->text();
    rec.path = w.lblPath->text().replace(QString::fromStdString(dir.string()), QString());
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().extension() != ".log") rec.files[e.path().filename().string()] = readFile(e.path());
    EXPECT_FALSE(app()->caught);
    return rec;
  };
  const RunRecord one = once(1, tmp / "one");
  const RunRecord two = once(2, tmp / "two");
  EXPECT_EQ(one.result, 1);
  EXPECT_EQ(two.result, one.result);
  EXPECT_EQ(one.questions.size(), 2u);
  EXPECT_EQ(two.questions, one.questions);
  EXPECT_EQ(one.statuses, (QStringList{"OK", "OK", "OK", "--", "--"}));  // No at the fourth row
  EXPECT_EQ(two.statuses, one.statuses);
  EXPECT_EQ(two.status, one.status);
  EXPECT_EQ(two.path, one.path);
  ASSERT_EQ(two.files.size(), one.files.size());
  for (const auto& [name, bytes] : one.files) {
    ASSERT_TRUE(two.files.count(name)) << name;
    EXPECT_TRUE(two.files.at(name) == bytes) << name;
  }
  EXPECT_EQ(one.files.at("Track04.mp3"), "old");
}

TEST_F(ExtractionWindow, TwoEncodersCancelledMidRunStopAtOnceAndKeepTheRowsFinishedBefore) {
  load({"tone440:200", "music:4500", "noise:75"});
  tick({0, 1, 2});
  MoreSettings.Jobs = 2;
  Tfrmprg w(model());
  w.Timer1->setInterval(20);
  bool pressed = false;
  std::vector<std::string> mismatched;
  const int result = exec(w, {}, [&] {
    if (!w.Running()) return;
    // The labels always name one track: the status line's and the path's.
    const QString status = w.lblStatus->text(), path = w.lblPath->text();
    for (const char* t : {"Track01", "Track02", "Track03"})
      if (status.contains(QLatin1String(t)) != path.contains(QLatin1String(t)))
        mismatched.push_back(status.toStdString() + " / " + path.toStdString());
    if (pressed || statuses()[0] != QStringLiteral("OK") || !status.contains(QLatin1String("Track02")) ||
        ripPercent < 20)
      return;
    pressed = true;
    w.btnCancel->click();
  });
  EXPECT_EQ(result, 2);
  ASSERT_TRUE(pressed);
  EXPECT_TRUE(mismatched.empty()) << mismatched.front();
  EXPECT_EQ(statuses(), (QStringList{"OK", "Cancelled", "--"}));
  EXPECT_FALSE(fs::exists(out / "Track03.mp3"));
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(w.prgTotalProgress->Position(), 0);
  // The cancelled file is a finished MP3 of less than the track: encoding stopped too.
  const fs::path wav = tmp / "decoded.wav";
  const auto r = run("mpg123 -q -w " + shellQuote(wav.string()) + " " + shellQuote((out / "Track02.mp3").string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_LT(readFile(wav).size() - 44, 4500u * 2352u * 9 / 10);
  EXPECT_GT(fs::file_size(out / "Track01.mp3"), 0u);
}

// A file that cannot grow (the file-size limit, as a full disk would do) stops the encoder of
// its track: on two encoders the rows, the error raised and the files are those of one.
TEST_F(ExtractionWindow, TwoEncodersMeetAnEncoderThatCannotWriteAsOneDoes) {
  load({"music:150", "music1:3000", "music2:150"});
  tick({0, 1, 2});
  struct Outcome {
    QStringList statuses;
    std::string error;
    std::set<std::string> files;
  };
  auto once = [&](int jobs, const fs::path& dir) {
    MoreSettings.Jobs = jobs;
    Settings.OutDir = dir.string();
    for (int i = 0; i < list->topLevelItemCount(); ++i) list->topLevelItem(i)->setText(colStatus, QStringLiteral("--"));
    app()->caught = nullptr;
    // Room for the short tracks' files, not for the long one's (about 600 KB at 128 kbit/s).
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit small{200 * 1024, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    Tfrmprg w(model());
    w.Timer1->setInterval(20);
    Outcome o;
    exec(w);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    o.statuses = statuses();
    if (app()->caught) {
      try {
        std::rethrow_exception(app()->caught);
      } catch (const std::exception& e) {
        o.error = e.what();
      }
    }
    for (size_t at; (at = o.error.find(dir.string())) != std::string::npos;) o.error.replace(at, dir.string().size(), "<out>");
    if (fs::exists(dir)) o.files = filesIn(dir);
    return o;
  };
  const Outcome one = once(1, tmp / "one");
  const Outcome two = once(2, tmp / "two");
  EXPECT_EQ(one.statuses[0], QStringLiteral("OK"));
  EXPECT_NE(one.statuses[1], QStringLiteral("OK"));
  EXPECT_FALSE(one.error.empty()) << "the failure was not raised";
  EXPECT_EQ(two.statuses, one.statuses);
  EXPECT_EQ(two.error, one.error);
  EXPECT_EQ(two.files, one.files);
  EXPECT_FALSE(one.files.count("Track03.mp3")) << "the run went on after the failure";
}

// Sectors the image lacks are read errors of their own track: on two encoders the rows, the
// files and what the rip log says of each track are those of one.
TEST_F(ExtractionWindow, TwoEncodersMeetSectorsTheImageLacksAsOneDoes) {
  // A TOC file claims more than its data file holds: track 2 runs past the file's end at
  // sector 299, track 3 lies wholly beyond it.
  makeDisc(tmp.path(), "d", {"music:300"});
  writeFile(tmp / "d.toc",
            "CD_DA\nTRACK AUDIO\nFILE \"d.bin\" 0 00:02:00\nTRACK AUDIO\nFILE \"d.bin\" 00:02:00 00:04:00\n"
            "TRACK AUDIO\nFILE \"d.bin\" 00:06:00 00:01:00\n");
  loadImage(tmp / "d.toc");
  tick({0, 1, 2});
  MoreSettings.RipLog = true;
  auto once = [&](int jobs, const fs::path& dir) {
    MoreSettings.Jobs = jobs;
    Settings.OutDir = dir.string();
    for (int i = 0; i < list->topLevelItemCount(); ++i) list->topLevelItem(i)->setText(colStatus, QStringLiteral("--"));
    Tfrmprg w(model());
    w.Timer1->setInterval(20);
    EXPECT_EQ(exec(w), 1);
    EXPECT_FALSE(app()->caught);
    std::map<std::string, std::string> files;
    std::vector<std::string> said;
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().extension() != ".log") {
        files[e.path().filename().string()] = readFile(e.path());
        continue;
      }
      for (const std::string& line : lines(readFile(e.path())))
        if (line.find("Read errors") != std::string::npos || line.find("lacks") != std::string::npos) said.push_back(line);
    }
    return std::make_tuple(statuses(), files, said);
  };
  const auto [oneRows, oneFiles, oneSaid] = once(1, tmp / "one");
  const auto [twoRows, twoFiles, twoSaid] = once(2, tmp / "two");
  EXPECT_EQ(oneRows, (QStringList{"OK", "OK", "OK"}));
  EXPECT_EQ(twoRows, oneRows);
  EXPECT_EQ(oneFiles.size(), 3u);
  EXPECT_TRUE(twoFiles == oneFiles);
  ASSERT_EQ(oneSaid.size(), 3u) << "one line per track";
  EXPECT_EQ(twoSaid, oneSaid);
  EXPECT_EQ(oneSaid[0].find("lacks"), std::string::npos) << oneSaid[0];
  EXPECT_NE(oneSaid[1].find("150"), std::string::npos) << oneSaid[1];
}

class CancelTest : public ExtractionWindow, public ::testing::WithParamInterface<const char*> {};

TEST_P(CancelTest, DuringAnMp3TrackKeepsATaggedDecodablePart) {
  const std::string how = GetParam();
  load({"music:4500", "tone440:75", "noise:75"});
  tick({0, 1, 2});
  list->topLevelItem(1)->setText(colStatus, QStringLiteral("earlier"));
  Tfrmprg w(model());
  w.Timer1->setInterval(20);
  bool pressed = false, stayed = false;
  int pressedAt = -1;
  const int result = exec(w, {}, [&] {
    if (pressed || ripPercent < 20) return;
    pressed = true;
    pressedAt = ripPercent;
    if (how == "button") w.btnCancel->click();
    if (how == "esc") {
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(&w, &esc);
    }
    if (how == "close box") w.close();
    // The window never vanishes while the track is being written.
    stayed = w.isVisible() && w.Running();
  });
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(pressed);
  EXPECT_TRUE(stayed);
  EXPECT_TRUE(w.Cancelled);
  EXPECT_EQ(statuses(), (QStringList{"Cancelled", "earlier", "--"}));
  EXPECT_FALSE(fs::exists(out / "Track02.mp3"));
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(ripPercent, 0);
  EXPECT_EQ(w.prgTotalProgress->Position(), 0);

  const fs::path mp3 = out / "Track01.mp3";
  tagger.SetFilename(mp3.string());
  EXPECT_TRUE(tagger.Valid());
  EXPECT_EQ(tagger.Title(), "Track01");
  const fs::path wav = tmp / "decoded.wav";
  const auto r = run("mpg123 -q -w " + shellQuote(wav.string()) + " " + shellQuote(mp3.string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t decoded = readFile(wav).size() - 44;
  // Heard within one chunk (27 sectors): the file holds what was read when Cancel was
  // pressed (a whole percentage, 45 sectors), and at most one chunk more.
  const size_t read = static_cast<size_t>(pressedAt) * 45u * 2352u;
  EXPECT_GE(decoded, read);
  EXPECT_LE(decoded, read + 45u * 2352u + 27u * 2352u);
}

INSTANTIATE_TEST_SUITE_P(ButtonEscAndCloseBox, CancelTest, ::testing::Values("button", "esc", "close box"));

TEST_F(ExtractionWindow, CancelOrCloseBeforeTheRunStartsExtractsNothing) {
  load({"music:75", "music1:75"});
  tick({0, 1});
  {
    Tfrmprg w(model());
    // Esc before the first tick: the run ends before its first row.
    QTimer::singleShot(0, &w, [&] {
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(&w, &esc);
    });
    w.Timer1->setInterval(50);
    EXPECT_EQ(w.exec(), 2);
  }
  {
    Tfrmprg w(model());
    QTimer::singleShot(0, &w, [&] { w.close(); });  // the close box closes it at once
    EXPECT_EQ(w.exec(), 2);
  }
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(statuses(), (QStringList{"--", "--"}));
  EXPECT_TRUE(opened.empty());
}

TEST_F(ExtractionWindow, AnUnwritableOutputFolderEndsTheRunWithTheErrorRaised) {
  load({"music:75", "music1:75"});
  tick({0, 1});
  writeFile(tmp / "plain", "a file");
  Settings.OutDir = (tmp / "plain" / "music").string();
  ripPercent = 57;  // what an earlier report left
  Tfrmprg w(model());
  w.WavOutput = true;
  w.Timer1->setInterval(20);
  double barBefore = -1;
  ripper->OnBeginTrack = [&](TCDRIP&, uint16_t) { barBefore = w.prgTotalProgress->Position(); };
  EXPECT_EQ(exec(w), 1);
  EXPECT_EQ(barBefore, 57);  // the first tick showed the shared percentage
  ASSERT_TRUE(app()->caught);
  try {
    std::rethrow_exception(app()->caught);
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + (tmp / "plain" / "music" / "Track01.wav").string());
  } catch (...) {
    ADD_FAILURE() << "another error";
  }
  EXPECT_EQ(w.prgTotalProgress->Position(), 0);
  EXPECT_EQ(ripPercent, 0);
  EXPECT_EQ(statuses(), (QStringList{"--", "--"}));
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(opened.empty());
}

TEST_F(ExtractionWindow, LaterTicksOnlyRefreshTheBarAndAScreenshotMidRun) {
  load({"music:3000", "tone440:75"});
  tick({0, 1});
  Tfrmprg w(model());
  w.Timer1->setInterval(20);
  std::set<int> shown, reported{0};
  ripper->OnProgress = [&](TCDRIP&, uint16_t p) {
    ripPercent = p;
    reported.insert(p);
  };
  int begun = 0;
  ripper->OnBeginTrack = [&](TCDRIP&, uint16_t) { ++begun; };
  bool saved = false;
  exec(w, {}, [&] {
    if (!w.Running()) return;
    const double pos = w.prgTotalProgress->Position();
    EXPECT_TRUE(reported.count(static_cast<int>(pos))) << pos;  // a percentage the ripper reported
    shown.insert(static_cast<int>(pos));
    if (!saved && pos >= 40) {
      saved = true;
      QApplication::processEvents();
      const QString path = QStringLiteral(SCREENSHOT_DIR "/uprg.png");
      EXPECT_TRUE(w.grab().save(path)) << path.toStdString();
      // A tick may have moved the bar while the window repainted: the text follows the bar.
      const int now = static_cast<int>(w.prgTotalProgress->Position());
      EXPECT_EQ(w.prgTotalProgress->PercentText(), QString::number(now) + QLatin1Char('%'));
    }
  });
  EXPECT_TRUE(saved);
  EXPECT_EQ(begun, 2);  // one run, however many ticks came during it
  EXPECT_GT(shown.size(), 3u);
  EXPECT_EQ(statuses(), (QStringList{"OK", "OK"}));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TestApp a(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
