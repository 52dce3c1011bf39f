// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: creation, drive choice, the rows, the selection commands, extraction,
// options and closing.
#include "app/uMain.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>

#include "app/AccessibleList.h"
#include "app/Application.h"
#include "app/Options.h"
#include "app/globals.h"
#include "run/CoderSettings.h"
#include "app/uprg.h"
#include "platform/paths.h"
#include "art/art.h"

namespace {

constexpr int kIconRole = Qt::UserRole + 1;

QFont arial12() {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(12);
  return f;
}

}  // namespace

void TImage::mousePressEvent(QMouseEvent* e) {
  pressed_ = e->button() == Qt::LeftButton;
  if (OnMouseDown) OnMouseDown(e);
}

void TImage::mouseReleaseEvent(QMouseEvent* e) {
  // A click is a press and a release on the same picture.
  const bool click = pressed_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
  pressed_ = false;
  if (click && OnClick) OnClick();
}

void TImage::mouseMoveEvent(QMouseEvent* e) {
  if (OnMouseMove) OnMouseMove(e);
}

void TSelAllCheckBox::nextCheckState() {
  setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

TfrmMain::TfrmMain() : QWidget(nullptr, Qt::FramelessWindowHint) {
  InitTessalyArt();
  // Design-time values.
  setWindowTitle(QStringLiteral("Tessaly"));
  setFixedSize(face::kClient.width, face::kClient.height);
  setFont(arial12());
  setAutoFillBackground(true);
  setPalette(QPalette(palette().color(QPalette::Base)));
  setWindowIcon(QIcon(QStringLiteral(":/art/tessaly.png")));
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

  LameCoder1 = std::make_unique<TLameCoder>();
  LameCoder1->DefaultExt = ".mp3";
  RIPPER = std::make_unique<TCDRIP>();
  ApplyStoredRipperValues(*RIPPER, LameCoder1.get());
  RIPPER->OnProgress = [this](TCDRIP&, uint16_t percent) { RIPPERProgress(percent); };
  MP3Info1 = std::make_unique<TMP3Info>();
  MP3Info1->SetGenreID(12);
  ImageList1 = {QIcon(QStringLiteral(":/art/icon-audio.png")), QIcon(QStringLiteral(":/art/icon-data.png")),
                QIcon(QStringLiteral(":/art/icon-playing.png"))};

  createControls();
  createHotImages();
  createKeyboardAccess();
  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  QObject::connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

  FormCreate();
  Timer1->start();
}

TfrmMain::~TfrmMain() {
  stopLookup();
  if (auto* app = TApplication::Instance()) {
    app->OnException = nullptr;
    app->OnHint = nullptr;
  }
}

void TfrmMain::createControls() {
  Image1 = new TImage(this);
  Image1->setGeometry(0, 0, face::kFacePicture.width, face::kFacePicture.height);
  Image1->setPixmap(ArtPixmap(QStringLiteral("face.jpg"), devicePixelRatioF()));
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setMouseTracking(true);
  Image1->OnMouseMove = [this](QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    WMNCHitTest(p.x(), p.y());
    Image1MouseMove(p.x(), p.y());
  };
  Image1->OnMouseDown = [this](QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) faceMouseDown(e->position().toPoint().x(), e->position().toPoint().y());
  };

  lblStatus = new QLabel(QString(10, QChar(' ')), this);
  lblStatus->setGeometry(face::kStatusLeft, face::kStatusTop, 420, 16);
  lblStatus->setAttribute(Qt::WA_TranslucentBackground);
  lblStatus->setAttribute(Qt::WA_TransparentForMouseEvents);
  QPalette lp = lblStatus->palette();
  lp.setColor(QPalette::WindowText, QColor(0, 0, 128));  // navy
  lblStatus->setPalette(lp);
  lblStatus->setFont(arial12());

  cboDrive = new QComboBox(this);
  cboDrive->setGeometry(face::kDriveBox.left, face::kDriveBox.top, face::kDriveBox.width, face::kDriveBox.height);
  cboDrive->setEditable(false);
  setAcceptDrops(true);
  QObject::connect(cboDrive, &QComboBox::activated, this, [this](int) { DriveChosen(); });

  const QString selAllHint = QStringLiteral("Select or Unselect all tracks");
  chkSelAll = new TSelAllCheckBox(this);
  chkSelAll->setGeometry(face::kSelAllBox.left, face::kSelAllBox.top, face::kSelAllBox.width, face::kSelAllBox.height);
  chkSelAll->setStatusTip(selAllHint);
  // The style's own box is larger than the 12 x 13 place the face leaves for it.
  chkSelAll->setStyleSheet(QStringLiteral("QCheckBox { spacing: 0px; } QCheckBox::indicator { width: 11px; height: 11px; }"));
  QObject::connect(chkSelAll, &QCheckBox::stateChanged, this, [this](int) { chkSelAllClick(); });

  imgSelAll = new TImage(this);
  imgSelAll->setGeometry(face::kSelAllPicture.left, face::kSelAllPicture.top, face::kSelAllPicture.width,
                         face::kSelAllPicture.height);
  imgSelAll->setPixmap(ArtPixmap(QStringLiteral("imgSelAll.png"), devicePixelRatioF()));
  imgSelAll->setCursor(Qt::PointingHandCursor);
  imgSelAll->setStatusTip(selAllHint);
  imgSelAll->OnClick = [this] { imgSelAllClick(); };

  ListView1 = new QTreeWidget(this);
  // A screen reader reads the columns the user sees, not the hidden index.
  accessible_list::HideHiddenColumns(ListView1);
  ListView1->setGeometry(face::kTrackList.left, face::kTrackList.top, face::kTrackList.width, face::kTrackList.height);
  ListView1->setColumnCount(5);
  ListView1->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("No."), QStringLiteral("Duration"),
                              QStringLiteral("Status"), QString()});
  ListView1->setColumnWidth(colTitle, 200);
  ListView1->setColumnWidth(colNo, 50);
  ListView1->setColumnWidth(colDuration, 100);
  ListView1->setColumnWidth(colStatus, 100);
  // The track index is kept in a column that is never shown and takes no room.
  ListView1->header()->setStretchLastSection(false);
  ListView1->header()->resizeSection(colIndex, 0);
  ListView1->setColumnHidden(colIndex, true);
  ListView1->header()->setSectionsMovable(false);
  ListView1->setRootIsDecorated(false);
  ListView1->setItemsExpandable(false);
  ListView1->setUniformRowHeights(true);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setIconSize(QSize(16, 16));
  ListView1->setEditTriggers(QAbstractItemView::EditKeyPressed);
  ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
  ListView1->viewport()->setMouseTracking(true);
  ListView1->viewport()->installEventFilter(this);
  ListView1->installEventFilter(this);
  // The selection stays visible when the list loses the focus.
  QPalette pal = ListView1->palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
  ListView1->setPalette(pal);

  PopupMenu1 = new QMenu(this);
  auto item = [this](const char* caption, const char* hint, void (TfrmMain::*handler)()) {
    QAction* a = PopupMenu1->addAction(QString::fromUtf8(caption));
    a->setStatusTip(QString::fromUtf8(hint));
    QObject::connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return a;
  };
  SelectAll1 = item("Select &All", "Select all tracks", &TfrmMain::SelectAll1Click);
  InvertSelection1 = item("&Invert Selection", "Reverse the selection", &TfrmMain::InvertSelection1Click);
  PopupMenu1->addSeparator();
  RenameTrack1 = item("&Rename Track", "Rename selected track", &TfrmMain::RenameTrack1Click);
  CopyTrackInformationToClipboard1 = item("C&opy Track Information To Clipboard", "Copy track information to clipboard",
                                          &TfrmMain::CopyTrackInformationToClipboard1Click);
  ExtractTracksToFLACFiles1 = item("Extract Tracks To &FLAC Files", "Extract selected tracks to FLAC files",
                                   &TfrmMain::ExtractTracksToFLACFiles1Click);
  PopupMenu1->addSeparator();
  ReadCDInformation1 = item("&Read CD Information", "Get alubm information from CDPlayer.ini file",
                            &TfrmMain::mnuReadCDiniClick);
  LookUpNamesOnline1 = item("&Look Up Names Online", "Get album information from MusicBrainz",
                            &TfrmMain::LookUpNamesOnline1Click);
  SaveCDInformation1 = item("&Save CD Information", "Save alubm information to CDPlayer.ini file",
                            &TfrmMain::SaveCDInformation1Click);
  PopupMenu1->addSeparator();
  OpenDiscImage1 = item("Open &Disc Image...", "Open a disc image (cue, toc, nrg) as a drive",
                        &TfrmMain::OpenDiscImage1Click);
  QObject::connect(PopupMenu1, &QMenu::hovered, this, [](QAction* a) {
    if (auto* app = TApplication::Instance()) app->SetHint(a->statusTip());
  });
  QObject::connect(PopupMenu1, &QMenu::aboutToHide, this, [] {
    if (auto* app = TApplication::Instance()) app->SetHint(QString());
  });
  QObject::connect(ListView1, &QWidget::customContextMenuRequested, this,
                   [this](const QPoint& p) { PopupMenu1->popup(ListView1->viewport()->mapToGlobal(p)); });
}

