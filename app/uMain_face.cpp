// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's face: hot images that light under the pointer, dragging by any point that
// is not a button, hints in the status line, minimize, exit, help, the maker's page and the
// error report.
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QAction>
#include <QMessageBox>
#include <QKeyEvent>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <QWindow>

#include "app/Application.h"
#include "art/art.h"
#include "app/uMain.h"

#ifndef TESSALY_HELP_RELATIVE
#define TESSALY_HELP_RELATIVE "../share/tessaly/tessaly.html"
#endif
#ifndef TESSALY_HELP_INSTALLED
#define TESSALY_HELP_INSTALLED "/usr/local/share/tessaly/tessaly.html"
#endif

namespace {

std::function<bool(const QUrl&)> g_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
std::function<void(QWidget*)> g_startSystemMove = [](QWidget* w) {
  if (QWindow* h = w->windowHandle()) h->startSystemMove();
};

}  // namespace

std::function<bool(const QUrl&)>& TfrmMain::OpenUrl = g_openUrl;
std::function<void(QWidget*)>& TfrmMain::StartSystemMove = g_startSystemMove;

QString ErrorReportText(const QString& message) {
  return QStringLiteral("We are sorry that a problem has encounted:\r\nPlease tell me the Error to ") +
         QString::fromUtf8(face::kSupportEmail.data(), static_cast<int>(face::kSupportEmail.size())) +
         QStringLiteral(":\r\n\r\n") + message + QStringLiteral("\r\n\r\nThank you.");
}

void TfrmMain::createHotImages() {
  for (const face::HotImageInfo& h : face::kHotImages) {
    auto* img = new TImage(this);
    const QString name = QString::fromLatin1(h.name.data(), static_cast<int>(h.name.size()));
    img->setObjectName(name);
    img->setGeometry(h.place.left, h.place.top, h.place.width, h.place.height);
    img->setPixmap(ArtPixmap(name + QStringLiteral(".jpg"), devicePixelRatioF()));
    img->setCursor(Qt::PointingHandCursor);
    img->setMouseTracking(true);
    img->setStatusTip(h.id == face::HotImage::imgCorvane
                          ? QStringLiteral("Welcome to ") +
                                QString::fromLatin1(face::kMakerUrl.data(), static_cast<int>(face::kMakerUrl.size()))
                          : QString::fromUtf8(h.hint.data(), static_cast<int>(h.hint.size())));
    // Over the part of a lit picture that lies outside its hover area, the face's rules hold.
    img->OnMouseMove = [this, img](QMouseEvent* e) {
      const QPoint p = img->mapTo(this, e->position().toPoint());
      WMNCHitTest(p.x(), p.y());
    };
    img->OnMouseDown = [this, img](QMouseEvent* e) {
      const QPoint p = img->mapTo(this, e->position().toPoint());
      if (e->button() == Qt::LeftButton) faceMouseDown(p.x(), p.y());
    };
    HotImages[static_cast<size_t>(h.id)] = img;
  }
  using face::HotImage;
  hot(HotImage::imgToWave)->OnClick = [this] { ExtractTracksToWAVFiles1Click(); };
  hot(HotImage::imgToMP3)->OnClick = [this] { ExtractTracksToMP3Files1Click(); };
  hot(HotImage::imgOptions)->OnClick = [this] { Options1Click(); };
  hot(HotImage::imgHelp)->OnClick = [this] { HelpWith1Click(); };
  hot(HotImage::imgExit)->OnClick = [this] { Exit1Click(); };
  hot(HotImage::imgCorvane)->OnClick = [this] { Corvanecomontheweb1Click(); };
  hot(HotImage::imgMin)->OnClick = [this] { imgMinClick(); };
  hot(HotImage::imgClose)->OnClick = [this] { Exit1Click(); };
  hot(HotImage::imgBack)->OnClick = [this] { btnBackwardClick(); };
  hot(HotImage::imgPlay)->OnClick = [this] { btnPlayClick(); };
  hot(HotImage::imgPause)->OnClick = [this] { imgPauseClick(); };
  hot(HotImage::imgStop)->OnClick = [this] { btnStopClick(); };
  hot(HotImage::imgForward)->OnClick = [this] { btnForwardClick(); };
  hot(HotImage::imgEject)->OnClick = [this] { btnEjectClick(); };
}

