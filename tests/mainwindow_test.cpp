// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's rules, offscreen, over the scriptable CD library: rows, selection, the
// counted flag, extraction guards, album commands, the player and its timer, hot images,
// hints and the error report.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QMimeData>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QAccessible>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <map>
#include <optional>
#include <stdexcept>

#include "app/Application.h"
#include "app/face.h"
#include "app/globals.h"
#include "app/uMain.h"
#include "platform/profile.h"
#include "fake_cdrip.h"
#include "test_support.h"
#include "cdrip/CdText.h"

// The stand-in library knows no reason for a missing disc unless it is given one.
__attribute__((weak)) int32_t CR_GetTocProblem(char* text, int32_t size) {
  if (text && size > 0) text[0] = '\0';
  return 0;
}
// Nor the files of an image: its drives are devices.
__attribute__((weak)) int32_t CR_GetImageDataFile(char* text, int32_t size) {
  if (text && size > 0) text[0] = '\0';
  return 0;
}

namespace {

using namespace testing_support;

TApplication& app() { return *TApplication::Instance(); }

// A disc of four tracks; those listed in `data` are data tracks.
fake::Drive disc(std::vector<int> data = {}, const char* name = "FAKE DRIVE 1.0") {
  fake::Drive d = fake::driveWithTracks({0, 22000, 40000, 61000}, 80000, name);
  for (int i : data) d.toc[static_cast<size_t>(i)].btFlag = CR_FLAG_DATA;
  return d;
}

// Runs `action`; closes the first modal box it opens and returns that box's text.
std::optional<QString> withModalClosed(const std::function<void()>& action, QString* caption = nullptr,
                                       QWidget** owner = nullptr) {
  std::optional<QString> text;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      if (caption) *caption = box->windowTitle();
      if (owner) *owner = box->parentWidget();
      box->accept();
    }
  });
  action();
  return text;
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test has settings and names of its own: tests run side by side.
    setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    setenv("HOME", home.path().c_str(), 1);
    app();
    fake::reset();
    Settings = StartupSettings();
    openedUrls.clear();
    moves = 0;
    TfrmMain::OpenUrl = [this](const QUrl& u) {
      openedUrls.push_back(u);
      return true;
    };
    TfrmMain::StartSystemMove = [this](QWidget*) { ++moves; };
    chosenImage.clear();
    dialogs = 0;
    TfrmMain::ChooseImageFile = [this](QWidget*) {
      ++dialogs;
      return chosenImage;
    };
  }
  void TearDown() override {
    QApplication::clipboard()->clear();
  }

  std::unique_ptr<TfrmMain> make(std::vector<fake::Drive> drives) {
    fake::script().drives = std::move(drives);
    return std::make_unique<TfrmMain>();
  }

  TempDir home;
  std::vector<QUrl> openedUrls;
  int moves = 0;
  QString chosenImage;  // what the image file dialog answers; empty: cancelled
  int dialogs = 0;
};

QStringList column(TfrmMain& w, int col) {
  QStringList out;
  for (int i = 0; i < w.RowCount(); ++i) out << w.Row(i)->text(col);
  return out;
}

// A help page beside the test program, where Help looks first, while it lives.
struct HelpPage {
  HelpPage() { writeFile(path, "<html></html>"); }
  ~HelpPage() { fs::remove(path); }
  HelpPage(const HelpPage&) = delete;
  HelpPage& operator=(const HelpPage&) = delete;
  const fs::path path = [] {
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    return (exe.path() + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".html")).toStdString();
  }();
};

int ticked(TfrmMain& w) {
  int k = 0;
  for (int i = 0; i < w.RowCount(); ++i) k += w.RowChecked(i) ? 1 : 0;
  return k;
}

TEST_F(MainWindow, CreationListsDrivesAndFillsRowsOfTheFirst) {
  auto w = make({disc({2}), disc({}, "SECOND DRIVE")});
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Tessaly 2.3"));
  EXPECT_EQ(w->size(), QSize(638, 480));
  EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
  ASSERT_EQ(w->cboDrive->count(), 2);
  EXPECT_EQ(w->cboDrive->itemText(0), QStringLiteral("FAKE DRIVE 1.0"));
  EXPECT_EQ(w->cboDrive->itemText(1), QStringLiteral("SECOND DRIVE"));
  EXPECT_EQ(w->cboDrive->currentIndex(), 0);
  ASSERT_EQ(w->RowCount(), 4);
  EXPECT_EQ(column(*w, colTitle), QStringList({"Track01", "Track02", "Track03", "Track04"}));
  EXPECT_EQ(column(*w, colNo), QStringList({"01", "02", "03", "04"}));
  EXPECT_EQ(column(*w, colStatus), QStringList({"--", "--", "--", "--"}));
  EXPECT_EQ(column(*w, colIndex), QStringList({"0", "1", "2", "3"}));
  EXPECT_EQ(w->Row(0)->text(colDuration), QString::fromStdString(w->RIPPER->TrackDuration(0)));
  EXPECT_TRUE(w->ListView1->isColumnHidden(colIndex));
  EXPECT_EQ(w->RowIcon(0), 0);
  EXPECT_EQ(w->RowIcon(2), 1);  // the data track
  EXPECT_EQ(ticked(*w), 0);
  // No names anywhere: the disc is looked up as it is listed.
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("Looking up names..."));
  EXPECT_FALSE(w->PlayMode);
  EXPECT_EQ(w->PlayIndex, -1);
  EXPECT_TRUE(w->Timer1->isActive());
  EXPECT_EQ(w->Timer1->interval(), 1000);
  // A first start writes the settings file at once.
  EXPECT_TRUE(fs::exists(SettingsFileName()));
}

