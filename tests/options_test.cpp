// SPDX-License-Identifier: GPL-3.0-or-later
// The options dialog driven offscreen: what it shows for the settings record, what OK, Default,
// Cancel and the folder browser do to the record, and a screenshot to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "app/globals.h"
#include "platform/paths.h"

namespace {

// Like the program's application object: an exception leaving an event handler is reported
// (here: recorded) and the program goes on.
class TestApplication : public QApplication {
 public:
  using QApplication::QApplication;
  std::vector<std::string> reported;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      reported.emplace_back(e.what());
      return false;
    }
  }
};

TestApplication* app() { return static_cast<TestApplication*>(QCoreApplication::instance()); }

QString musicDir() { return QString::fromStdString(platform::MusicDir().string()); }

// Every stored field of two records, AskOverwrite aside.
void expectSameStoredFields(const TMP3Settings& a, const TMP3Settings& b) {
  EXPECT_EQ(a.OutDir, b.OutDir);
  EXPECT_EQ(a.OpenWhenDone, b.OpenWhenDone);
  EXPECT_EQ(a.SampleRates, b.SampleRates);
  EXPECT_EQ(a.BitRates, b.BitRates);
  EXPECT_EQ(a.MaxBitRates, b.MaxBitRates);
  EXPECT_EQ(a.Mode, b.Mode);
  EXPECT_EQ(a.Quality, b.Quality);
  EXPECT_EQ(a.EnableVBR, b.EnableVBR);
  EXPECT_EQ(a.WriteVBRHeader, b.WriteVBRHeader);
  EXPECT_EQ(a.VBRQuality, b.VBRQuality);
  EXPECT_EQ(a.CopyRight, b.CopyRight);
  EXPECT_EQ(a.Original, b.Original);
  EXPECT_EQ(a.CRC, b.CRC);
  EXPECT_EQ(a.bPrivate, b.bPrivate);
}

// A record that differs from the start-up values in every field.
TMP3Settings unusualSettings() {
  return TMP3Settings{false, "/srv/elsewhere", false, 22050, 192, 256, 1, 2, 0, 0, 8, -1, -1, 0, -1};
}

// Shows the dialog modally and runs `drive` once it is up; a dialog that `drive` leaves open is
// closed with -1 after a few seconds, so a fault fails instead of hanging.
int execWith(TfrmOptions& dlg, const std::function<void()>& drive) {
  QTimer::singleShot(0, &dlg, [&dlg, drive] {
    EXPECT_TRUE(dlg.isVisible());
    drive();
  });
  QTimer::singleShot(5000, &dlg, [&dlg] {
    if (dlg.isVisible()) dlg.done(-1);
  });
  return dlg.exec();
}

void press(QWidget* window, int key) {
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &down);
}

void mouseClick(QWidget* w) {
  const QPointF local(w->width() / 2.0, w->height() / 2.0);
  const QPointF global = w->mapToGlobal(local);
  QMouseEvent down(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &down);
  QMouseEvent up(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &up);
}

void choose(QComboBox* box, const QString& text) {
  const int i = box->findText(text);
  ASSERT_GE(i, 0) << text.toStdString();
  box->setCurrentIndex(i);
}

QStringList itemsOf(const QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

class OptionsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = StartupSettings();
    std::error_code ec;
    std::filesystem::remove(SettingsFileName(), ec);
    TfrmOptions::FolderBrowser = nullptr;
    app()->reported.clear();
  }
  void TearDown() override { TfrmOptions::FolderBrowser = nullptr; }
};

