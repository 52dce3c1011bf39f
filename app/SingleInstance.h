// SPDX-License-Identifier: GPL-3.0-or-later
// One window per user and display: a start that names disc images hands them to the window
// already running instead of opening a second one. The running window listens on a local
// socket whose name holds the user and the display; a start that finds nobody listening (or
// cannot listen) simply carries on with a window of its own.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

// The socket's name for this user on this display (X11 or Wayland).
QString SingleInstanceKey();

// Hands `paths` (made absolute) to the window listening on `key`; true once it said it took
// them. Waits at most `timeoutMs` for each step.
bool HandToRunningWindow(const QString& key, const QStringList& paths, int timeoutMs = 3000);

// The running window's end: every path a later start hands over goes to OnPaths.
class TSingleInstanceServer : public QObject {
 public:
  explicit TSingleInstanceServer(QObject* parent = nullptr);
  // Listens on `key`; a name left behind by a window that crashed is taken over. False when
  // the socket cannot be made (the program then runs as a window of its own).
  bool Listen(const QString& key);
  std::function<void(const QStringList& paths)> OnPaths;

 private:
  QLocalServer server_;
};
