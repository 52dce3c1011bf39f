// The main window's album information: names from cdplayer.ini, CD-Text and MusicBrainz,
// saving them, and the track list as text on the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>

#include "app/Application.h"
#include "app/ReleaseChooser.h"
#include "app/globals.h"
#include "app/uMain.h"
#include "cli/cli_names.h"
#include "names/Resolve.h"

void TfrmMain::mnuReadCDiniClick() {
  if (cboDrive->currentIndex() < 0) return;
  std::string artist, title, year, genre;
  std::vector<std::string> names;
  if (!ReadCDInfo(RIPPER->DiscID(), artist, title, year, genre, names)) return;
  for (int i = 0; i < static_cast<int>(names.size()) && i < RowCount(); ++i)
    Row(i)->setText(colTitle, QString::fromStdString(names[static_cast<size_t>(i)]));
  names::TAlbumNames stored;
  if (names::NamesFromCdPlayerIni(cli::LayoutOf(*RIPPER), stored)) Album = stored;
}

void TfrmMain::nameListedDisc() {
  Album = names::TAlbumNames{};
  pendingNamesStatus_.clear();
  if (namesStatusWait_) namesStatusWait_->stop();
  names::TResolved found;
  if (RowCount() > 0) {
    names::TResolveOptions options;
    options.lookup = names::TLookupMode::Never;
    found = cli::ResolveDiscNames(*RIPPER, options);
  }
  // A look-up of this very disc, still without names, names the new listing when it answers.
  if (RowCount() > 0 && found.source == names::TNameSource::None && lookupRunning_ &&
      lookupDiscKey_ == RIPPER->DiscID())
    return;
  // Any other look-up on its way is for the listing before this one: it is given up, and its
  // disc is asked again when it comes back.
  ++lookupGeneration_;
  retireLookup();
  lookupRunning_ = false;
  if (RowCount() == 0) return;
  if (found.source == names::TNameSource::CdPlayerIni) {
    mnuReadCDiniClick();
  } else if (found.source == names::TNameSource::CdText) {
    applyNames(found.names);
    showNamesStatus(QStringLiteral("Names from CD-Text"));
  } else if (const auto taken = namesThisRun_.find(RIPPER->DiscID()); taken != namesThisRun_.end()) {
    applyNames(taken->second);
    showNamesStatus(QStringLiteral("Names from MusicBrainz"));
  } else if (MoreSettings.LookupAutomatic && !lookedUp_.count(RIPPER->DiscID())) {
    startLookup(false);
  }
}

void TfrmMain::applyNames(const names::TAlbumNames& found) {
  Album = found;
  for (int i = 0; i < RowCount() && i < static_cast<int>(found.TrackTitles.size()); ++i)
    if (!found.TrackTitles[static_cast<size_t>(i)].empty())
      Row(i)->setText(colTitle, QString::fromStdString(found.TrackTitles[static_cast<size_t>(i)]));
}

bool TfrmMain::statusLineFree() const {
  const TApplication* app = TApplication::Instance();
  return Notice.isEmpty() && (!app || app->Hint().isEmpty());
}

void TfrmMain::showNamesStatus(const QString& text) {
  if (statusLineFree()) {
    pendingNamesStatus_.clear();
    if (namesStatusWait_) namesStatusWait_->stop();
    lblStatus->setText(text);
    return;
  }
  // A notice is told until the user's pointer takes the line; what the names say comes after.
  pendingNamesStatus_ = text;
  if (!namesStatusWait_) {
    namesStatusWait_ = new QTimer(this);
    namesStatusWait_->setInterval(200);
    QObject::connect(namesStatusWait_, &QTimer::timeout, this, [this] {
      if (!statusLineFree()) return;
      namesStatusWait_->stop();
      lblStatus->setText(pendingNamesStatus_);
      pendingNamesStatus_.clear();
    });
  }
  namesStatusWait_->start();
}