TSharedModel TfrmMain::Model() {
  TSharedModel m;
  m.frmMain = this;
  m.ListView1 = ListView1;
  m.RIPPER = RIPPER.get();
  m.MP3Info1 = MP3Info1.get();
  m.RipPercent = &RipPercent;
  return m;
}

// --- rows ---

bool TfrmMain::RowChecked(int i) const { return Row(i)->checkState(colTitle) == Qt::Checked; }

void TfrmMain::SetRowChecked(int i, bool checked) {
  Row(i)->setCheckState(colTitle, checked ? Qt::Checked : Qt::Unchecked);
}

int TfrmMain::RowIcon(int i) const { return Row(i)->data(colTitle, kIconRole).toInt(); }

void TfrmMain::SetRowIcon(int i, int icon) {
  QTreeWidgetItem* r = Row(i);
  r->setData(colTitle, kIconRole, icon);
  r->setIcon(colTitle, ImageList1[static_cast<size_t>(icon)]);
}

int TfrmMain::SelectedRow() const {
  const auto items = ListView1->selectedItems();
  return items.isEmpty() ? -1 : ListView1->indexOfTopLevelItem(items.first());
}

void TfrmMain::SelectRow(int i) {
  ListView1->clearSelection();
  QTreeWidgetItem* r = Row(i);
  ListView1->setCurrentItem(r);
  r->setSelected(true);
}

