// SPDX-License-Identifier: GPL-3.0-or-later
// x11_helper: what the scenario tests need to see of the X server as a user sees it.
//
//   x11_helper shot OUT.png X Y WIDTH HEIGHT   saves that rectangle of the screen as PNG
//   x11_helper clipboard                       prints the clipboard's plain text, byte for byte
//
// Runs under the xcb platform on the display given by DISPLAY.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  if (argc == 7 && std::strcmp(argv[1], "shot") == 0) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return 1;
    const QPixmap shot = screen->grabWindow(0, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                                            std::atoi(argv[6]));
    return !shot.isNull() && shot.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "clipboard") == 0) {
    const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    return 0;
  }
  std::fputs("usage: x11_helper shot OUT.png X Y WIDTH HEIGHT | x11_helper clipboard\n", stderr);
  return 2;
}
