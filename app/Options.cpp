// SPDX-License-Identifier: GPL-3.0-or-later
#include "Options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>
#include <algorithm>
#include <string>
#include <utility>
#include <exception>
#include <vector>

#include "globals.h"

TfrmOptions::TFolderBrowser TfrmOptions::FolderBrowser;

namespace {

constexpr int kModalOk = 1;
constexpr int kModalCancel = 2;

// Blanks and control characters, the characters a stored folder is trimmed of.
QString trimControls(const QString& s) {
  qsizetype b = 0, e = s.size();
  while (b < e && s[b].unicode() <= ' ') ++b;
  while (e > b && s[e - 1].unicode() <= ' ') --e;
  return s.mid(b, e - b);
}

int32_t StrToInt(const QString& text) {
  bool ok = false;
  const int v = text.toInt(&ok, 10);
  if (!ok) throw EConvertError("'" + text.toStdString() + "' is not a valid integer value");
  return v;
}

int32_t boolToSetting(const QCheckBox* box) { return box->isChecked() ? -1 : 0; }

// Lists mapped by value: every item whose number equals the value is selected in turn; with no
// match the list keeps what it shows.
void selectByValue(QComboBox* box, int32_t value) {
  for (int i = 0; i < box->count(); ++i)
    if (StrToInt(box->itemText(i)) == value) box->setCurrentIndex(i);
}

// Lists mapped by index: a value outside the list leaves it without a selection.
void selectByIndex(QComboBox* box, int32_t index) {
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

// The folder picture of the browse button, 16 x 16: a yellow folder with its front flap open.
QPixmap folderPicture() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setPen(QColor(128, 96, 0));
  p.setBrush(QColor(224, 176, 48));
  p.drawPolygon(QPolygon({{1, 2}, {6, 2}, {7, 4}, {13, 4}, {13, 13}, {1, 13}}));
  p.setBrush(QColor(255, 222, 112));
  p.drawPolygon(QPolygon({{1, 13}, {3, 7}, {15, 7}, {13, 13}}));
  return pm;
}

}  // namespace