// --- creation ---

void TfrmMain::FormCreate() {
  auto* app = TApplication::Instance();
  TApplication::SetTitle(QStringLiteral("Tessaly 2.3"));
  setWindowTitle(TApplication::Title());  // what the task bar shows
  if (app) {
    app->OnException = [this](const std::exception& e) { HandleProc(e); };
    app->OnHint = [this] { DisplayHint(); };
  }
  setStatusTip(QString());
  // The window starts whatever the settings folder is like: with the values read, or the
  // start-up values, and a word in the status line when they cannot be saved.
  std::string settingsProblem;
  try {
    LoadSettings();
  } catch (const EIniFileException& e) {
    settingsProblem = e.Reason.empty() ? e.what() : e.Reason;
  } catch (const std::exception& e) {
    settingsProblem = e.what();
  }
  if (settingsProblem.empty()) settingsProblem = SettingsSaveProblem();
  try {
    const int n = RIPPER->GetNumCDROM();
    for (int i = 0; i < n; ++i) {
      RIPPER->SelectDrive(i);
      cboDrive->addItem(QString::fromStdString(RIPPER->DriveName()));
    }
    if (cboDrive->count() > 0) cboDrive->setCurrentIndex(0);
    cboDriveClick();
    if (cboDrive->count() == 0) ShowNotice(QStringLiteral("No CD drive found. Open a disc image with Ctrl+O."));
    SetLameCoder();
    PlayMode = false;
    PlayIndex = -1;
    Paused = false;
  } catch (...) {
    // The window opens with what was filled until then.
  }
  if (!settingsProblem.empty()) {
    const QString folder = QString::fromStdString(platform::ConfigDir().string());
    const QString said = QStringLiteral("Settings cannot be saved: ") + QString::fromStdString(settingsProblem);
    if (folder.isEmpty()) {
      ShowNotice(said);
    } else {
      // The reason in full; the folder shortened in its middle to fit the line.
      const QFontMetrics fm(lblStatus->font());
      const int room = lblStatus->width() - fm.horizontalAdvance(said + QStringLiteral(" ()"));
      ShowNotice(said + QStringLiteral(" (") + fm.elidedText(folder, Qt::ElideMiddle, std::max(room, 40)) +
                 QStringLiteral(")"));
    }
  }
}

