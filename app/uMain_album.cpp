// The main window's album information: names from cdplayer.ini, saving them, and the track
// list as text on the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>

#include "app/globals.h"
#include "app/uMain.h"

void TfrmMain::mnuReadCDiniClick() {
  if (cboDrive->currentIndex() < 0) return;
  std::string artist, title, year, genre;
  std::vector<std::string> names;
  if (!ReadCDInfo(RIPPER->DiscID(), artist, title, year, genre, names)) return;
  for (int i = 0; i < static_cast<int>(names.size()) && i < RowCount(); ++i)
    Row(i)->setText(colTitle, QString::fromStdString(names[static_cast<size_t>(i)]));
}

void TfrmMain::SaveCDInformation1Click() {
  if (cboDrive->currentIndex() < 0) return;
  std::vector<std::string> names;
  for (int i = 0; i < RowCount(); ++i) names.push_back(Row(i)->text(colTitle).toStdString());
  // The window keeps no album values of its own: the ones the section holds are written back,
  // so nothing another program stored is lost.
  const std::string discId = RIPPER->DiscID();
  const TStoredAlbum stored = ReadStoredAlbum(discId);
  WriteCDInfo(discId, stored.Artist, stored.Album, stored.Year, stored.Genre, &names);
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