TfrmOptions::TfrmOptions(QWidget* centreOver)
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Options"));
  QFont arial(QStringLiteral("Arial"));
  arial.setPixelSize(12);
  setFont(arial);
  // A dialog frame: no resizing. The described 348 x 325 with a column beside it for the
  // settings beyond the MP3 record; every described control keeps its place.
  setFixedSize(656, 325);

  // Check boxes and labels take the width their caption needs, so no caption is cut.
  auto checkBox = [](QWidget* parent, const char* caption, int x, int y) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setGeometry(x, y, box->sizeHint().width(), 17);
    return box;
  };
  auto label = [](QWidget* parent, const char* caption, int x, int y) {
    auto* l = new QLabel(QString::fromUtf8(caption), parent);
    l->move(x, y);
    l->adjustSize();
    return l;
  };
  auto list = [](QWidget* parent, std::initializer_list<const char*> items, int x, int y, int width) {
    auto* box = new QComboBox(parent);  // not editable: a drop-down list without typing
    for (const char* item : items) box->addItem(QString::fromUtf8(item));
    box->setCurrentIndex(-1);  // a new list shows nothing until filled
    box->setGeometry(x, y, width, 22);
    return box;
  };

  GroupBox1 = new QGroupBox(QStringLiteral("Output Folder"), this);
  GroupBox1->setGeometry(9, 3, 329, 73);
  EditOutputDir = new QLineEdit(GroupBox1);
  EditOutputDir->setGeometry(8, 21, 289, 21);
  SpeedButtonOutputDir = new QToolButton(GroupBox1);
  SpeedButtonOutputDir->setAutoRaise(true);  // flat until the pointer is over it
  SpeedButtonOutputDir->setIcon(QIcon(folderPicture()));
  SpeedButtonOutputDir->setGeometry(296, 21, 25, 21);
  CheckBoxOpen = checkBox(GroupBox1, "&Open Out Folder When Done ripping", 8, 51);

  GroupBox2 = new QGroupBox(QStringLiteral("MP3 Settings"), this);
  GroupBox2->setGeometry(9, 83, 329, 209);
  CheckBox6 = checkBox(GroupBox2, "Enable VBR", 9, 27);
  CheckBox7 = checkBox(GroupBox2, "Write VBR header", 110, 27);
  Label1 = label(GroupBox2, "Sample Rate:", 8, 57);
  ComboBox1 = list(GroupBox2, {"44100", "32000", "22050"}, 96, 53, 97);
  Label2 = label(GroupBox2, "Min. BitRate:", 8, 86);
  ComboBox2 = list(GroupBox2, {"320", "256", "192", "160", "128", "96"}, 96, 82, 97);
  Label3 = label(GroupBox2, "Max. BitRate:", 8, 116);
  ComboBox3 = list(GroupBox2, {"320", "256", "192", "160"}, 96, 112, 97);
  Label4 = label(GroupBox2, "Stereo Mode:", 8, 145);
  ComboBox4 = list(GroupBox2, {"Stereo", "Joint stereo", "Dual channel", "Mono"}, 96, 141, 97);
  Label5 = label(GroupBox2, "MPEG Quality:", 8, 174);
  ComboBox5 = list(GroupBox2, {"Normal", "Low", "High", "Voice"}, 96, 170, 97);
  // The right column after the left one, in the order Tab walks them.
  Label6 = label(GroupBox2, "VBR Quality:", 218, 53);
  ComboBox8 = list(GroupBox2, {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}, 220, 81, 92);
  CheckBox3 = checkBox(GroupBox2, "Copyright", 222, 112);
  CheckBox4 = checkBox(GroupBox2, "Original", 222, 133);
  CheckBox5 = checkBox(GroupBox2, "CRC", 222, 155);
  CheckBox5->setChecked(true);
  CheckBox8 = checkBox(GroupBox2, "Private", 222, 176);

  // The column beside the described groups: the drive beside the output folder, then FLAC,
  // then the files' names, tags and encoders, down to the buttons' bottom.
  constexpr int kColumn = 347, kColumnWidth = 300;
  GroupBoxDrive = new QGroupBox(QStringLiteral("Drive"), this);
  GroupBoxDrive->setGeometry(kColumn, 3, kColumnWidth, 73);
  LabelReadOffset = label(GroupBoxDrive, "Read offset:", 8, 25);
  EditReadOffset = new QLineEdit(GroupBoxDrive);
  EditReadOffset->setGeometry(96, 21, 70, 21);
  LabelSamples = label(GroupBoxDrive, "samples", 172, 25);

  GroupBoxFlac = new QGroupBox(QStringLiteral("FLAC"), this);
  GroupBoxFlac->setGeometry(kColumn, 83, kColumnWidth, 50);
  LabelFlacLevel = label(GroupBoxFlac, "Level:", 8, 24);
  ComboBoxFlacLevel = list(GroupBoxFlac, {"0", "1", "2", "3", "4", "5", "6", "7", "8"}, 96, 20, 70);
  LabelFlacHint = label(GroupBoxFlac, "0 fastest, 8 smallest", 172, 24);

  GroupBoxFiles = new QGroupBox(QStringLiteral("Files"), this);
  GroupBoxFiles->setGeometry(kColumn, 140, kColumnWidth, 181);
  CheckBoxTags = checkBox(GroupBoxFiles, "Write artist, album and track number tags", 8, 22);
  CheckBoxLookup = checkBox(GroupBoxFiles, "Look up names online when a disc has none", 8, 45);
  CheckBoxRipLog = checkBox(GroupBoxFiles, "Write a rip log", 8, 68);
  LabelNamePattern = label(GroupBoxFiles, "File names:", 8, 101);
  ComboBoxNamePattern = list(GroupBoxFiles, {"%title%", "%albumartist%/%album%/%nn% %title%"}, 96, 97, 196);
  ComboBoxNamePattern->setEditable(true);  // any pattern may be typed
  ComboBoxNamePattern->setInsertPolicy(QComboBox::NoInsert);
  LabelJobs = label(GroupBoxFiles, "Encoders:", 8, 133);
  SpinJobs = new QSpinBox(GroupBoxFiles);
  SpinJobs->setRange(0, kMaxJobs);
  SpinJobs->setSpecialValueText(QStringLiteral("One per core"));
  SpinJobs->setGeometry(96, 129, 110, 22);

  // Each list's and field's label names it for the keyboard and for screen readers.
  const std::pair<QLabel*, QWidget*> buddies[] = {
      {Label1, ComboBox1},           {Label2, ComboBox2},          {Label3, ComboBox3},
      {Label4, ComboBox4},           {Label5, ComboBox5},          {Label6, ComboBox8},
      {LabelReadOffset, EditReadOffset}, {LabelFlacLevel, ComboBoxFlacLevel},
      {LabelNamePattern, ComboBoxNamePattern}, {LabelJobs, SpinJobs}};
  for (const auto& [l, w] : buddies) l->setBuddy(w);

  btnDefault = new QPushButton(QStringLiteral("Default"), this);
  btnDefault->setGeometry(9, 298, 75, 23);
  OK = new QPushButton(QStringLiteral("OK"), this);
  OK->setGeometry(176, 298, 75, 23);
  OK->setDefault(true);  // Enter
  BitBtn1 = new QPushButton(QStringLiteral("Cancel"), this);
  BitBtn1->setGeometry(264, 298, 75, 23);

  connect(SpeedButtonOutputDir, &QToolButton::clicked, this, &TfrmOptions::SpeedButtonOutputDirClick);
  connect(CheckBox6, &QCheckBox::toggled, this, &TfrmOptions::CheckBox6Click);
  connect(btnDefault, &QPushButton::clicked, this, &TfrmOptions::btnDefaultClick);
  connect(BitBtn1, &QPushButton::clicked, this, &TfrmOptions::reject);
  connect(OK, &QPushButton::clicked, this, [this] {
    try {
      OKClick();
    } catch (...) {
      // Qt's widgets are built without exception support, so an exception thrown through the
      // button's click would skip the button's own cleanup. The error is thrown again from an
      // event of its own, where the application's error report receives it.
      QMetaObject::invokeMethod(
          this, [e = std::current_exception()] { std::rethrow_exception(e); }, Qt::QueuedConnection);
    }
  });

  if (centreOver) {
    QRect r(QPoint(), size());
    r.moveCenter(centreOver->geometry().center());
    // Kept on the screen, where its buttons can be reached.
    QScreen* screen = QGuiApplication::screenAt(r.center());
    if (!screen) screen = centreOver->screen();
    if (screen) {
      const QRect avail = screen->availableGeometry();
      r.moveLeft(std::max(avail.left(), std::min(r.left(), avail.right() + 1 - r.width())));
      r.moveTop(std::max(avail.top(), std::min(r.top(), avail.bottom() + 1 - r.height())));
    }
    move(r.topLeft());
  }

  FormCreate();
}