void TfrmMain::ShowNotice(const QString& text) {
  Notice = text;
  lblStatus->setText(text);
}

void TfrmMain::DriveChosen() {
  Notice.clear();
  toldDiscProblem_.clear();
  const int drive = cboDrive->currentIndex();
  if (trayOpen_.contains(drive)) RIPPER->EjectCD(false);
  cboDriveClick();
}

void TfrmMain::cboDriveClick() {
  if (RIPPER->IsPlaying()) RIPPER->StopPlayTrack();
  PlayIndex = -1;
  PlayMode = false;
  ListView1->clear();
  RIPPER->SelectDrive(cboDrive->currentIndex());
  const TTrackList& tracks = RIPPER->Tracks();
  for (int i = 0; i < tracks.Count(); ++i) {
    auto* row = new QTreeWidgetItem(ListView1);
    row->setText(colTitle, QString::fromStdString(tracks.Strings(i)));
    row->setText(colNo, QString::fromStdString(IntToStr2(static_cast<uint16_t>(i + 1))));
    row->setText(colDuration, QString::fromStdString(RIPPER->TrackDuration(i)));
    row->setText(colStatus, QStringLiteral("--"));
    row->setText(colIndex, QString::number(i));
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
    row->setCheckState(colTitle, Qt::Unchecked);
    SetRowIcon(i, RIPPER->IsAudioTrack(i) ? 0 : 1);
  }
  lblStatus->setText(QStringLiteral("No Tracks Selected."));
  chkSelAll->setCheckState(Qt::Unchecked);  // runs chkSelAllClick when it was ticked or grayed
  nameListedDisc();
  if (RowCount() > 0) trayOpen_.remove(cboDrive->currentIndex());  // a disc is in: the tray is shut
  TellDiscProblem();
  if (!Notice.isEmpty()) lblStatus->setText(Notice);
}

void TfrmMain::TellDiscProblem() {
  if (RowCount() > 0 || cboDrive->count() == 0) {
    toldDiscProblem_.clear();
    return;
  }
  const QString problem = QString::fromStdString(RIPPER->DiscProblem());
  if (problem.isEmpty() || problem == toldDiscProblem_) return;
  toldDiscProblem_ = problem;
  // A sentence of its own stands alone; a bare reason is the drive's.
  ShowNotice(problem.front().isUpper() ? problem : cboDrive->currentText() + QStringLiteral(": ") + problem);
}

void TfrmMain::SetLameCoder() { SetUpCoder(*LameCoder1, Settings); }

void TfrmMain::RIPPERProgress(uint16_t percentComplete) { RipPercent = percentComplete; }

// --- selection ---