TEST_F(OptionsDialog, FrameCaptionsAndListsAsDesigned) {
  TfrmOptions dlg;
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Options"));
  EXPECT_EQ(dlg.parent(), nullptr);
  // The described 348 x 325, with the column of the further settings beside it; the described
  // controls keep their places.
  EXPECT_EQ(dlg.size(), QSize(656, 325));
  EXPECT_EQ(dlg.GroupBox1->geometry(), QRect(9, 3, 329, 73));
  EXPECT_EQ(dlg.GroupBox2->geometry(), QRect(9, 83, 329, 209));
  EXPECT_EQ(dlg.btnDefault->geometry(), QRect(9, 298, 75, 23));
  EXPECT_EQ(dlg.OK->geometry(), QRect(176, 298, 75, 23));
  EXPECT_EQ(dlg.BitBtn1->geometry(), QRect(264, 298, 75, 23));
  EXPECT_EQ(dlg.GroupBoxDrive->y(), dlg.GroupBox1->y());  // beside the output folder
  EXPECT_GE(dlg.GroupBoxDrive->x(), dlg.GroupBox1->geometry().right());
  EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());  // no resizing
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
  const QFontInfo font(dlg.font());
  EXPECT_EQ(font.pixelSize(), 12);
  EXPECT_TRUE(font.family() == "Arial" || font.family() == "Liberation Sans") << font.family().toStdString();

  EXPECT_EQ(dlg.GroupBox1->title(), "Output Folder");
  EXPECT_EQ(dlg.GroupBox2->title(), "MP3 Settings");
  EXPECT_EQ(dlg.CheckBoxOpen->text(), "&Open Out Folder When Done ripping");
  const std::pair<QAbstractButton*, const char*> captions[] = {
      {dlg.CheckBox6, "Enable VBR"}, {dlg.CheckBox7, "Write VBR header"}, {dlg.CheckBox3, "Copyright"},
      {dlg.CheckBox4, "Original"},   {dlg.CheckBox5, "CRC"},              {dlg.CheckBox8, "Private"},
      {dlg.btnDefault, "Default"},   {dlg.OK, "OK"},                      {dlg.BitBtn1, "Cancel"}};
  for (const auto& [button, caption] : captions) EXPECT_EQ(button->text(), caption);
  EXPECT_TRUE(dlg.OK->isDefault());
  EXPECT_FALSE(dlg.SpeedButtonOutputDir->icon().isNull());

  const std::pair<QComboBox*, QStringList> lists[] = {
      {dlg.ComboBox1, {"44100", "32000", "22050"}},
      {dlg.ComboBox2, {"320", "256", "192", "160", "128", "96"}},
      {dlg.ComboBox3, {"320", "256", "192", "160"}},
      {dlg.ComboBox4, {"Stereo", "Joint stereo", "Dual channel", "Mono"}},
      {dlg.ComboBox5, {"Normal", "Low", "High", "Voice"}},
      {dlg.ComboBox8, {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}}};
  for (const auto& [box, items] : lists) {
    EXPECT_EQ(itemsOf(box), items);
    EXPECT_FALSE(box->isEditable());  // no typing
  }
  const std::pair<QLabel*, const char*> labels[] = {{dlg.Label1, "Sample Rate:"},  {dlg.Label2, "Min. BitRate:"},
                                                    {dlg.Label3, "Max. BitRate:"}, {dlg.Label4, "Stereo Mode:"},
                                                    {dlg.Label5, "MPEG Quality:"}, {dlg.Label6, "VBR Quality:"}};
  for (const auto& [label, text] : labels) EXPECT_EQ(label->text(), text);
}

TEST_F(OptionsDialog, NothingClippedOrOverlapping) {
  TfrmOptions dlg;
  dlg.show();
  // Every control inside its parent; labels and check boxes as wide as their caption needs;
  // no two controls of a parent on top of each other (the browse button may touch the edit box).
  for (QWidget* parent : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(dlg.GroupBox1),
                          static_cast<QWidget*>(dlg.GroupBox2), static_cast<QWidget*>(dlg.GroupBoxDrive),
                          static_cast<QWidget*>(dlg.GroupBoxFlac), static_cast<QWidget*>(dlg.GroupBoxFiles)}) {
    std::vector<QWidget*> kids;
    for (QObject* o : parent->children())
      if (auto* w = qobject_cast<QWidget*>(o); w && w->isVisible()) kids.push_back(w);
    for (QWidget* w : kids) {
      const std::string name = w->metaObject()->className() + (" at " + std::to_string(w->x())) + "," +
                               std::to_string(w->y());
      EXPECT_TRUE(parent->rect().contains(w->geometry())) << name;
      if (qobject_cast<QLabel*>(w) || qobject_cast<QCheckBox*>(w)) {
        EXPECT_GE(w->width(), w->sizeHint().width()) << name;
        EXPECT_GE(w->height(), w->fontMetrics().height()) << name;
      }
      for (QWidget* other : kids) {
        if (other == w || (w == dlg.EditOutputDir && other == dlg.SpeedButtonOutputDir) ||
            (other == dlg.EditOutputDir && w == dlg.SpeedButtonOutputDir))
          continue;
        EXPECT_FALSE(w->geometry().intersects(other->geometry()))
            << name << " overlaps " << other->metaObject()->className() << " at " << other->x() << "," << other->y();
      }
    }
  }
}