TEST_F(MainWindow, NoDriveLeavesTheBoxAndTheListEmpty) {
  auto w = make({});
  EXPECT_EQ(w->cboDrive->count(), 0);
  EXPECT_EQ(w->cboDrive->currentIndex(), -1);
  EXPECT_EQ(w->RowCount(), 0);
  // Said once: the timer's relisting keeps it, a hint takes the line back for good.
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No CD drive found. Open a disc image with Ctrl+O."));
  w->Timer1Timer();
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No CD drive found. Open a disc image with Ctrl+O."));
  app().SetHint(QStringLiteral("a hint"));
  app().SetHint(QString());
  w->Timer1Timer();
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected."));
  // Album commands need a drive.
  w->SaveCDInformation1Click();
  EXPECT_FALSE(fs::exists(CDPlayerIniPath()));
}

// Drops local files on the window as a file manager does.
void dropFiles(QWidget* w, const QStringList& files) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& f : files) urls << QUrl::fromLocalFile(f);
  data.setUrls(urls);
  const QPointF at(320, 300);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &enter);
  ASSERT_TRUE(enter.isAccepted()) << "the window refused the drag";
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &drop);
}

TEST_F(MainWindow, AnOpenedImageIsListedLastAndChosenAndWhatIsNoImageIsRefused) {
  auto w = make({});
  w->show();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  EXPECT_TRUE(w->OpenDiscImage1->text().remove(QLatin1Char('&')) == QStringLiteral("Open Disc Image..."));
  EXPECT_TRUE(w->PopupMenu1->actions().contains(w->OpenDiscImage1));
  for (const char* pattern : {"*.cue", "*.toc", "*.nrg"})
    EXPECT_TRUE(TfrmMain::ImageFileFilter().contains(QLatin1String(pattern))) << pattern;
  fake::script().image = fake::driveWithTracks({0, 9000}, 20000, "Disc image one.cue");

  // Cancelled: nothing is opened.
  QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(fake::script().openedImages.empty());

  // Ctrl+O on a window without drives: the image becomes the one drive, listed and chosen,
  // and the notice that no drive was found is gone.
  chosenImage = QStringLiteral("/music/one.cue");
  QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(fake::script().openedImages, std::vector<std::string>({"/music/one.cue"}));
  ASSERT_EQ(w->cboDrive->count(), 1);
  EXPECT_EQ(w->cboDrive->currentIndex(), 0);
  EXPECT_EQ(w->cboDrive->itemText(0), QStringLiteral("Disc image one.cue"));
  EXPECT_EQ(w->RowCount(), 2);
  EXPECT_TRUE(w->Notice.isEmpty()) << w->Notice.toStdString();
  EXPECT_FALSE(w->lblStatus->text().startsWith(QStringLiteral("No CD drive"))) << w->lblStatus->text().toStdString();

  // A second image after it, by dropping it; the first again is chosen, not listed twice.
  fake::script().image = fake::driveWithTracks({0, 5000, 8000}, 12000, "Disc image two.toc");
  dropFiles(w.get(), {QStringLiteral("/music/two.toc")});
  ASSERT_EQ(w->cboDrive->count(), 2);
  EXPECT_EQ(w->cboDrive->currentIndex(), 1);
  EXPECT_EQ(w->cboDrive->itemText(1), QStringLiteral("Disc image two.toc"));
  EXPECT_EQ(w->RowCount(), 3);
  EXPECT_EQ(fake::script().active, 1);
  EXPECT_TRUE(w->OpenImage(QStringLiteral("/music/one.cue")));
  EXPECT_EQ(w->cboDrive->count(), 2);
  EXPECT_EQ(w->cboDrive->currentIndex(), 0);
  EXPECT_EQ(w->RowCount(), 2);

  // What is no disc image is refused with the library's reason and not listed.
  fake::script().openImageReason = "notadisc.txt is not a disc image (cue, toc, nrg ...)";
  QString caption;
  const std::optional<QString> said =
      withModalClosed([&] { EXPECT_FALSE(w->OpenImage(QStringLiteral("/music/notadisc.txt"))); }, &caption);
  ASSERT_TRUE(said.has_value()) << "no message box";
  EXPECT_EQ(*said, QStringLiteral("notadisc.txt is not a disc image (cue, toc, nrg ...)"));
  EXPECT_EQ(caption, QStringLiteral("Open Disc Image"));
  EXPECT_EQ(w->cboDrive->count(), 2);
  EXPECT_EQ(w->cboDrive->currentIndex(), 0);
  EXPECT_EQ(w->RowCount(), 2);
}

TEST_F(MainWindow, TheFlacCommandFollowsTheClipboardCommand) {
  auto w = make({disc({2})});
  const QList<QAction*> menu = w->PopupMenu1->actions();
  ASSERT_EQ(menu.indexOf(w->ExtractTracksToFLACFiles1), menu.indexOf(w->CopyTrackInformationToClipboard1) + 1);
  EXPECT_EQ(w->ExtractTracksToFLACFiles1->text().remove(QLatin1Char('&')), QStringLiteral("Extract Tracks To FLAC Files"));
  // With nothing ticked it warns as the other extraction commands do.
  const std::optional<QString> said = withModalClosed([&] { w->ExtractTracksToFLACFiles1->trigger(); });
  ASSERT_TRUE(said.has_value());
  EXPECT_EQ(*said, QStringLiteral("No Audio Track Selected!"));
}

TEST_F(MainWindow, SelectAllTicksDataRowsTooAndCounts) {
  auto w = make({disc({2})});
  w->imgSelAllClick();
  EXPECT_EQ(w->chkSelAll->checkState(), Qt::Checked);
  EXPECT_EQ(ticked(*w), 4);
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("4 Tracks Selected"));
  w->imgSelAllClick();
  EXPECT_EQ(ticked(*w), 0);
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected"));
  w->SelectAll1Click();
  EXPECT_EQ(ticked(*w), 4);
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("4 Tracks Selected"));
}

