// The main window's album information: names from cdplayer.ini, CD-Text and MusicBrainz,
// saving them, and the track list as text on the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>

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
  ++lookupGeneration_;  // an answer still on its way is for the listing before this one
  lookupRunning_ = false;
  if (RowCount() == 0) return;
  names::TResolveOptions options;
  options.lookup = names::TLookupMode::Never;
  const names::TResolved found = cli::ResolveDiscNames(*RIPPER, options);
  if (found.source == names::TNameSource::CdPlayerIni) {
    mnuReadCDiniClick();
  } else if (found.source == names::TNameSource::CdText) {
    applyNames(found.names);
    lblStatus->setText(QStringLiteral("Names from CD-Text"));
  } else if (MoreSettings.LookupAutomatic && lookedUp_.insert(RIPPER->DiscID()).second) {
    startLookup(false);
  }
}

void TfrmMain::applyNames(const names::TAlbumNames& found) {
  Album = found;
  for (int i = 0; i < RowCount() && i < static_cast<int>(found.TrackTitles.size()); ++i)
    if (!found.TrackTitles[static_cast<size_t>(i)].empty())
      Row(i)->setText(colTitle, QString::fromStdString(found.TrackTitles[static_cast<size_t>(i)]));
}

void TfrmMain::stopLookup() {
  if (lookupCancel_) lookupCancel_->store(true);
  if (lookupThread_.joinable()) lookupThread_.join();
}

void TfrmMain::startLookup(bool forced) {
  stopLookup();
  const unsigned generation = ++lookupGeneration_;
  lookupRunning_ = true;
  lookupCancel_ = std::make_shared<std::atomic<bool>>(false);
  lblStatus->setText(QStringLiteral("Looking up names..."));
  names::TLookupOptions options;
  options.server = MusicBrainzServer();
  options.cancel = lookupCancel_.get();
  // The thread keeps the flag alive; the window waits for the thread before it goes.
  lookupThread_ = std::thread([this, layout = cli::LayoutOf(*RIPPER), options, cancel = lookupCancel_, generation,
                               forced] {
    names::TLookupResult result = names::LookUp(layout, options);
    if (cancel->load()) return;
    QMetaObject::invokeMethod(
        this, [this, result = std::move(result), generation, forced] { lookupDone(result, generation, forced); },
        Qt::QueuedConnection);
  });
}

void TfrmMain::lookupDone(const names::TLookupResult& result, unsigned generation, bool forced) {
  // Only the answer for the disc still listed, from the latest look-up, counts.
  if (generation != lookupGeneration_ || RowCount() == 0 || result.discKey != RIPPER->DiscID()) return;
  lookupRunning_ = false;
  if (result.status != names::TLookupStatus::Found || result.releases.empty()) {
    lblStatus->setText(QString::fromStdString(result.message));
    return;
  }
  // Names the user has are replaced only by a release the user chose.
  int chosen = 0;
  if (result.releases.size() > 1 || forced) chosen = TReleaseChooser::Choose(result.releases, this);
  if (chosen < 0) {
    lblStatus->setText(QString());
    return;
  }
  applyNames(result.releases[static_cast<size_t>(chosen)].names);
  lblStatus->setText(QStringLiteral("Names from MusicBrainz"));
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