TEST_F(OptionsDialog, StartupSettingsShown) {
  TfrmOptions dlg;
  EXPECT_EQ(dlg.EditOutputDir->text(), musicDir());
  EXPECT_TRUE(dlg.CheckBoxOpen->isChecked());
  EXPECT_EQ(dlg.ComboBox1->currentText(), "44100");
  EXPECT_EQ(dlg.ComboBox2->currentText(), "128");
  EXPECT_EQ(dlg.ComboBox3->currentText(), "320");
  EXPECT_EQ(dlg.ComboBox4->currentText(), "Stereo");
  EXPECT_EQ(dlg.ComboBox5->currentText(), "Normal");
  EXPECT_EQ(dlg.ComboBox8->currentText(), "5");
  EXPECT_TRUE(dlg.CheckBox6->isChecked());
  EXPECT_TRUE(dlg.CheckBox7->isChecked());
  EXPECT_TRUE(dlg.CheckBox5->isChecked());
  EXPECT_FALSE(dlg.CheckBox3->isChecked());
  EXPECT_FALSE(dlg.CheckBox4->isChecked());
  EXPECT_FALSE(dlg.CheckBox8->isChecked());
  for (QWidget* w : {static_cast<QWidget*>(dlg.CheckBox7), static_cast<QWidget*>(dlg.ComboBox8),
                     static_cast<QWidget*>(dlg.ComboBox3), static_cast<QWidget*>(dlg.ComboBox5)})
    EXPECT_TRUE(w->isEnabled());

  // Another record is shown as it is.
  Settings = unusualSettings();
  TfrmOptions other;
  EXPECT_EQ(other.EditOutputDir->text(), "/srv/elsewhere");
  EXPECT_FALSE(other.CheckBoxOpen->isChecked());
  EXPECT_EQ(other.ComboBox1->currentText(), "22050");
  EXPECT_EQ(other.ComboBox2->currentText(), "192");
  EXPECT_EQ(other.ComboBox3->currentText(), "256");
  EXPECT_EQ(other.ComboBox4->currentText(), "Joint stereo");
  EXPECT_EQ(other.ComboBox5->currentText(), "High");
  EXPECT_EQ(other.ComboBox8->currentText(), "8");
  EXPECT_FALSE(other.CheckBox6->isChecked());
  EXPECT_FALSE(other.CheckBox7->isChecked());
  EXPECT_TRUE(other.CheckBox3->isChecked());
  EXPECT_TRUE(other.CheckBox4->isChecked());
  EXPECT_FALSE(other.CheckBox5->isChecked());
  EXPECT_TRUE(other.CheckBox8->isChecked());
}

TEST_F(OptionsDialog, CentredOverTheMainWindowAndKeptOnScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  QWidget mainWindow;
  mainWindow.setGeometry(screen.left() + 40, screen.top() + 30, 638, 480);  // the main window's size
  TfrmOptions dlg(&mainWindow);
  EXPECT_EQ(dlg.parent(), nullptr);  // centred over, not owned by
  EXPECT_LE((dlg.geometry().center() - mainWindow.geometry().center()).manhattanLength(), 2);

  // A main window pushed to the corner of the screen: the whole dialog stays reachable.
  mainWindow.setGeometry(screen.right() - 100, screen.bottom() - 60, 420, 380);
  TfrmOptions corner(&mainWindow);
  EXPECT_TRUE(screen.contains(corner.geometry())) << corner.x() << "," << corner.y();
}