TEST_F(MainWindow, CountedFlagGraysTheBoxAndDriveChoiceDropsTheFullStop) {
  auto w = make({disc()});
  w->SetRowChecked(1, true);
  w->ListView1MouseMove();
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("1 Tracks Selected"));
  EXPECT_EQ(w->chkSelAll->checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(w->ListViewTag, 1);
  // Counted once: a new tick shows only after a click in the list or a move over the face.
  w->SetRowChecked(2, true);
  w->ListView1MouseMove();
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("1 Tracks Selected"));
  w->Image1MouseMove(300, 300);
  EXPECT_EQ(w->ListViewTag, 0);
  w->ListView1MouseMove();
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("2 Tracks Selected"));
  EXPECT_EQ(ticked(*w), 2);  // a grayed box leaves the rows alone
  // A user click on the grayed box ticks it (and every row).
  w->chkSelAll->click();
  EXPECT_EQ(w->chkSelAll->checkState(), Qt::Checked);
  EXPECT_EQ(ticked(*w), 4);
  w->chkSelAll->click();
  EXPECT_EQ(w->chkSelAll->checkState(), Qt::Unchecked);
  // Grayed, then a drive choice: the unticking runs the box's handling, no full stop.
  w->SetRowChecked(0, true);
  w->ListViewTag = 0;
  w->ListView1MouseMove();
  ASSERT_EQ(w->chkSelAll->checkState(), Qt::PartiallyChecked);
  w->cboDriveClick();
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected"));
  EXPECT_EQ(ticked(*w), 0);
}

TEST_F(MainWindow, InvertSelectionLeavesTheTextUntilNothingIsTicked) {
  auto w = make({disc()});
  w->SetRowChecked(0, true);
  w->lblStatus->setText(QStringLiteral("marker"));
  w->InvertSelection1Click();
  EXPECT_EQ(ticked(*w), 3);
  EXPECT_FALSE(w->RowChecked(0));
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("marker"));
  w->SelectAll1Click();
  w->InvertSelection1Click();
  EXPECT_EQ(ticked(*w), 0);
  EXPECT_EQ(w->chkSelAll->checkState(), Qt::Unchecked);
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected"));
}

TEST_F(MainWindow, ExtractingOnlyDataRowsWarnsAndUnticksThem) {
  auto w = make({disc({1, 3})});
  w->SetRowChecked(1, true);
  w->SetRowChecked(3, true);
  QString caption;
  const auto text = withModalClosed([&] { w->ExtractTracksToWAVFiles1Click(); }, &caption);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, QStringLiteral("No Audio Track Selected!"));
  EXPECT_EQ(ticked(*w), 0);
  EXPECT_TRUE(w->Timer1->isActive());
  EXPECT_EQ(fake::count("CR_OpenRipper"), 0);
}

TEST_F(MainWindow, AlbumNamesAreReadOnListingAndSavedKeepingAlbumValues) {
  fake::script().drives = {disc()};
  std::string discId;
  {
    TCDRIP probe;
    discId = probe.DiscID();
  }
  ASSERT_TRUE(WriteCDInfo(discId, "The Artist", "The Album", "1999", "Jazz", nullptr));
  platform::WriteProfileString(CDPlayerIniPath(), discId, "0", "Opening");
  platform::WriteProfileString(CDPlayerIniPath(), discId, "1", "Second");
  platform::WriteProfileString(CDPlayerIniPath(), discId, "title", "Stored Title");
  auto w = make({disc()});
  // Only the track keys present name rows; the others keep their listed titles.
  EXPECT_EQ(column(*w, colTitle), QStringList({"Opening", "Second", "Track03", "Track04"}));
  w->Row(2)->setText(colTitle, QStringLiteral("Third"));
  w->Row(3)->setText(colTitle, QStringLiteral("Fourth"));
  w->SaveCDInformation1Click();
  std::string artist, title, year, genre;
  std::vector<std::string> names;
  ASSERT_TRUE(ReadCDInfo(discId, artist, title, year, genre, names));
  EXPECT_EQ(artist, "The Artist");
  // The album is written also under the key the reader takes.
  EXPECT_EQ(title, "The Album");
  EXPECT_EQ(year, "1999");
  EXPECT_EQ(genre, "Jazz");
  EXPECT_EQ(platform::ReadProfileString(CDPlayerIniPath(), discId, "album").value_or(""), "The Album");
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(names[2], "Third");
  // Renamed rows are lost on a new listing unless saved; these were saved.
  w->Row(0)->setText(colTitle, QStringLiteral("Unsaved"));
  w->cboDriveClick();
  EXPECT_EQ(column(*w, colTitle), QStringList({"Opening", "Second", "Third", "Fourth"}));
}

TEST_F(MainWindow, ClipboardHoldsOneLinePerRowAfterALeadingBreak) {
  auto w = make({disc()});
  w->Row(1)->setText(colTitle, QStringLiteral("Named"));
  const auto text = withModalClosed([&] { w->CopyTrackInformationToClipboard1Click(); });
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, QStringLiteral("Successfully copy the Track Information to the Clipboard!"));
  const QString expected = QStringLiteral("\r\n01\tTrack01\t") + w->Row(0)->text(colDuration) +
                           QStringLiteral("\r\n02\tNamed\t") + w->Row(1)->text(colDuration) +
                           QStringLiteral("\r\n03\tTrack03\t") + w->Row(2)->text(colDuration) +
                           QStringLiteral("\r\n04\tTrack04\t") + w->Row(3)->text(colDuration);
  EXPECT_EQ(QApplication::clipboard()->text(), expected);
}

// --- the player ---

TEST_F(MainWindow, PlayWithoutSelectionStartsTrackOneOrNothingOnAData) {
  auto w = make({disc()});
  w->btnPlayClick();
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1}));
  EXPECT_EQ(w->SelectedRow(), 0);
  EXPECT_EQ(w->PlayIndex, 0);
  EXPECT_TRUE(w->PlayMode);
  auto d = make({disc({0})});
  fake::script().playArgs.clear();
  d->btnPlayClick();
  EXPECT_TRUE(fake::script().playArgs.empty());
  EXPECT_TRUE(d->PlayMode);  // set although nothing plays
  EXPECT_EQ(d->PlayIndex, -1);
}