void TfrmOptions::FormCreate() {
  EditOutputDir->setText(QString::fromStdString(Settings.OutDir));
  CheckBoxOpen->setChecked(Settings.OpenWhenDone);
  selectByValue(ComboBox1, Settings.SampleRates);
  selectByValue(ComboBox2, Settings.BitRates);
  selectByValue(ComboBox3, Settings.MaxBitRates);
  selectByIndex(ComboBox4, Settings.Mode);
  selectByIndex(ComboBox5, Settings.Quality);
  selectByIndex(ComboBox8, Settings.VBRQuality);
  CheckBox6->setChecked(Settings.EnableVBR != 0);
  CheckBox7->setChecked(Settings.WriteVBRHeader != 0);
  CheckBox3->setChecked(Settings.CopyRight != 0);
  CheckBox4->setChecked(Settings.Original != 0);
  CheckBox5->setChecked(Settings.CRC != 0);
  CheckBox8->setChecked(Settings.bPrivate != 0);
  CheckBox6Click();
  const TMoreSettings& m = MoreSettings;
  EditReadOffset->setText(QString::number(m.ReadOffset));
  selectByIndex(ComboBoxFlacLevel, m.FlacLevel);
  CheckBoxTags->setChecked(m.FullTags);
  CheckBoxLookup->setChecked(m.LookupAutomatic);
  CheckBoxRipLog->setChecked(m.RipLog);
  ComboBoxNamePattern->setEditText(QString::fromStdString(m.NamePattern));
  SpinJobs->setValue(m.Jobs);
}

void TfrmOptions::CheckBox6Click() {
  // Disabled controls keep their values; OK stores them all the same.
  const bool vbr = CheckBox6->isChecked();
  CheckBox7->setEnabled(vbr);
  ComboBox8->setEnabled(vbr);
  ComboBox3->setEnabled(vbr);
  ComboBox5->setEnabled(vbr);
}