TEST_F(OptionsDialog, VbrBoxSwitchesFourControls) {
  Settings.EnableVBR = 0;
  Settings.MaxBitRates = 192;
  Settings.Quality = 2;
  TfrmOptions dlg;
  const QWidget* dependent[] = {dlg.CheckBox7, dlg.ComboBox8, dlg.ComboBox3, dlg.ComboBox5};
  const QWidget* independent[] = {dlg.CheckBox3, dlg.CheckBox4, dlg.CheckBox5, dlg.CheckBox8, dlg.ComboBox1,
                                  dlg.ComboBox2, dlg.ComboBox4, dlg.EditOutputDir, dlg.CheckBoxOpen};
  for (const QWidget* w : dependent) EXPECT_FALSE(w->isEnabled());
  for (const QWidget* w : independent) EXPECT_TRUE(w->isEnabled());

  dlg.CheckBox6->click();  // as the user does
  for (const QWidget* w : dependent) EXPECT_TRUE(w->isEnabled());
  choose(dlg.ComboBox3, "160");
  dlg.CheckBox7->setChecked(false);
  dlg.CheckBox6->click();
  for (const QWidget* w : dependent) EXPECT_FALSE(w->isEnabled());
  for (const QWidget* w : independent) EXPECT_TRUE(w->isEnabled());

  // Disabled controls keep their values and are stored all the same.
  EXPECT_EQ(dlg.ComboBox3->currentText(), "160");
  EXPECT_EQ(dlg.ComboBox5->currentText(), "High");
  dlg.OKClick();
  EXPECT_EQ(Settings.EnableVBR, 0);
  EXPECT_EQ(Settings.WriteVBRHeader, 0);
  EXPECT_EQ(Settings.MaxBitRates, 160);
  EXPECT_EQ(Settings.Quality, 2);
  EXPECT_EQ(Settings.VBRQuality, 5);
}

TEST_F(OptionsDialog, UnlistedBitRateStopsOkUntilAnItemIsChosen) {
  Settings.BitRates = 112;
  TfrmOptions dlg;
  EXPECT_EQ(dlg.ComboBox2->currentIndex(), -1);
  EXPECT_EQ(dlg.ComboBox2->currentText(), "");
  EXPECT_EQ(dlg.ComboBox1->currentText(), "44100");  // the others are shown

  dlg.EditOutputDir->setText(QStringLiteral(" \t/srv/new rips \r\n"));
  dlg.CheckBoxOpen->setChecked(false);
  choose(dlg.ComboBox1, "22050");
  choose(dlg.ComboBox3, "160");
  choose(dlg.ComboBox4, "Mono");
  try {
    dlg.OKClick();
    ADD_FAILURE() << "OK stored a bit rate the list does not show";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid integer value");
  }
  // The steps before the failing one are stored; the rest are not.
  EXPECT_EQ(Settings.OutDir, "/srv/new rips");
  EXPECT_FALSE(Settings.OpenWhenDone);
  EXPECT_EQ(Settings.SampleRates, 22050);
  EXPECT_EQ(Settings.BitRates, 112);
  EXPECT_EQ(Settings.MaxBitRates, 320);
  EXPECT_EQ(Settings.Mode, 0);
  EXPECT_NE(dlg.result(), 1);
  EXPECT_THROW(dlg.OKClick(), EConvertError);  // again and again until an item is chosen

  choose(dlg.ComboBox2, "96");
  dlg.OKClick();
  EXPECT_EQ(dlg.result(), 1);
  EXPECT_EQ(Settings.BitRates, 96);
  EXPECT_EQ(Settings.MaxBitRates, 160);
  EXPECT_EQ(Settings.Mode, 3);
}

TEST_F(OptionsDialog, EachListByValueWithoutASelectionStopsOkAtItsStep) {
  // The sample rate first: nothing after it is stored, the stored value is kept.
  struct Case {
    int32_t TMP3Settings::*field;
    int32_t unlisted;
    QComboBox* TfrmOptions::*list;
  };
  for (const Case c : {Case{&TMP3Settings::SampleRates, 48000, &TfrmOptions::ComboBox1},
                       Case{&TMP3Settings::BitRates, 112, &TfrmOptions::ComboBox2},
                       Case{&TMP3Settings::MaxBitRates, 224, &TfrmOptions::ComboBox3}}) {
    Settings = StartupSettings();
    Settings.*c.field = c.unlisted;
    TfrmOptions dlg;
    ASSERT_EQ((dlg.*c.list)->currentIndex(), -1) << c.unlisted;
    choose(dlg.ComboBox4, "Mono");  // a later step
    dlg.CheckBoxOpen->setChecked(false);  // an earlier one
    EXPECT_THROW(
        try { dlg.OKClick(); } catch (const EConvertError& e) {
          EXPECT_STREQ(e.what(), "'' is not a valid integer value");
          throw;
        },
        EConvertError);
    EXPECT_EQ(Settings.*c.field, c.unlisted);
    EXPECT_FALSE(Settings.OpenWhenDone);
    EXPECT_EQ(Settings.Mode, 0);
    EXPECT_NE(dlg.result(), 1);
  }
}