TEST_F(MainWindow, PlayOnADataRowKeepsThePlayingRow) {
  auto w = make({disc({2})});
  w->SelectRow(1);
  w->btnPlayClick();
  w->SelectRow(2);
  w->btnPlayClick();
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({2}));
  EXPECT_EQ(w->PlayIndex, 1);
}

TEST_F(MainWindow, SkipsStopAtTheEndsAndStartFromTheSelectedRow) {
  auto w = make({disc()});
  w->btnForwardClick();  // no selection
  EXPECT_TRUE(fake::script().playArgs.empty());
  w->SelectRow(3);
  w->btnForwardClick();
  EXPECT_TRUE(fake::script().playArgs.empty());
  w->btnBackwardClick();
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({3}));
  EXPECT_EQ(w->SelectedRow(), 2);
  w->SelectRow(0);
  w->btnBackwardClick();
  EXPECT_EQ(fake::script().playArgs.size(), 1u);
  w->btnForwardClick();
  EXPECT_EQ(fake::script().playArgs.back(), 2);
}

TEST_F(MainWindow, PauseFlipsAndSendsTheFlagStopKeepsIt) {
  auto w = make({disc()});
  w->btnPlayClick();
  w->imgPauseClick();
  w->imgPauseClick();
  w->imgPauseClick();
  EXPECT_EQ(fake::script().pauseArgs, std::vector<int32_t>({CR_TRUE, CR_FALSE, CR_TRUE}));
  EXPECT_TRUE(w->Paused);
  w->btnStopClick();
  EXPECT_TRUE(w->Paused);
  EXPECT_FALSE(w->PlayMode);
  EXPECT_EQ(w->PlayIndex, -1);
  w->btnPlayClick();
  EXPECT_FALSE(w->Paused);
}

TEST_F(MainWindow, TimerAdvancesAtTheEndOfATrackAndWrapsAfterTheLast) {
  auto w = make({disc()});
  fake::script().nextPosition = 0;
  fake::script().playPositions = {100, 100};  // moving, then still
  w->SelectRow(3);
  w->btnPlayClick();
  w->Timer1Timer();
  EXPECT_EQ(w->RowIcon(3), 2);
  EXPECT_EQ(w->PlayIndex, 3);
  w->Timer1Timer();  // the position stopped: the last track ended
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({4, 1}));
  EXPECT_EQ(w->SelectedRow(), 0);
  EXPECT_EQ(w->PlayIndex, 0);
  // The icon pass puts the old playing row back to 0 on the next tick.
  fake::script().playPositions.push_back(5000);
  w->Timer1Timer();
  EXPECT_EQ(w->RowIcon(3), 0);
  EXPECT_EQ(w->RowIcon(0), 2);
}

TEST_F(MainWindow, PausedOrStoppedTicksNeverAdvance) {
  auto w = make({disc()});
  fake::script().playPositions = {500};
  w->btnPlayClick();
  w->imgPauseClick();
  w->Timer1Timer();  // moved
  w->Timer1Timer();  // still, but paused
  w->Timer1Timer();
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1}));
  w->imgPauseClick();  // resumed, and the track ends
  w->Timer1Timer();
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1, 2}));
}

TEST_F(MainWindow, AdvancingOntoADataRowRetriesItEveryTick) {
  auto w = make({disc({1})});
  w->btnPlayClick();
  for (int i = 0; i < 3; ++i) w->Timer1Timer();
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1}));
  EXPECT_EQ(w->SelectedRow(), 1);
  EXPECT_EQ(w->PlayIndex, 0);
  EXPECT_EQ(w->RowIcon(1), 1);
}

TEST_F(MainWindow, ATickJustAfterPlayOrResumeDoesNotSkipTheTrack) {
  auto w = make({disc()});
  // The timer is restarted by Play: a tick 50 ms later cannot come before a full second.
  w->Timer1->start();
  {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 950) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  w->btnPlayClick();
  int ticks = 0;
  auto c = QObject::connect(w->Timer1, &QTimer::timeout, [&] { ++ticks; });
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1}));
  w->imgPauseClick();
  w->imgPauseClick();
  t.restart();
  while (t.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(ticks, 0);
  QObject::disconnect(c);
}

TEST_F(MainWindow, EjectWhilePlayingStopsAndRelists) {
  auto w = make({disc()});
  fake::script().playPositions = {0, 700};
  w->btnPlayClick();
  w->Timer1Timer();
  const int stopsBefore = fake::count("CR_StopPlayTrack");
  fake::script().playPositions.push_back(1400);  // still moving when the drive is chosen again
  w->btnEjectClick();
  EXPECT_EQ(fake::script().ejectArgs, std::vector<int32_t>({CR_TRUE}));
  EXPECT_EQ(fake::count("CR_StopPlayTrack"), stopsBefore + 1);
  EXPECT_FALSE(w->PlayMode);
  EXPECT_EQ(w->PlayIndex, -1);
}

TEST_F(MainWindow, TimerRelistsWhileNoDiscIsReadable) {
  fake::Drive empty = disc();
  empty.tocStatus = CDEX_ERROR;
  auto w = make({empty});
  EXPECT_EQ(w->RowCount(), 0);
  const int reads = fake::count("CR_ReadToc");
  w->Timer1Timer();
  EXPECT_EQ(fake::count("CR_ReadToc"), reads + 1);
  fake::script().drives[0].tocStatus = CDEX_OK;  // a disc was inserted
  w->Timer1Timer();
  EXPECT_EQ(w->RowCount(), 4);
}

// A key pressed and released on a widget, as the keyboard delivers it.
void pressKey(QWidget* w, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString());
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

