#include "uprg.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "run/AlbumTags.h"
#include "run/ExtractionRun.h"
#include "run/ParallelRip.h"
#include "lame/LameCoder.h"
#include "app/globals.h"
#include "app/globals_dialog.h"
#include "cdrip/CDRIP.h"
#include "controls/GradProgress.h"
#include "platform/events.h"

std::function<void(const QUrl&)>& OpenFolderHandler() {
  static std::function<void(const QUrl&)> handler = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  return handler;
}

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// A label that keeps the size of its text, as an auto-sized label does.
void setAutoSizedText(QLabel* label, const QString& text) {
  label->setText(text);
  label->adjustSize();
}

}  // namespace

// The run's view of this window and the shared track list.
class Tfrmprg::Host : public TExtractionHost {
 public:
  explicit Host(Tfrmprg& w) : w_(w) {}

  int RowCount() const override { return w_.model_.ListView1->topLevelItemCount(); }
  bool RowChecked(int row) const override { return item(row)->checkState(colTitle) == Qt::Checked; }
  std::string RowCaption(int row) const override { return item(row)->text(colTitle).toStdString(); }
  std::string RowTrackIndex(int row) const override { return item(row)->text(colIndex).toStdString(); }
  TTrackTags RowTags(int row) const override {
    bool ok = false;
    const int track = item(row)->text(colIndex).toInt(&ok);
    return ok && track >= 0 ? AlbumTrackTags(w_.Album, static_cast<size_t>(track)) : TTrackTags{};
  }
  void SetRowStatus(int row, const std::string& status, const std::string&) override {
    item(row)->setText(colStatus, qs(status));
  }
  void ShowStatus(int, const std::string& line) override { setAutoSizedText(w_.lblStatus, qs(line)); }
  void ShowPath(const std::string& line) override { w_.lblPath->setText(qs(line)); }
  int AskOverwrite(const std::string& name) override {
    return MessageDlgCaptions(qs(name) + QStringLiteral(" already exists,do you want to replace it?"), applicationTitle(),
                              TMsgDlgType::mtWarning, mbYes | mbNo | mbYesToAll,
                              {QStringLiteral("&Yes"), QStringLiteral("&No"), QStringLiteral("Replace &All")});
  }
  bool Cancelled() const override { return w_.Cancelled; }
  void ResetProgress() override {
    w_.prgTotalProgress->SetPosition(0);
    if (w_.model_.RipPercent) *w_.model_.RipPercent = 0;
  }
  void OpenFolder(const std::string& folder) override {
    if (auto& open = OpenFolderHandler()) open(QUrl::fromLocalFile(qs(folder)));
  }
  void Finish(int modalResult) override { w_.done(modalResult); }
  void RunSummary(const std::string& text) override { w_.summary_ = text; }

 private:
  QTreeWidgetItem* item(int row) const { return w_.model_.ListView1->topLevelItem(row); }
  // The application title (what the task bar shows) is kept as the application's name.
  static QString applicationTitle() { return QCoreApplication::applicationName(); }
  Tfrmprg& w_;
};

Tfrmprg::Tfrmprg(const TSharedModel& model) : QDialog(nullptr), model_(model) {
  // Dialog frame: fixed size, close box only.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("Extracting..."));
  setFixedSize(373, 145);
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(12);
  setFont(f);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setGeometry(8, 8, 353, 97);
  lblStatus = new QLabel(GroupBox1);
  lblStatus->move(10, 23);
  setAutoSizedText(lblStatus, QString(16, QLatin1Char(' ')));
  lblPath = new QLabel(GroupBox1);
  lblPath->setGeometry(10, 52, 335, 45);
  lblPath->setWordWrap(true);
  lblPath->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lblPath->setText(QString(16, QLatin1Char(' ')));

  prgTotalProgress = new TGradProgress(this);
  prgTotalProgress->setGeometry(8, 118, 270, 16);
  prgTotalProgress->SetStyle(TGradProgress::gsHorizontal);
  prgTotalProgress->SetShowDec(true);
  prgTotalProgress->SetBevelStyle(TGradProgress::bsLowered);
  prgTotalProgress->SetBevelWidth(1);
  prgTotalProgress->SetStartColor(clMenu);
  prgTotalProgress->SetEndColor(clBlue);
  prgTotalProgress->SetBackColor(clMenu);
  prgTotalProgress->SetMaxValue(100);
  prgTotalProgress->SetStep(1);
  prgTotalProgress->SetShowPercent(true);
  QFont barFont(QStringLiteral("Default"));
  barFont.setPixelSize(11);
  prgTotalProgress->setFont(barFont);
  QPalette barPalette = prgTotalProgress->palette();
  barPalette.setColor(QPalette::WindowText, Qt::white);
  prgTotalProgress->setPalette(barPalette);

  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setGeometry(286, 114, 75, 23);
  connect(btnCancel, &QPushButton::clicked, this, &Tfrmprg::btnCancelClick);

  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &Tfrmprg::Timer1Timer);
  Timer1->start();

  if (model_.frmMain) {
    const QRect owner = model_.frmMain->frameGeometry();
    move(owner.center() - QPoint(width() / 2, height() / 2));
  }
}