namespace {

// The names a screen reader gives the button areas; their descriptions are the hints.
QString buttonName(face::HotImage id) {
  using face::HotImage;
  switch (id) {
    case HotImage::imgToWave: return QStringLiteral("WAV");
    case HotImage::imgToMP3: return QStringLiteral("MP3");
    case HotImage::imgOptions: return QStringLiteral("Options");
    case HotImage::imgHelp: return QStringLiteral("Help");
    case HotImage::imgExit: return QStringLiteral("Exit");
    case HotImage::imgCorvane: return QStringLiteral("Tessaly on the web");
    case HotImage::imgMin: return QStringLiteral("Minimize");
    case HotImage::imgClose: return QStringLiteral("Close");
    case HotImage::imgBack: return QStringLiteral("Previous track");
    case HotImage::imgPlay: return QStringLiteral("Play");
    case HotImage::imgPause: return QStringLiteral("Pause");
    case HotImage::imgStop: return QStringLiteral("Stop");
    case HotImage::imgForward: return QStringLiteral("Next track");
    case HotImage::imgEject: return QStringLiteral("Eject");
  }
  return {};
}

}  // namespace

TFaceButton::TFaceButton(QWidget* parent, TImage* hotImage) : QAbstractButton(parent), hotImage_(hotImage) {
  setGeometry(hotImage->geometry());
  setFocusPolicy(Qt::TabFocus);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TFaceButton::paintEvent(QPaintEvent*) {
  if (!hasFocus()) return;
  QPainter p(this);
  // Two pixels wide, dashed: seen on the light buttons and on the dark player bar alike.
  QPen pen(palette().color(QPalette::Highlight), 2, Qt::DashLine);
  p.setPen(pen);
  p.drawRect(rect().adjusted(1, 1, -1, -1));
}

void TFaceButton::keyPressEvent(QKeyEvent* e) {
  // Space presses as on any button (on its release); Enter presses at once.
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !e->isAutoRepeat()) {
    e->accept();
    click();
    return;
  }
  QAbstractButton::keyPressEvent(e);
}

void TFaceButton::focusInEvent(QFocusEvent* e) {
  QAbstractButton::focusInEvent(e);
  // Lit as under the pointer, and its hint in the status line.
  if (auto* w = dynamic_cast<TfrmMain*>(parentWidget())) w->HideHotImages();
  hotImage_->show();
  raise();
  if (auto* app = TApplication::Instance()) app->SetHint(hotImage_->statusTip());
  update();
}

void TFaceButton::focusOutEvent(QFocusEvent* e) {
  QAbstractButton::focusOutEvent(e);
  hotImage_->hide();
  update();
}

void TfrmMain::createKeyboardAccess() {
  for (const face::HotImageInfo& h : face::kHotImages) {
    TImage* img = hot(h.id);
    auto* b = new TFaceButton(this, img);
    b->setObjectName(img->objectName() + QStringLiteral("Key"));
    b->setAccessibleName(buttonName(h.id));
    b->setAccessibleDescription(img->statusTip());
    QObject::connect(b, &QAbstractButton::clicked, this, [img] {
      if (img->OnClick) img->OnClick();
    });
    FaceButtons[static_cast<size_t>(h.id)] = b;
  }
  // Tab walks the face as the eye does: the drive, the list, then the buttons left, the
  // player below, the window's own buttons last.
  using face::HotImage;
  QWidget* previous = ListView1;
  for (HotImage id : {HotImage::imgToWave, HotImage::imgToMP3, HotImage::imgOptions, HotImage::imgHelp,
                      HotImage::imgExit, HotImage::imgBack, HotImage::imgPlay, HotImage::imgPause,
                      HotImage::imgStop, HotImage::imgForward, HotImage::imgEject, HotImage::imgCorvane,
                      HotImage::imgMin, HotImage::imgClose}) {
    setTabOrder(previous, faceButton(id));
    previous = faceButton(id);
  }

  cboDrive->setAccessibleName(QStringLiteral("CD drive"));
  chkSelAll->setAccessibleName(QStringLiteral("Select all"));
  chkSelAll->setAccessibleDescription(chkSelAll->statusTip());
  ListView1->setAccessibleName(QStringLiteral("Tracks"));
  imgSelAll->setAccessibleName(QStringLiteral("Select all"));

  // Shortcuts a desktop user expects; the described commands behind them.
  auto shortcut = [this](const QKeySequence& keys, void (TfrmMain::*handler)(), QAction* action = nullptr) {
    if (action) {
      action->setShortcut(keys);
      action->setShortcutContext(Qt::WindowShortcut);
      addAction(action);
      return;
    }
    auto* a = new QAction(this);
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    addAction(a);
  };
  shortcut(QKeySequence(Qt::Key_F1), &TfrmMain::HelpWith1Click);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &TfrmMain::Exit1Click);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_A), nullptr, SelectAll1);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_O), nullptr, OpenDiscImage1);
  shortcut(QKeySequence(Qt::Key_F2), nullptr, RenameTrack1);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), nullptr, SaveCDInformation1);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Right), &TfrmMain::btnForwardClick);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Left), &TfrmMain::btnBackwardClick);
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_E), &TfrmMain::btnEjectClick);
}