TEST_F(OptionsDialog, TheFurtherSettingsAreShownStoredCheckedAndReset) {
  MoreSettings = TMoreSettings{};
  MoreSettings.LookupServer = "http://mirror.example";
  {
    TfrmOptions dlg;
    EXPECT_EQ(dlg.EditReadOffset->text(), "0");
    EXPECT_EQ(dlg.ComboBoxFlacLevel->currentText(), "5");
    EXPECT_TRUE(dlg.CheckBoxTags->isChecked());
    EXPECT_TRUE(dlg.CheckBoxLookup->isChecked());
    EXPECT_TRUE(dlg.CheckBoxRipLog->isChecked());
    EXPECT_EQ(dlg.ComboBoxNamePattern->currentText(), "%title%");
    EXPECT_TRUE(dlg.ComboBoxNamePattern->isEditable());
    EXPECT_EQ(itemsOf(dlg.ComboBoxNamePattern), QStringList({"%title%", "%albumartist%/%album%/%nn% %title%"}));
    EXPECT_EQ(itemsOf(dlg.ComboBoxFlacLevel), QStringList({"0", "1", "2", "3", "4", "5", "6", "7", "8"}));
    EXPECT_EQ(dlg.SpinJobs->value(), 0);
    EXPECT_EQ(dlg.CheckBoxTags->text(), "Write artist, album and track number tags");
    EXPECT_EQ(dlg.CheckBoxLookup->text(), "Look up names online when a disc has none");
    EXPECT_EQ(dlg.LabelReadOffset->buddy(), dlg.EditReadOffset);
    EXPECT_EQ(dlg.Label1->buddy(), dlg.ComboBox1);

    dlg.EditReadOffset->setText(QStringLiteral(" -667 "));
    choose(dlg.ComboBoxFlacLevel, "8");
    dlg.CheckBoxTags->setChecked(false);
    dlg.CheckBoxLookup->setChecked(false);
    dlg.CheckBoxRipLog->setChecked(false);
    dlg.ComboBoxNamePattern->setEditText(QStringLiteral("  %nn% - %title% "));
    dlg.SpinJobs->setValue(3);
    dlg.OKClick();
    EXPECT_EQ(dlg.result(), 1);
  }
  const TMoreSettings stored = MoreSettings;
  EXPECT_EQ(stored.ReadOffset, -667);
  EXPECT_EQ(stored.FlacLevel, 8);
  EXPECT_FALSE(stored.FullTags);
  EXPECT_FALSE(stored.LookupAutomatic);
  EXPECT_FALSE(stored.RipLog);
  EXPECT_EQ(stored.NamePattern, "%nn% - %title%");
  EXPECT_EQ(stored.Jobs, 3);

  // Refused values: the dialog stays open, the described fields are stored, the value is kept.
  struct Refusal {
    std::function<void(TfrmOptions&)> set;
    const char* message;
  };
  for (const Refusal& r : {Refusal{[](TfrmOptions& d) { d.EditReadOffset->setText("12a"); },
                                   "'12a' is not a valid integer value"},
                           Refusal{[](TfrmOptions& d) { d.EditReadOffset->setText(""); }, "'' is not a valid integer value"},
                           Refusal{[](TfrmOptions& d) { d.EditReadOffset->setText("100001"); },
                                   "The read offset must lie between -100000 and 100000 samples"},
                           Refusal{[](TfrmOptions& d) { d.ComboBoxNamePattern->setEditText(" \t"); },
                                   "The file name pattern is empty: choose %title% or type a pattern"}}) {
    MoreSettings = stored;
    TfrmOptions dlg;
    r.set(dlg);
    choose(dlg.ComboBox4, "Mono");
    try {
      dlg.OKClick();
      ADD_FAILURE() << r.message;
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), r.message);
    }
    EXPECT_EQ(Settings.Mode, 3);  // described fields first
    EXPECT_EQ(MoreSettings.ReadOffset, -667);
    EXPECT_NE(dlg.result(), 1);
  }
  EXPECT_EQ(MoreSettings.NamePattern, "%nn% - %title%");
  {
    MoreSettings = stored;
    TfrmOptions dlg;
    dlg.EditReadOffset->setText("-100000");
    dlg.OKClick();
    EXPECT_EQ(MoreSettings.ReadOffset, -100000);
  }

  // Default puts back what the dialog shows, and leaves the servers it does not show.
  MoreSettings = stored;
  TfrmOptions dlg;
  dlg.btnDefaultClick();
  EXPECT_EQ(dlg.EditReadOffset->text(), "0");
  EXPECT_EQ(dlg.ComboBoxFlacLevel->currentText(), "5");
  EXPECT_TRUE(dlg.CheckBoxTags->isChecked());
  EXPECT_EQ(dlg.ComboBoxNamePattern->currentText(), "%title%");
  EXPECT_EQ(dlg.SpinJobs->value(), 0);
  EXPECT_EQ(MoreSettings.NamePattern, "%title%");
  EXPECT_EQ(MoreSettings.Jobs, 0);
  EXPECT_TRUE(MoreSettings.RipLog);
  EXPECT_EQ(MoreSettings.LookupServer, "http://mirror.example");
  MoreSettings = TMoreSettings{};
}