void Tfrmprg::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void Tfrmprg::paintEvent(QPaintEvent* e) {
  QDialog::paintEvent(e);
  painted_ = true;
}

void Tfrmprg::FormShow() {
  StartPending = true;
  setAutoSizedText(lblStatus, QStringLiteral("Initializing..."));
  setWindowTitle(WavOutput    ? QStringLiteral("Extract To WAV files")
                 : FlacOutput ? QStringLiteral("Extract To FLAC files")
                              : QStringLiteral("Extract To MP3 files"));
  prgTotalProgress->SetPosition(0);
  prgTotalProgress->SetShowDec(false);
}

void Tfrmprg::Timer1Timer() {
  if (model_.RipPercent) prgTotalProgress->SetPosition(*model_.RipPercent);
  // A tick that comes before the window is on screen waits for the next one.
  if (!StartPending || !painted_) return;
  // Cleared before anything lets events through, so a nested tick never starts a second run.
  StartPending = false;
  // Cancelled stays as it is: a Cancel pressed before the first tick ends the run before its
  // first row instead of being forgotten.
  running_ = true;
  struct Done {
    bool& running;
    ~Done() { running = false; }
  } done{running_};
  // The CD component lets events through after every chunk: repaints, ticks and Cancel. Qt
  // holds back a timer's ticks while its own handler runs; restarted, Timer1 is a new timer
  // whose ticks reach the window during the run and refresh the bar.
  platform::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
  // The window's painting so far may have left the vector registers as the encoders run
  // slowly with; every later event pass clears them itself.
  platform::ClearUpperVectorState();
  Timer1->start();
  summary_.clear();
  discChanged_ = false;
  Host host(*this);
  TCDRIP& ripper = *model_.RIPPER;
  ripper.ReadRetries = MoreSettings.Retries;
  // A disc image carries no drive offset; a drive's is its own setting, else the default one.
  const bool image = !ripper.ImageDataFile().empty();
  const int32_t offset = image ? 0 : DriveReadOffset(ripper.DriveName());
  const bool offsetKnown = image || DriveReadOffsetKnown(ripper.DriveName());
  const TRunOutput output = WavOutput ? TRunOutput::Wav : FlacOutput ? TRunOutput::Flac : TRunOutput::Mp3;
  // Encoded files go on every core the settings give; one encoder is the one-track run.
  const int jobs = RunJobs(MoreSettings.Jobs);
  try {
    if (output != TRunOutput::Wav && jobs > 1) {
      const TLameCoder noCoder;  // FLAC files take nothing of the MP3 encoder's settings
      TParallelRun run(host, ripper, ripper.Coder() ? *ripper.Coder() : noCoder, Settings, jobs);
      run.SetReadOffset(offset, offsetKnown, image);
      run.FollowReading(true);
      run.Perform(output);
    } else {
      TExtractionRun run(host, ripper, *model_.MP3Info1, Settings);
      run.SetReadOffset(offset, offsetKnown, image);
      run.Perform(output);
    }
  } catch (const ETrackNotRead&) {
    // A swapped disc is no error of the run: the main window says so and lists the drive again.
    if (!DiscChangedSinceListing()) throw;
    discChanged_ = true;
  }
}

void Tfrmprg::btnCancelClick() {
  Cancelled = true;
  model_.RIPPER->CancelRip();
}

std::string Tfrmprg::GetOutputfilename(int index) const {
  const QTreeWidgetItem* row = model_.ListView1->topLevelItem(index);
  bool ok = false;
  const int track = row->text(colIndex).toInt(&ok);
  const TCDRIP& ripper = *model_.RIPPER;
  if (!ok || track < 0 || track >= ripper.Tracks().Count())
    return RunOutputFileName(Settings.OutDir, row->text(colTitle).toStdString(), std::string());
  // The host only reads here: the tags are the ones the run names the file by.
  Host host(const_cast<Tfrmprg&>(*this));
  return RunOutputFileName(Settings.OutDir, RunTrackTags(host, ripper, index, track), ripper.Tracks().Strings(track));
}

void Tfrmprg::keyPressEvent(QKeyEvent* e) {
  // Esc presses Cancel; it does not close the window by itself.
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    btnCancel->click();
    return;
  }
  QDialog::keyPressEvent(e);
}

void Tfrmprg::reject() {
  // The close box: while a track is written it cancels the run, which then closes the window.
  if (running_) {
    btnCancelClick();
    return;
  }
  done(2);
}