TEST_F(MainWindow, TheCountFollowsEveryTickByKeyboardAndTickingAllByHandKeepsTheBox) {
  auto w = make({disc()});
  w->show();
  w->ListView1->setFocus();
  w->ListView1->setCurrentItem(w->Row(0));
  pressKey(w->ListView1, Qt::Key_Space);
  EXPECT_TRUE(w->RowChecked(0));
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("1 Tracks Selected"));  // no pointer movement needed
  EXPECT_EQ(w->chkSelAll->checkState(), Qt::PartiallyChecked);
  for (int i = 1; i < 4; ++i) {
    pressKey(w->ListView1, Qt::Key_Down);
    pressKey(w->ListView1, Qt::Key_Space);
    EXPECT_EQ(w->lblStatus->text(), QString::number(i + 1) + QStringLiteral(" Tracks Selected"));
  }
  EXPECT_EQ(ticked(*w), 4);
  EXPECT_EQ(w->chkSelAll->checkState(), Qt::PartiallyChecked);  // as it was before the last tick
  pressKey(w->ListView1, Qt::Key_Space);
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("3 Tracks Selected"));
  // Moving by keyboard ticks nothing and counts nothing.
  w->lblStatus->setText(QStringLiteral("marker"));
  pressKey(w->ListView1, Qt::Key_Up);
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("marker"));

  // Every row ticked by hand before the count: all of them counted, and the box as it was.
  auto h = make({disc()});
  for (int i = 0; i < 4; ++i) h->SetRowChecked(i, true);
  h->ListView1MouseMove();
  EXPECT_EQ(h->lblStatus->text(), QStringLiteral("4 Tracks Selected"));
  EXPECT_EQ(h->chkSelAll->checkState(), Qt::Unchecked);
  h->SetRowChecked(3, false);
  h->ListViewTag = 0;
  h->ListView1MouseMove();
  EXPECT_EQ(h->lblStatus->text(), QStringLiteral("3 Tracks Selected"));
  EXPECT_EQ(h->chkSelAll->checkState(), Qt::PartiallyChecked);
}

TEST_F(MainWindow, TheTimerStopsAtTheEndOfTheDiscsAudio) {
  // A data track after the audio: the last audio track ends and the player stops there.
  auto w = make({disc({3})});
  fake::script().nextPosition = 0;
  fake::script().playPositions = {100, 100};  // moving, then still
  w->SelectRow(2);
  w->btnPlayClick();
  w->Timer1Timer();
  EXPECT_EQ(w->RowIcon(2), 2);
  w->Timer1Timer();
  EXPECT_FALSE(w->PlayMode);
  EXPECT_EQ(w->PlayIndex, -1);
  EXPECT_EQ(w->RowIcon(2), 0);  // no longer shown as playing
  EXPECT_EQ(w->SelectedRow(), 2);
  for (int i = 0; i < 3; ++i) w->Timer1Timer();
  EXPECT_EQ(w->SelectedRow(), 2);  // the data row is not picked every second
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({3}));

  // A data track first: the wrap-around after the last track would land on it.
  auto m = make({disc({0})});
  fake::script().playArgs.clear();
  fake::script().playPositions = {100, 100};
  fake::script().nextPosition = 0;
  m->SelectRow(3);
  m->btnPlayClick();
  m->Timer1Timer();
  m->Timer1Timer();
  EXPECT_FALSE(m->PlayMode);
  EXPECT_EQ(m->SelectedRow(), 3);
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({4}));

  // Audio after a data track in the middle: the described retrying is kept (tested above),
  // and on an all-audio disc the player still wraps to track 1.
  auto a = make({disc()});
  fake::script().playArgs.clear();
  fake::script().playPositions = {100, 100};
  fake::script().nextPosition = 0;
  a->SelectRow(3);
  a->btnPlayClick();
  a->Timer1Timer();
  a->Timer1Timer();
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({4, 1}));
}

TEST_F(MainWindow, AnExtractionStartedDuringPlaybackLeavesThePlayerStopped) {
  Settings.OutDir = (home.path() / "out").string();
  Settings.OpenWhenDone = false;
  auto w = make({disc()});
  Settings.OutDir = (home.path() / "out").string();
  Settings.OpenWhenDone = false;
  fake::script().playPositions = {100, 200};
  w->btnPlayClick();
  w->Timer1Timer();  // playing track 1
  w->SetRowChecked(1, true);
  const int stops = fake::count("CR_StopPlayTrack");
  w->ExtractTracksToWAVFiles1Click();
  EXPECT_TRUE(fs::exists(home.path() / "out" / "Track02.wav"));
  EXPECT_GT(fake::count("CR_StopPlayTrack"), stops);
  EXPECT_FALSE(w->PlayMode);
  EXPECT_EQ(w->PlayIndex, -1);
  // The position no longer moves after the run: that is no track ending.
  for (int i = 0; i < 3; ++i) w->Timer1Timer();
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1}));
}

TEST_F(MainWindow, EjectAgainOrChoosingTheDriveClosesTheTrayThisWindowOpened) {
  auto w = make({disc()});
  fake::Drive& drive = fake::script().drives[0];
  drive.tocStatus = CDEX_ERROR;  // the tray open: no disc
  w->btnEjectClick();
  EXPECT_TRUE(w->TrayOpened(0));
  ASSERT_EQ(w->RowCount(), 0);
  drive.tocStatus = CDEX_OK;
  w->btnEjectClick();  // closes, and the disc is listed again
  EXPECT_EQ(fake::script().ejectArgs, std::vector<int32_t>({CR_TRUE, CR_FALSE}));
  EXPECT_EQ(w->RowCount(), 4);
  EXPECT_FALSE(w->TrayOpened(0));
  drive.tocStatus = CDEX_ERROR;
  w->btnEjectClick();  // a disc was listed: opens again
  EXPECT_EQ(fake::script().ejectArgs.back(), CR_TRUE);
  drive.tocStatus = CDEX_OK;
  w->DriveChosen();  // the user picks the drive in the box
  EXPECT_EQ(fake::script().ejectArgs, std::vector<int32_t>({CR_TRUE, CR_FALSE, CR_TRUE, CR_FALSE}));
  EXPECT_EQ(w->RowCount(), 4);
  w->DriveChosen();  // a shut tray is left alone
  EXPECT_EQ(fake::script().ejectArgs.size(), 4u);
  // A tray pushed in by hand: the disc shows up through the timer, and the next Eject opens.
  drive.tocStatus = CDEX_ERROR;
  w->btnEjectClick();
  drive.tocStatus = CDEX_OK;
  w->Timer1Timer();
  EXPECT_EQ(w->RowCount(), 4);
  w->btnEjectClick();
  EXPECT_EQ(fake::script().ejectArgs.back(), CR_TRUE);
}