TEST_F(OptionsDialog, ListsWithoutAMatchingItem) {
  // A list mapped by value keeps what it shows when filled with a value it lacks.
  TfrmOptions dlg;
  choose(dlg.ComboBox3, "192");
  Settings.MaxBitRates = 111;
  Settings.SampleRates = 48000;
  dlg.FormCreate();
  EXPECT_EQ(dlg.ComboBox3->currentText(), "192");
  EXPECT_EQ(dlg.ComboBox1->currentText(), "44100");

  // Lists mapped by index show nothing for a value outside them, and OK stores -1.
  Settings = StartupSettings();
  Settings.Mode = 7;
  Settings.Quality = -3;
  Settings.VBRQuality = 10;
  TfrmOptions outside;
  EXPECT_EQ(outside.ComboBox4->currentIndex(), -1);
  EXPECT_EQ(outside.ComboBox5->currentIndex(), -1);
  EXPECT_EQ(outside.ComboBox8->currentIndex(), -1);
  outside.OKClick();
  EXPECT_EQ(Settings.Mode, -1);
  EXPECT_EQ(Settings.Quality, -1);
  EXPECT_EQ(Settings.VBRQuality, -1);
}

TEST_F(OptionsDialog, OkErrorReachesTheApplicationAndTheDialogStaysOpen) {
  Settings.BitRates = 112;
  TfrmOptions dlg;
  bool openAfterError = false;
  const int result = execWith(dlg, [&] {
    mouseClick(dlg.OK);
    QCoreApplication::processEvents();  // the report comes from an event of its own
    openAfterError = dlg.isVisible();
    EXPECT_EQ(app()->reported, std::vector<std::string>{"'' is not a valid integer value"});
    choose(dlg.ComboBox2, "256");
    press(&dlg, Qt::Key_Return);  // OK is the default button
  });
  EXPECT_TRUE(openAfterError);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Settings.BitRates, 256);
  EXPECT_EQ(app()->reported.size(), 1u);
  EXPECT_TRUE(dlg.OK->isEnabled());
  EXPECT_FALSE(dlg.OK->isDown());  // the button came out of the failed click whole
}