void TfrmMain::retireLookup() {
  // Threads that ended are joined at once; the one running now is told to stop and joined later.
  std::erase_if(retiredLookups_, [](TRetiredLookup& r) {
    if (!r.ended->load()) return false;
    r.thread.join();
    return true;
  });
  if (lookupCancel_) lookupCancel_->store(true);
  if (lookupThread_.joinable()) retiredLookups_.push_back({std::move(lookupThread_), lookupEnded_});
  lookupCancel_.reset();
  lookupEnded_.reset();
}

void TfrmMain::stopLookup() {
  retireLookup();
  for (TRetiredLookup& r : retiredLookups_) r.thread.join();
  retiredLookups_.clear();
}

void TfrmMain::startLookup(bool forced) {
  retireLookup();
  const unsigned generation = ++lookupGeneration_;
  lookupRunning_ = true;
  lookupDiscKey_ = RIPPER->DiscID();
  lookupCancel_ = std::make_shared<std::atomic<bool>>(false);
  lookupEnded_ = std::make_shared<std::atomic<bool>>(false);
  showNamesStatus(QStringLiteral("Looking up names..."));
  names::TLookupOptions options;
  options.server = MusicBrainzServer();
  options.cancel = lookupCancel_.get();
  // The thread keeps its flags alive; the window joins every thread before it goes.
  lookupThread_ = std::thread([this, layout = cli::LayoutOf(*RIPPER), options, cancel = lookupCancel_,
                               ended = lookupEnded_, generation, forced] {
    names::TLookupResult result = names::LookUp(layout, options);
    if (!cancel->load())
      QMetaObject::invokeMethod(
          this, [this, result = std::move(result), generation, forced] { lookupDone(result, generation, forced); },
          Qt::QueuedConnection);
    ended->store(true);
  });
}

void TfrmMain::lookupDone(const names::TLookupResult& result, unsigned generation, bool forced) {
  // Only the answer for the disc still listed, from the latest look-up, counts.
  const auto current = [&] {
    return generation == lookupGeneration_ && RowCount() > 0 && result.discKey == RIPPER->DiscID();
  };
  if (!current()) return;
  lookupRunning_ = false;
  if (result.status == names::TLookupStatus::Cancelled) return;
  lookedUp_.insert(result.discKey);
  if (result.status != names::TLookupStatus::Found || result.releases.empty()) {
    showNamesStatus(QString::fromStdString(result.message));
    return;
  }
  // Names the user has are replaced only by a release the user chose.
  int chosen = 0;
  if (result.releases.size() > 1 || forced) {
    chosen = TReleaseChooser::Choose(result.releases, this);
    // The chooser ran the event loop: the drive may have been listed again meanwhile.
    if (!current()) return;
  }
  if (chosen < 0) {
    showNamesStatus(QString());
    return;
  }
  applyNames(result.releases[static_cast<size_t>(chosen)].names);
  namesThisRun_[result.discKey] = Album;
  showNamesStatus(QStringLiteral("Names from MusicBrainz"));
}

void TfrmMain::LookUpNamesOnline1Click() {
  if (cboDrive->currentIndex() < 0 || RowCount() == 0) return;
  startLookup(true);
}

void TfrmMain::SaveCDInformation1Click() {
  if (cboDrive->currentIndex() < 0) return;
  std::vector<std::string> names;
  for (int i = 0; i < RowCount(); ++i) names.push_back(Row(i)->text(colTitle).toStdString());
  // An album value the window does not know keeps the one the section holds.
  names::SaveNames(RIPPER->DiscID(), Album, names);
}

void TfrmMain::CopyTrackInformationToClipboard1Click() {
  try {
    QString text;
    for (int i = 0; i < RowCount(); ++i)
      text += QStringLiteral("\r\n") + Row(i)->text(colNo) + QLatin1Char('\t') + Row(i)->text(colTitle) +
              QLatin1Char('\t') + Row(i)->text(colDuration);
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return;
    clipboard->setText(text);
    messageBox(QMessageBox::Information, QStringLiteral("Information"),
               QStringLiteral("Successfully copy the Track Information to the Clipboard!"));
  } catch (...) {
    // A clipboard that cannot be used shows nothing.
  }
}
