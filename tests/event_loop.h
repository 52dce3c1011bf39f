// SPDX-License-Identifier: GPL-3.0-or-later
// Window tests: lets the event loop (and the window's timers) run until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

// Runs events until `done` or the limit; whether `done` came.
inline bool runUntil(const std::function<bool()>& done, int limitMs = 8000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}