TEST_F(MainWindow, SettingsThatCannotBeSavedStartTheWindowAndAreToldOnce) {
  writeFile(home.path() / "plain", "a file");
  setenv("XDG_CONFIG_HOME", (home.path() / "plain" / "config").c_str(), 1);
  fake::Drive empty = disc();
  empty.tocStatus = CDEX_ERROR;
  std::unique_ptr<TfrmMain> w;
  ASSERT_NO_THROW(w = make({empty}));
  EXPECT_EQ(Settings.EnableVBR, -1);  // the start-up values
  const QString told = w->lblStatus->text();
  EXPECT_TRUE(told.startsWith(QStringLiteral("Settings cannot be saved: Not a directory ("))) << told.toStdString();
  EXPECT_LE(QFontMetrics(w->lblStatus->font()).horizontalAdvance(told), w->lblStatus->width());
  w->show();
  ASSERT_TRUE(w->grab().save(QStringLiteral(SCREENSHOT_DIR "/mainwindow_settings_notice.png")));
  // The relisting of the empty drive every second keeps it; the user's pointer replaces it.
  w->Timer1Timer();
  w->Timer1Timer();
  EXPECT_EQ(w->lblStatus->text(), told);
  app().SetHint(QStringLiteral("Play track"));
  app().SetHint(QString());
  w->Timer1Timer();
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("No Tracks Selected."));
  w->show();
  w->Exit1Click();  // closing with settings that cannot be saved still closes
  EXPECT_FALSE(w->isVisible());
  // A folder that can be written: not a word.
  setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
  auto ok = make({disc()});
  // A disc without names is looked up as it is listed.
  EXPECT_EQ(ok->lblStatus->text(), QStringLiteral("Looking up names..."));
}

// --- the face ---

TEST_F(MainWindow, HotImagesLightOneAtATimeAndDragPointsHideThem) {
  auto w = make({disc()});
  w->show();
  for (const auto& h : face::kHotImages) EXPECT_FALSE(w->hot(h.id)->isVisible()) << h.name.data();
  w->Image1MouseMove(37, 170);
  EXPECT_TRUE(w->hot(face::HotImage::imgToWave)->isVisible());
  w->Image1MouseMove(610, 25);
  EXPECT_FALSE(w->hot(face::HotImage::imgToWave)->isVisible());
  EXPECT_TRUE(w->hot(face::HotImage::imgClose)->isVisible());
  // Over the part of the lit WAV picture outside its hover area: a drag point.
  w->Image1MouseMove(60, 170);
  EXPECT_TRUE(w->WMNCHitTest(95, 170));
  EXPECT_FALSE(w->hot(face::HotImage::imgToWave)->isVisible());
  EXPECT_FALSE(w->WMNCHitTest(600, 125));  // the select-all picture
  EXPECT_EQ(w->hot(face::HotImage::imgPause)->statusTip(), w->hot(face::HotImage::imgStop)->statusTip());
  EXPECT_EQ(w->hot(face::HotImage::imgCorvane)->statusTip(), QStringLiteral("Welcome to https://tessaly.org"));
}

// Every accessible object under `iface`: role, name and description, depth first.
struct Accessible {
  QAccessible::Role role;
  QString name, description;
  QAccessibleInterface* iface;
};
void collect(QAccessibleInterface* iface, std::vector<Accessible>& out) {
  if (!iface) return;
  out.push_back({iface->role(), iface->text(QAccessible::Name), iface->text(QAccessible::Description), iface});
  for (int i = 0; i < iface->childCount(); ++i) collect(iface->child(i), out);
}

