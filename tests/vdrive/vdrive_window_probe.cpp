// SPDX-License-Identifier: GPL-3.0-or-later
// vdrive_window_probe [PATH...]: the main window, offscreen, over the real CD library (the
// paths offered as drives first, as the program takes them): its drive list, then one line per
// row of the drive it shows, the columns separated by tabs.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <cstdio>

#include "app/Application.h"
#include "app/uMain.h"
#include "cdrip/CdRip_dll.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) CR_AddDrive(argv[i]);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication app(argc, argv);
  TfrmMain w;
  // What the window does after its creation on queued events (names, the timer) settles.
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 500) app.processEvents(QEventLoop::AllEvents, 50);
  for (int i = 0; i < w.cboDrive->count(); ++i)
    std::printf("drive %d: %s\n", i, w.cboDrive->itemText(i).toUtf8().constData());
  for (int i = 0; i < w.RowCount(); ++i) {
    QStringList cells;
    for (int c = 0; c < w.ListView1->columnCount(); ++c) cells << w.Row(i)->text(c);
    std::printf("row %s\n", cells.join(QLatin1Char('\t')).toUtf8().constData());
  }
  return 0;
}