TEST_F(OptionsDialog, DefaultThenCancelLeavesTheStartupValues) {
  Settings = unusualSettings();
  Settings.BitRates = 112;  // a list without a selection is filled again too
  TfrmOptions dlg;
  QString shownFolder, shownBitRate, shownQuality;
  bool vbrControlsEnabled = false;
  const int result = execWith(dlg, [&] {
    mouseClick(dlg.btnDefault);
    shownFolder = dlg.EditOutputDir->text();
    shownBitRate = dlg.ComboBox2->currentText();
    shownQuality = dlg.ComboBox8->currentText();
    vbrControlsEnabled = dlg.ComboBox3->isEnabled() && dlg.CheckBox7->isEnabled();
    mouseClick(dlg.BitBtn1);
  });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(shownFolder, musicDir());
  EXPECT_EQ(shownBitRate, "128");
  EXPECT_EQ(shownQuality, "5");
  EXPECT_TRUE(vbrControlsEnabled);
  expectSameStoredFields(Settings, StartupSettings());
  EXPECT_FALSE(Settings.AskOverwrite);  // the run's flag is not the dialog's
  EXPECT_FALSE(std::filesystem::exists(SettingsFileName()));
}

TEST_F(OptionsDialog, FolderBrowserResultGoesIntoTheEditBox) {
  std::vector<QString> starts;
  std::optional<QString> answer = QStringLiteral("/srv/rips");
  TfrmOptions::FolderBrowser = [&](QWidget* owner, const QString& start) {
    EXPECT_NE(owner, nullptr);
    starts.push_back(start);
    return answer;
  };
  TfrmOptions dlg;
  dlg.EditOutputDir->setText(QStringLiteral(" /home/me/Music "));
  mouseClick(dlg.SpeedButtonOutputDir);
  EXPECT_EQ(dlg.EditOutputDir->text(), "/srv/rips/");
  EXPECT_EQ(Settings.OutDir, StartupSettings().OutDir);  // the record follows at OK

  answer = QStringLiteral("/srv/other/");  // a trailing "/" is not doubled
  dlg.SpeedButtonOutputDirClick();
  EXPECT_EQ(dlg.EditOutputDir->text(), "/srv/other/");
  answer = QStringLiteral("/");
  dlg.SpeedButtonOutputDirClick();
  EXPECT_EQ(dlg.EditOutputDir->text(), "/");

  answer = std::nullopt;  // cancelled
  dlg.EditOutputDir->setText(QStringLiteral("/kept"));
  dlg.SpeedButtonOutputDirClick();
  EXPECT_EQ(dlg.EditOutputDir->text(), "/kept");

  answer = QStringLiteral("/from/blank");
  dlg.EditOutputDir->setText(QStringLiteral(" \t "));
  dlg.SpeedButtonOutputDirClick();
  EXPECT_EQ(dlg.EditOutputDir->text(), "/from/blank/");

  // The browser starts at the edit box's text as it stands, and nowhere for a blank one.
  ASSERT_EQ(starts.size(), 5u);
  EXPECT_EQ(starts[0], " /home/me/Music ");
  EXPECT_EQ(starts[1], "/srv/rips/");
  EXPECT_EQ(starts[3], "/kept");
  EXPECT_EQ(starts[4], "");

  dlg.OKClick();
  EXPECT_EQ(Settings.OutDir, "/from/blank/");
}

TEST_F(OptionsDialog, RealFolderBrowser) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString first = tmp.filePath("first"), second = tmp.filePath("second");
  ASSERT_TRUE(QDir().mkpath(first) && QDir().mkpath(second));
  TfrmOptions dlg;
  dlg.EditOutputDir->setText(first);

  QString caption, prompt, startedAt;
  bool promptShown = false, directoriesOnly = false, centred = false;
  auto inspect = [&](QFileDialog* fd) {
    caption = fd->windowTitle();
    if (auto* label = fd->findChild<QLabel*>("prompt")) {
      prompt = label->text();
      promptShown = label->isVisible() && label->width() >= label->sizeHint().width();
    }
    startedAt = fd->directory().absolutePath();
    directoriesOnly = fd->fileMode() == QFileDialog::Directory;
    const QPoint screenCentre = fd->screen()->availableGeometry().center();
    centred = (fd->frameGeometry().center() - screenCentre).manhattanLength() <= 8;  // give or take the frame
    fd->grab().save(QStringLiteral(SCREENSHOT_DIR "/browse_for_folder.png"));
  };
  QTimer::singleShot(0, [&] {
    auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(fd, nullptr);
    inspect(fd);
    fd->setDirectory(second);
    static_cast<QDialog*>(fd)->accept();  // the button, through the dialog's own check
  });
  dlg.SpeedButtonOutputDirClick();
  EXPECT_EQ(caption, "Browse for folder");
  EXPECT_EQ(prompt, "Choose folder where ripped files should be saved:");
  EXPECT_TRUE(promptShown);
  EXPECT_EQ(startedAt, first);
  EXPECT_TRUE(directoriesOnly);
  EXPECT_TRUE(centred);
  EXPECT_EQ(dlg.EditOutputDir->text(), second + "/");

  QTimer::singleShot(0, [&] {
    auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(fd, nullptr);
    startedAt = fd->directory().absolutePath();
    fd->setDirectory(first);
    fd->reject();
  });
  dlg.SpeedButtonOutputDirClick();
  EXPECT_EQ(startedAt, second);
  EXPECT_EQ(dlg.EditOutputDir->text(), second + "/");
}

