// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: Qt lets no exception leave an event handler safely, so they are
// caught here, where events are dispatched, and handed to OnException (the main window's
// error report). It also keeps the application's current hint: after every pointer event it is
// the status tip of the control under the pointer (or of its nearest parent that has one), and
// OnHint runs whenever it changes.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The application title: the main window's title and the caption of message boxes that use
  // the application title.
  static QString Title();
  static void SetTitle(const QString& title);

  // Handlers, installed by the main window at its creation.
  std::function<void(const std::exception& e)> OnException;
  std::function<void()> OnHint;

  // The current hint; SetHint runs OnHint when it changes (menus set their items' hints here).
  const QString& Hint() const { return hint_; }
  void SetHint(const QString& hint);
  // Recomputes the hint from the control under the pointer.
  void UpdateHintFromPointer();

  static TApplication* Instance();

 private:
  QString hint_;
  bool reporting_ = false;
};

// The hint of a control: its own status tip, else its parent's, up to its window.
QString HintOf(const QWidget* w);