void TfrmOptions::OKClick() {
  // Field by field: a list without a selection stops the store at its step.
  Settings.OutDir = trimControls(EditOutputDir->text()).toStdString();
  Settings.OpenWhenDone = CheckBoxOpen->isChecked();
  Settings.SampleRates = StrToInt(ComboBox1->currentText());
  Settings.BitRates = StrToInt(ComboBox2->currentText());
  Settings.MaxBitRates = StrToInt(ComboBox3->currentText());
  Settings.Mode = ComboBox4->currentIndex();
  Settings.Quality = ComboBox5->currentIndex();
  Settings.VBRQuality = ComboBox8->currentIndex();
  Settings.EnableVBR = boolToSetting(CheckBox6);
  Settings.WriteVBRHeader = boolToSetting(CheckBox7);
  Settings.CopyRight = boolToSetting(CheckBox3);
  Settings.Original = boolToSetting(CheckBox4);
  Settings.CRC = boolToSetting(CheckBox5);
  Settings.bPrivate = boolToSetting(CheckBox8);
  // The settings beyond the MP3 record, each checked before it is stored.
  TMoreSettings& m = MoreSettings;
  if (ComboBoxFlacLevel->currentIndex() >= 0) m.FlacLevel = ComboBoxFlacLevel->currentIndex();
  m.FullTags = CheckBoxTags->isChecked();
  m.LookupAutomatic = CheckBoxLookup->isChecked();
  m.RipLog = CheckBoxRipLog->isChecked();
  const QString pattern = trimControls(ComboBoxNamePattern->currentText());
  if (pattern.isEmpty()) throw EOptionError("The file name pattern is empty: choose %title% or type a pattern");
  m.NamePattern = pattern.toStdString();
  m.Jobs = SpinJobs->value();
  const int32_t offset = StrToInt(trimControls(EditReadOffset->text()));
  if (offset < -kMaxReadOffset || offset > kMaxReadOffset)
    throw EOptionError("The read offset must lie between -" + std::to_string(kMaxReadOffset) + " and " +
                       std::to_string(kMaxReadOffset) + " samples");
  m.ReadOffset = offset;
  done(kModalOk);
}

void TfrmOptions::btnDefaultClick() {
  const bool askOverwrite = Settings.AskOverwrite;  // belongs to the extraction run
  Settings = StartupSettings();
  Settings.AskOverwrite = askOverwrite;
  // The settings this dialog shows go back too; the servers and retries it does not show stay.
  const TMoreSettings start;
  TMoreSettings& m = MoreSettings;
  m.ReadOffset = start.ReadOffset;
  m.FlacLevel = start.FlacLevel;
  m.FullTags = start.FullTags;
  m.LookupAutomatic = start.LookupAutomatic;
  m.RipLog = start.RipLog;
  m.NamePattern = start.NamePattern;
  m.Jobs = start.Jobs;
  FormCreate();
}

void TfrmOptions::SpeedButtonOutputDirClick() {
  const QString text = EditOutputDir->text();
  const QString start = trimControls(text).isEmpty() ? QString() : text;
  const std::optional<QString> folder = FolderBrowser ? FolderBrowser(this, start) : BrowseForFolder(this, start);
  if (!folder || folder->isEmpty()) return;  // cancelled: nothing changes
  EditOutputDir->setText(folder->endsWith(u'/') ? *folder : *folder + u'/');
}

void TfrmOptions::reject() { done(kModalCancel); }

std::optional<QString> TfrmOptions::BrowseForFolder(QWidget* owner, const QString& startFolder) {
  QFileDialog dlg(owner, QStringLiteral("Browse for folder"));
  dlg.setOption(QFileDialog::DontUseNativeDialog);  // a native chooser has no room for the prompt
  dlg.setOption(QFileDialog::ShowDirsOnly);
  dlg.setFileMode(QFileDialog::Directory);
  dlg.setDirectory(startFolder.isEmpty() ? QDir::homePath() : startFolder);

  // The prompt above the chooser's own rows: every row moves one down.
  if (auto* grid = qobject_cast<QGridLayout*>(dlg.layout())) {
    struct Placed {
      QLayoutItem* item;
      int row, column, rowSpan, columnSpan;
    };
    std::vector<Placed> placed;
    const int columns = grid->columnCount();
    while (grid->count() > 0) {
      Placed p{};
      grid->getItemPosition(0, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
      p.item = grid->takeAt(0);
      placed.push_back(p);
    }
    auto* prompt = new QLabel(QStringLiteral("Choose folder where ripped files should be saved:"), &dlg);
    prompt->setObjectName(QStringLiteral("prompt"));
    grid->addWidget(prompt, 0, 0, 1, columns);
    for (const Placed& p : placed) {
      if (QLayout* inner = p.item->layout())  // a row of tool buttons: owned by the grid again
        grid->addLayout(inner, p.row + 1, p.column, p.rowSpan, p.columnSpan);
      else
        grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan);
    }
  }

  // Centred on the screen.
  dlg.ensurePolished();  // the size it will show with
  dlg.adjustSize();
  QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    QRect r(QPoint(), dlg.size());
    r.moveCenter(screen->availableGeometry().center());
    dlg.move(r.topLeft());
  }

  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dlg.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.first();
}