void TfrmMain::chkSelAllClick() {
  if (chkSelAll->checkState() == Qt::PartiallyChecked) return;
  const bool ticked = chkSelAll->checkState() == Qt::Checked;
  for (int i = 0; i < RowCount(); ++i) SetRowChecked(i, ticked);
  lblStatus->setText(ticked ? QString::number(RowCount()) + QStringLiteral(" Tracks Selected")
                            : QStringLiteral("No Tracks Selected"));
}

void TfrmMain::imgSelAllClick() {
  chkSelAll->setCheckState(chkSelAll->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  chkSelAllClick();
}

void TfrmMain::SelectAll1Click() {
  for (int i = 0; i < RowCount(); ++i) SetRowChecked(i, true);
  chkSelAll->setCheckState(Qt::Checked);
}

void TfrmMain::InvertSelection1Click() {
  bool any = false;
  for (int i = 0; i < RowCount(); ++i) {
    SetRowChecked(i, !RowChecked(i));
    any = any || RowChecked(i);
  }
  if (!any) chkSelAll->setCheckState(Qt::Unchecked);
}

void TfrmMain::ListView1Click() { ListViewTag = 0; }

void TfrmMain::ListView1MouseMove() {
  if (ListViewTag == 1) return;
  int k = 0;
  for (int i = 0; i < RowCount(); ++i)
    if (RowChecked(i)) ++k;
  lblStatus->setText(k > 0 ? QString::number(k) + QStringLiteral(" Tracks Selected") : QStringLiteral("No Tracks Selected"));
  if (k > 0 && k < RowCount()) chkSelAll->setCheckState(Qt::PartiallyChecked);
  ListViewTag = 1;
}

void TfrmMain::RenameTrack1Click() {
  const int r = SelectedRow();
  if (r >= 0) ListView1->editItem(Row(r), colTitle);
}

std::vector<bool> TfrmMain::ticks() const {
  std::vector<bool> t(static_cast<size_t>(RowCount()));
  for (int i = 0; i < RowCount(); ++i) t[static_cast<size_t>(i)] = RowChecked(i);
  return t;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView1 && event->type() == QEvent::KeyPress) {
    // A tick by keyboard (Space) is counted at once: no pointer movement follows it.
    const std::vector<bool> before = ticks();
    const bool handled = static_cast<QObject*>(ListView1)->event(event);
    if (ticks() != before) {
      ListViewTag = 0;
      ListView1MouseMove();
    }
    return handled;
  }
  if (watched == ListView1->viewport()) {
    if (event->type() == QEvent::MouseMove) {
      ListView1MouseMove();
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      ListView1Click();
    }
  }
  return QWidget::eventFilter(watched, event);
}

// --- extraction and options ---

void TfrmMain::messageBox(int icon, const QString& caption, const QString& text) {
  QMessageBox box(static_cast<QMessageBox::Icon>(icon), caption, text, QMessageBox::Ok, this);
  box.exec();
}

void TfrmMain::extract(Output output) {
  int ticked = 0;
  for (int i = 0; i < RowCount(); ++i) {
    if (!RIPPER->IsAudioTrack(Row(i)->text(colIndex).toInt())) SetRowChecked(i, false);
    if (RowChecked(i)) ++ticked;
  }
  if (ticked == 0) {
    messageBox(QMessageBox::Warning, QStringLiteral("Warning"), QStringLiteral("No Audio Track Selected!"));
    return;
  }
  // The run reads the disc the player was playing: the player stops, and stays stopped after
  // the run instead of taking the end of the run for the end of a track.
  if (PlayMode || RIPPER->IsPlaying()) btnStopClick();
  Timer1->stop();
  // The timer is on again however the run ends, an error included.
  struct TimerBack {
    QTimer* t;
    ~TimerBack() { t->start(); }
  } back{Timer1};
  Tfrmprg frmprg(Model());
  frmprg.WavOutput = output == Output::Wav;
  frmprg.FlacOutput = output == Output::Flac;
  frmprg.Album = Album;
  frmprg.exec();
  if (frmprg.DiscChanged()) {
    // The rows belong to a disc that is gone: the drive is listed again under the word.
    cboDriveClick();
    ShowNotice(QStringLiteral("The disc was changed: list it again"));
  } else if (!frmprg.Summary().empty()) {
    ShowNotice(QString::fromStdString(frmprg.Summary()));
  }
}