TEST_F(OptionsDialog, OkStoresEveryFieldAndWritesNoFile) {
  Settings.AskOverwrite = false;
  TfrmOptions dlg;
  dlg.EditOutputDir->setText(QStringLiteral("\t /music/rips \r\n"));
  dlg.CheckBoxOpen->setChecked(false);
  choose(dlg.ComboBox1, "32000");
  choose(dlg.ComboBox2, "96");
  choose(dlg.ComboBox3, "160");
  choose(dlg.ComboBox4, "Dual channel");
  choose(dlg.ComboBox5, "Low");
  choose(dlg.ComboBox8, "9");
  const int result = execWith(dlg, [&] { press(&dlg, Qt::Key_Return); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Settings.OutDir, "/music/rips");
  EXPECT_FALSE(Settings.OpenWhenDone);
  EXPECT_EQ(Settings.SampleRates, 32000);
  EXPECT_EQ(Settings.BitRates, 96);
  EXPECT_EQ(Settings.MaxBitRates, 160);
  EXPECT_EQ(Settings.Mode, 2);
  EXPECT_EQ(Settings.Quality, 1);
  EXPECT_EQ(Settings.VBRQuality, 9);
  EXPECT_FALSE(Settings.AskOverwrite);

  // Each check box to its own field: three rounds in which every two boxes differ at least once.
  const auto boxesOf = [](TfrmOptions& d) {
    return std::array{d.CheckBox6, d.CheckBox7, d.CheckBox3, d.CheckBox4, d.CheckBox5, d.CheckBox8};
  };
  const std::array fields{&TMP3Settings::EnableVBR, &TMP3Settings::WriteVBRHeader, &TMP3Settings::CopyRight,
                          &TMP3Settings::Original,  &TMP3Settings::CRC,            &TMP3Settings::bPrivate};
  for (int round = 0; round < 3; ++round) {
    const auto ticked = [round](int i) { return (((i + 1) >> round) & 1) != 0; };
    TfrmOptions again;
    const auto boxes = boxesOf(again);
    for (int i = 0; i < 6; ++i) boxes[i]->setChecked(ticked(i));
    again.OKClick();
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(Settings.*fields[i], ticked(i) ? -1 : 0) << "round " << round << ", box " << i;
  }
  EXPECT_FALSE(std::filesystem::exists(SettingsFileName()));
}

TEST_F(OptionsDialog, EscCloseBoxAndCancelGiveTwoAndStoreNothing) {
  Settings = unusualSettings();
  auto leave = [](const std::function<void(TfrmOptions&)>& how) {
    TfrmOptions dlg;
    dlg.EditOutputDir->setText(QStringLiteral("/changed"));
    choose(dlg.ComboBox1, "44100");
    dlg.CheckBox3->setChecked(false);
    return execWith(dlg, [&] { how(dlg); });
  };
  EXPECT_EQ(leave([](TfrmOptions& d) { press(&d, Qt::Key_Escape); }), 2);
  EXPECT_EQ(leave([](TfrmOptions& d) { d.close(); }), 2);
  EXPECT_EQ(leave([](TfrmOptions& d) { mouseClick(d.BitBtn1); }), 2);
  expectSameStoredFields(Settings, unusualSettings());
}

TEST_F(OptionsDialog, Screenshot) {
  TfrmOptions dlg;
  dlg.show();
  QCoreApplication::processEvents();
  const QString path = QStringLiteral(SCREENSHOT_DIR "/options.png");
  ASSERT_TRUE(dlg.grab().save(path)) << path.toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TestApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