TEST_F(MainWindow, ScreenReadersNameEveryButtonAreaAndItsHint) {
  auto w = make({disc()});
  w->show();
  std::vector<Accessible> tree;
  collect(QAccessible::queryAccessibleInterface(w.get()), tree);
  auto find = [&](const QString& name) -> const Accessible* {
    for (const Accessible& a : tree)
      if (a.name == name && a.role != QAccessible::StaticText) return &a;
    return nullptr;
  };
  const std::pair<const char*, face::HotImage> buttons[] = {
      {"WAV", face::HotImage::imgToWave},      {"MP3", face::HotImage::imgToMP3},
      {"Options", face::HotImage::imgOptions}, {"Help", face::HotImage::imgHelp},
      {"Exit", face::HotImage::imgExit},       {"Tessaly on the web", face::HotImage::imgCorvane},
      {"Minimize", face::HotImage::imgMin},    {"Close", face::HotImage::imgClose},
      {"Previous track", face::HotImage::imgBack}, {"Play", face::HotImage::imgPlay},
      {"Pause", face::HotImage::imgPause},     {"Stop", face::HotImage::imgStop},
      {"Next track", face::HotImage::imgForward}, {"Eject", face::HotImage::imgEject}};
  for (const auto& [name, id] : buttons) {
    const Accessible* a = find(QString::fromLatin1(name));
    ASSERT_NE(a, nullptr) << name;
    EXPECT_EQ(a->role, QAccessible::Button) << name;
    EXPECT_EQ(a->description, w->hot(id)->statusTip()) << name;
    EXPECT_FALSE(a->description.isEmpty()) << name;
  }
  // A drop-down list reads its current item as its name; the box's own name is its label.
  const auto drive = std::find_if(tree.begin(), tree.end(),
                                  [&](const Accessible& a) { return a.iface->object() == w->cboDrive; });
  ASSERT_NE(drive, tree.end());
  EXPECT_EQ(drive->role, QAccessible::ComboBox);
  EXPECT_EQ(w->cboDrive->accessibleName(), QStringLiteral("CD drive"));
  ASSERT_NE(find(QStringLiteral("Select all")), nullptr);
  EXPECT_EQ(find(QStringLiteral("Select all"))->role, QAccessible::CheckBox);
  ASSERT_NE(find(QStringLiteral("Tracks")), nullptr);

  // The list reads the columns the user sees: every row's title, number, duration and status,
  // and nothing of the hidden index column, neither its cells nor its header.
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(w->ListView1);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->text(QAccessible::Name), QStringLiteral("Tracks"));
  ASSERT_GT(w->RowCount(), 0);
  QStringList headers;
  std::map<std::pair<int, int>, QString> cells;  // (row, column) -> text
  for (int i = 0; i < list->childCount(); ++i) {
    QAccessibleInterface* c = list->child(i);
    if (!c) continue;
    EXPECT_EQ(list->indexOfChild(c), i);
    EXPECT_EQ(c->parent(), list);
    if (c->role() == QAccessible::ColumnHeader) {
      headers.push_back(c->text(QAccessible::Name));
      continue;
    }
    ASSERT_NE(c->tableCellInterface(), nullptr);
    const int column = c->tableCellInterface()->columnIndex();
    EXPECT_NE(column, static_cast<int>(colIndex)) << "a cell of the index column: " << c->text(QAccessible::Name).toStdString();
    cells[{c->tableCellInterface()->rowIndex(), column}] = c->text(QAccessible::Name);
  }
  EXPECT_EQ(headers, QStringList({"Title", "No.", "Duration", "Status"}));
  for (int c : {colTitle, colNo, colDuration, colStatus})
    for (int r = 0; r < w->RowCount(); ++r) EXPECT_EQ((cells[{r, c}]), w->Row(r)->text(c)) << r << "," << c;
  EXPECT_EQ(cells.size(), static_cast<size_t>(4 * w->RowCount()));
  // Through the table interface too: four columns, the last one the status.
  QAccessibleTableInterface* table = list->tableInterface();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->columnCount(), 4);
  EXPECT_EQ(table->rowCount(), w->RowCount());
  EXPECT_EQ(table->cellAt(0, 4), nullptr);
  ASSERT_NE(table->cellAt(0, 3), nullptr);
  EXPECT_EQ(table->cellAt(0, 3)->tableCellInterface()->columnIndex(), static_cast<int>(colStatus));
  EXPECT_EQ(table->columnDescription(3), QStringLiteral("Status"));
  w->ListView1->setCurrentItem(w->Row(0));
  table->selectRow(0);
  for (QAccessibleInterface* c : table->selectedCells())
    EXPECT_NE(c->tableCellInterface()->columnIndex(), static_cast<int>(colIndex));
  EXPECT_EQ(table->selectedCellCount(), 4);

  // A screen reader's "press" plays, as the Play area does.
  const Accessible* play = find(QStringLiteral("Play"));
  ASSERT_NE(play->iface->actionInterface(), nullptr);
  play->iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_TRUE(QTest::qWaitFor([] { return !fake::script().playArgs.empty(); }, 2000));  // an animated click
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1}));
}