void TfrmMain::PlayPauseKey() {
  if (PlayMode && PlayIndex >= 0)
    imgPauseClick();
  else
    btnPlayClick();
}

void TfrmMain::keyPressEvent(QKeyEvent* e) {
  // Only a Space that no control took (the list ticks with it, buttons press with it).
  if (e->key() == Qt::Key_Space && e->modifiers() == Qt::NoModifier && !e->isAutoRepeat()) {
    e->accept();
    PlayPauseKey();
    return;
  }
  QWidget::keyPressEvent(e);
}

void TfrmMain::HideHotImages() {
  using face::HotImage;
  for (HotImage id : {HotImage::imgToWave, HotImage::imgToMP3, HotImage::imgOptions, HotImage::imgHelp,
                      HotImage::imgExit, HotImage::imgCorvane, HotImage::imgMin, HotImage::imgClose,
                      HotImage::imgBack, HotImage::imgPlay, HotImage::imgForward, HotImage::imgStop,
                      HotImage::imgEject, HotImage::imgPause})
    hot(id)->hide();
}

bool TfrmMain::WMNCHitTest(int x, int y) {
  if (face::IsActivePoint(x, y)) return false;
  HideHotImages();
  return true;
}

void TfrmMain::faceMouseDown(int x, int y) {
  // A press on a drag point moves the window through the window system.
  if (WMNCHitTest(x, y)) StartSystemMove(this);
}

void TfrmMain::Image1MouseMove(int x, int y) {
  ListViewTag = 0;
  HideHotImages();
  for (const face::HotImageInfo& h : face::kHotImages)
    if (h.hoverX.contains(x) && h.hoverY.contains(y)) hot(h.id)->show();
}

void TfrmMain::DisplayHint() {
  const TApplication* app = TApplication::Instance();
  if (!app) return;
  const QString& hint = app->Hint();
  Notice.clear();  // said once: the status line is the hints' again
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  lblStatus->setText(bar < 0 ? hint : hint.mid(bar + 1));
}

void TfrmMain::HandleProc(const std::exception& e) {
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) owner = QApplication::activeWindow();
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error Report"),
                  ErrorReportText(QString::fromUtf8(e.what())), QMessageBox::Ok, owner);
  box.exec();
}

void TfrmMain::Exit1Click() { close(); }

void TfrmMain::imgMinClick() { showMinimized(); }

QString TfrmMain::HelpFileName() {
  const QFileInfo exe(QCoreApplication::applicationFilePath());
  const QString beside = exe.path() + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".html");
  if (QFileInfo::exists(beside)) return beside;
  // Installed under any prefix (~/.local, /usr): the page lies in the share folder beside bin.
  const QString installed = QDir::cleanPath(exe.path() + QLatin1Char('/') + QStringLiteral(TESSALY_HELP_RELATIVE));
  if (QFileInfo::exists(installed)) return installed;
  return QStringLiteral(TESSALY_HELP_INSTALLED);
}

void TfrmMain::openOnDesktop(const QUrl& url, const QString& what) {
  bool opened = false;
  try {
    opened = OpenUrl(url);
  } catch (...) {
    // Opening never disturbs the user more than a word in the status line.
  }
  if (!opened)
    ShowNotice(what + QStringLiteral(" cannot be opened: no program opens it (xdg-open from xdg-utils is missing)"));
}

void TfrmMain::HelpWith1Click() {
  const QString page = HelpFileName();
  if (!QFileInfo::exists(page)) {
    ShowNotice(QStringLiteral("The help page cannot be opened: ") + page + QStringLiteral(" is missing"));
    return;
  }
  openOnDesktop(QUrl::fromLocalFile(page), QStringLiteral("The help page"));
}

void TfrmMain::Corvanecomontheweb1Click() {
  openOnDesktop(QUrl(QString::fromLatin1(face::kMakerUrl.data(), static_cast<int>(face::kMakerUrl.size()))),
                QStringLiteral("The web page"));
}
