// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly: the program. Offers every path given on the command line as a drive after the
// system's drives, opens the main window and runs until it closes.
#include <malloc.h>
#include <sys/stat.h>

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/SingleInstance.h"
#include "app/uMain.h"
#include "cdrip/CdRip_dll.h"

namespace {

const char* const kHelp =
    "Usage: tessaly [IMAGE-OR-DEVICE ...]\n"
    "\n"
    "Opens Tessaly, the CD ripper and player, on the drives found on this system and on every\n"
    "IMAGE-OR-DEVICE given (a CUE/BIN, TOC or NRG disc image, or a device such as /dev/sr0).\n"
    "\n"
    "  --help      show this text and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Settings: $XDG_CONFIG_HOME/tessaly/tessaly.ini; track names: cdplayer.ini beside it.\n"
    "See also tessaly-rip --help for the command-line ripper.\n";

bool g_starting = true;
QtMessageHandler g_qtDefault = nullptr;

// Until the window system is reached, Qt's complaints become one clear line and status 1
// instead of an abort.
void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (g_starting && type == QtFatalMsg) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr, "tessaly: cannot open a display (DISPLAY=%s, WAYLAND_DISPLAY=%s)\n",
                 display ? display : "", wayland ? wayland : "");
    std::_Exit(1);
  }
  if (g_starting && type != QtCriticalMsg && context.category && std::strncmp(context.category, "qt.qpa", 6) == 0)
    return;
  if (g_qtDefault) g_qtDefault(type, context, message);
}

bool isImageOrDevice(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
  // Paranoia's large buffers would otherwise go back to the kernel after every read and come
  // back as fresh zeroed pages: most of a rip's time went there.
  mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);

  std::vector<std::string> drives;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (a == "--version") {
      std::fputs("Tessaly " TESSALY_VERSION "\n"
                 "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                 "This is free software: you are free to change and redistribute it.\n"
                 "There is NO WARRANTY, to the extent permitted by law.\n",
                 stdout);
      return 0;
    }
    if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "tessaly: unknown option '%s'\nTry 'tessaly --help'.\n", a.c_str());
      return 2;
    }
    drives.push_back(a);
  }
  for (const std::string& d : drives)
    if (!isImageOrDevice(d) || CR_AddDrive(d.c_str()) == CDEX_ERROR) {
      std::fprintf(stderr, "tessaly: cannot open '%s': no such image or device\n", d.c_str());
      return 1;
    }

  g_qtDefault = qInstallMessageHandler(startupMessages);
  TApplication app(argc, argv);
  g_starting = false;
  QGuiApplication::setDesktopFileName(QStringLiteral("tessaly"));  // ties the window to its desktop entry
  // Images named on a second start go to the window already open on this display.
  const QString key = SingleInstanceKey();
  if (!drives.empty()) {
    QStringList paths;
    for (const std::string& d : drives) paths << QString::fromStdString(d);
    if (HandToRunningWindow(key, paths)) return 0;
  }
  TfrmMain frmMain;
  TSingleInstanceServer server;
  server.OnPaths = [&frmMain](const QStringList& paths) {
    for (const QString& p : paths) frmMain.OpenImage(p);
    if (frmMain.isMinimized()) frmMain.showNormal();
    frmMain.raise();
    frmMain.activateWindow();
  };
  server.Listen(key);  // without it this window is one of several, as before
  frmMain.show();
  return app.exec();
}