TEST_F(MainWindow, TheKeyboardReachesAndPressesEveryButtonAreaAndTheShortcutsAct) {
  auto w = make({disc()});
  w->show();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  // Tab from the list walks the buttons in the face's order; the focused one is lit and ringed.
  w->ListView1->setFocus();
  const face::HotImage order[] = {face::HotImage::imgToWave, face::HotImage::imgToMP3, face::HotImage::imgOptions,
                                  face::HotImage::imgHelp,   face::HotImage::imgExit,  face::HotImage::imgBack,
                                  face::HotImage::imgPlay,   face::HotImage::imgPause, face::HotImage::imgStop,
                                  face::HotImage::imgForward, face::HotImage::imgEject, face::HotImage::imgCorvane,
                                  face::HotImage::imgMin,    face::HotImage::imgClose};
  for (face::HotImage id : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->faceButton(id)) << face::Info(id).name.data();
    EXPECT_TRUE(w->hot(id)->isVisible()) << face::Info(id).name.data();
    EXPECT_EQ(w->lblStatus->text(), w->hot(id)->statusTip());
    if (id == face::HotImage::imgToWave) {
      EXPECT_TRUE(w->grab().toImage().save(QStringLiteral(SCREENSHOT_DIR "/mainwindow_focus_ring.png")));
    }
  }

  // Space and Enter press.
  w->faceButton(face::HotImage::imgPlay)->setFocus();
  QTest::keyClick(w->faceButton(face::HotImage::imgPlay), Qt::Key_Space);
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1}));
  w->faceButton(face::HotImage::imgPause)->setFocus();
  QTest::keyClick(w->faceButton(face::HotImage::imgPause), Qt::Key_Return);
  EXPECT_TRUE(w->Paused);
  const auto warned = withModalClosed([&] {
    w->faceButton(face::HotImage::imgToWave)->setFocus();
    QTest::keyClick(w->faceButton(face::HotImage::imgToWave), Qt::Key_Return);
  });
  EXPECT_EQ(warned.value_or(QString()), QStringLiteral("No Audio Track Selected!"));

  // The shortcuts, through the window system as typed.
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  w->ListView1->setFocus();
  w->SelectRow(1);
  QTest::keyClick(w.get(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(ticked(*w), 4);
  QTest::keyClick(w.get(), Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(w->SelectedRow(), 2);
  EXPECT_EQ(fake::script().playArgs.back(), 3);
  QTest::keyClick(w.get(), Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(fake::script().playArgs.back(), 2);
  QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(fs::exists(CDPlayerIniPath()));
  {
    const HelpPage page;
    QTest::keyClick(w.get(), Qt::Key_F1);
  }
  ASSERT_EQ(openedUrls.size(), 1u);
  EXPECT_TRUE(openedUrls[0].toLocalFile().endsWith(QStringLiteral(".html")));
  QTest::keyClick(w.get(), Qt::Key_F2);
  EXPECT_NE(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr);  // editing the title in place
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  QTest::keyClick(w.get(), Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(fake::script().ejectArgs, std::vector<int32_t>({CR_TRUE}));
  // Space with the focus on no control that takes it plays and pauses.
  fake::script().playArgs.clear();
  w->setFocus();
  QTest::keyClick(w.get(), Qt::Key_Space);
  EXPECT_EQ(fake::script().playArgs, std::vector<int32_t>({1}));
  QTest::keyClick(w.get(), Qt::Key_Space);
  EXPECT_TRUE(w->Paused);
  QTest::keyClick(w.get(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(w->isVisible());
}

TEST_F(MainWindow, Screenshot) {
  auto w = make({disc({3})});
  w->show();
  w->SetRowChecked(0, true);
  w->SetRowChecked(2, true);
  w->SelectRow(1);
  w->Image1MouseMove(60, 225);  // the MP3 button lit
  w->ListView1MouseMove();  // counts the ticks and grays the select-all box
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("2 Tracks Selected"));
  const QImage shot = w->grab().toImage();
  EXPECT_EQ(shot.size(), QSize(638, 480));
  ASSERT_TRUE(shot.save(QStringLiteral(SCREENSHOT_DIR "/mainwindow.png")));
}

TEST_F(MainWindow, PressingADragPointMovesTheWindowAndAButtonDoesNot) {
  auto w = make({disc()});
  w->show();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(300, 40), w->mapToGlobal(QPointF(300, 40)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w->Image1, &press);
  EXPECT_EQ(moves, 1);
  QMouseEvent onButton(QEvent::MouseButtonPress, QPointF(60, 170), w->mapToGlobal(QPointF(60, 170)), Qt::LeftButton,
                       Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w->Image1, &onButton);
  EXPECT_EQ(moves, 1);
}

TEST_F(MainWindow, HintsGoToTheStatusLineAndAnEmptyHintEmptiesIt) {
  auto w = make({disc()});
  app().SetHint(QStringLiteral("Play track"));
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("Play track"));
  app().SetHint(QStringLiteral("short|the long form"));
  EXPECT_EQ(w->lblStatus->text(), QStringLiteral("the long form"));
  app().SetHint(QString());
  EXPECT_EQ(w->lblStatus->text(), QString());
  // The list has no hint of its own, nor has the window.
  EXPECT_EQ(HintOf(w->ListView1->viewport()), QString());
  EXPECT_EQ(HintOf(w->imgSelAll), QStringLiteral("Select or Unselect all tracks"));
  EXPECT_EQ(w->SaveCDInformation1->statusTip(), QStringLiteral("Save alubm information to CDPlayer.ini file"));
}

TEST_F(MainWindow, AnExceptionInAHandlerIsReportedAndTheProgramGoesOn) {
  auto w = make({disc()});
  w->show();
  QObject target;
  std::optional<QString> text;
  QString caption;
  QTimer::singleShot(0, &target, [] { throw ECDRIPError("Initialization failure"); });
  QTimer::singleShot(20, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      caption = box->windowTitle();
      box->accept();
    }
  });
  QElapsedTimer t;
  t.start();
  while (!text && t.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(caption, QStringLiteral("Error Report"));
  EXPECT_EQ(*text, QStringLiteral("We are sorry that a problem has encounted:\r\nPlease tell me the Error to "
                                  "support@tessaly.org:\r\n\r\nInitialization failure\r\n\r\nThank you."));
}

TEST_F(MainWindow, HelpAndMakerPageOpenThroughTheDesktopAndCloseSavesSettings) {
  auto w = make({disc()});
  {
    const HelpPage page;
    w->HelpWith1Click();
  }
  w->Corvanecomontheweb1Click();
  ASSERT_EQ(openedUrls.size(), 2u);
  EXPECT_TRUE(openedUrls[0].isLocalFile());
  EXPECT_TRUE(openedUrls[0].toLocalFile().endsWith(QStringLiteral(".html")));
  EXPECT_EQ(openedUrls[1], QUrl(QStringLiteral("https://tessaly.org")));
  fs::remove(SettingsFileName());
  Settings.BitRates = 192;
  w->show();
  w->Exit1Click();
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(platform::ReadProfileString(SettingsFileName(), "MP3", "BitRates").value_or(""), "192");
}

TEST_F(MainWindow, APageNothingOpensOrAMissingHelpPageIsToldInTheStatusLine) {
  auto w = make({disc()});
  TfrmMain::OpenUrl = [this](const QUrl& u) {
    openedUrls.push_back(u);
    return false;  // no xdg-open
  };
  {
    const HelpPage page;
    w->HelpWith1Click();
  }
  ASSERT_EQ(openedUrls.size(), 1u);
  EXPECT_EQ(w->lblStatus->text(),
            QStringLiteral("The help page cannot be opened: no program opens it (xdg-open from xdg-utils is missing)"));
  w->Corvanecomontheweb1Click();
  EXPECT_TRUE(w->lblStatus->text().startsWith(QStringLiteral("The web page cannot be opened"))) << w->lblStatus->text().toStdString();
  // Without the page nothing is asked to open it, and the status line names the file looked for.
  if (!fs::exists(TfrmMain::HelpFileName().toStdString())) {
    w->HelpWith1Click();
    EXPECT_EQ(openedUrls.size(), 2u);
    EXPECT_EQ(w->lblStatus->text(),
              QStringLiteral("The help page cannot be opened: ") + TfrmMain::HelpFileName() + QStringLiteral(" is missing"));
  }
}

}  // namespace

// The application object lives on main's stack, so it is torn down before the leak check.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication a(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