void TfrmMain::ExtractTracksToWAVFiles1Click() { extract(Output::Wav); }
void TfrmMain::ExtractTracksToMP3Files1Click() { extract(Output::Mp3); }
void TfrmMain::ExtractTracksToFLACFiles1Click() { extract(Output::Flac); }

namespace {

std::function<QString(QWidget*)> g_chooseImageFile = [](QWidget* parent) {
  // Qt's own dialog: the same on every desktop, and a path can be typed into it.
  return QFileDialog::getOpenFileName(parent, QStringLiteral("Open Disc Image"), QString(),
                                      TfrmMain::ImageFileFilter(), nullptr, QFileDialog::DontUseNativeDialog);
};

}  // namespace

std::function<QString(QWidget*)>& TfrmMain::ChooseImageFile = g_chooseImageFile;

const QString& TfrmMain::ImageFileFilter() {
  // What the CD library reads as a disc: cue sheets (with their BIN data), cdrdao TOC files
  // and Nero images, in either case as file managers name them.
  static const QString filter = QStringLiteral(
      "Disc images (*.cue *.toc *.nrg *.bin *.CUE *.TOC *.NRG *.BIN);;All files (*)");
  return filter;
}

void TfrmMain::OpenDiscImage1Click() {
  const QString path = ChooseImageFile(this);
  if (!path.isEmpty()) OpenImage(path);
}

bool TfrmMain::OpenImage(const QString& path) {
  std::string reason;
  if (!RIPPER->OpenImage(path.toStdString(), &reason)) {
    messageBox(QMessageBox::Warning, QStringLiteral("Open Disc Image"),
               reason.empty() ? path + QStringLiteral(" cannot be opened") : QString::fromStdString(reason));
    return false;
  }
  // The box shows every drive the library lists; the new one is last, or was there already.
  const int selected = cboDrive->currentIndex();
  for (int i = cboDrive->count(); i < RIPPER->GetNumCDROM(); ++i) {
    RIPPER->SelectDrive(i);
    cboDrive->addItem(QString::fromStdString(RIPPER->DriveName()));
  }
  if (selected >= 0) RIPPER->SelectDrive(selected);
  int drive = RIPPER->FindDrive(path.toStdString());
  if (drive < 0 || drive >= cboDrive->count()) drive = cboDrive->count() - 1;
  cboDrive->setCurrentIndex(drive);
  DriveChosen();
  return true;
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* e) {
  for (const QUrl& u : e->mimeData()->urls())
    if (u.isLocalFile()) {
      e->acceptProposedAction();
      return;
    }
}

void TfrmMain::dropEvent(QDropEvent* e) {
  e->acceptProposedAction();
  for (const QUrl& u : e->mimeData()->urls())
    if (u.isLocalFile()) OpenImage(u.toLocalFile());
}

void TfrmMain::Options1Click() {
  TfrmOptions frmOptions(this);
  if (frmOptions.exec() == 1) SetLameCoder();
}

// --- showing and closing ---

void TfrmMain::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  FormShow();
}

void TfrmMain::FormShow() { HideHotImages(); }

bool TfrmMain::FormCloseQuery() { return true; }

void TfrmMain::FormClose() {
  try {
    if (RIPPER->IsPlaying()) RIPPER->StopPlayTrack();
    SaveSettings();
  } catch (...) {
    // Closing never stops on an error.
  }
}

void TfrmMain::closeEvent(QCloseEvent* e) {
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  FormClose();
  e->accept();
}
