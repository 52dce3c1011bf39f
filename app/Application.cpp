// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Application.h"

#include <QCursor>
#include <QMenu>
#include <QWidget>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

TApplication* TApplication::Instance() { return dynamic_cast<TApplication*>(QCoreApplication::instance()); }

QString TApplication::Title() { return QCoreApplication::applicationName(); }
void TApplication::SetTitle(const QString& title) { QCoreApplication::setApplicationName(title); }

QString HintOf(const QWidget* w) {
  for (; w; w = w->parentWidget()) {
    if (!w->statusTip().isEmpty()) return w->statusTip();
    if (w->isWindow()) break;
  }
  return {};
}

void TApplication::SetHint(const QString& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  if (OnHint) OnHint();
}

void TApplication::UpdateHintFromPointer() {
  // A menu reports its highlighted item's hint itself.
  if (activePopupWidget()) return;
  SetHint(HintOf(widgetAt(QCursor::pos())));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    const bool result = QApplication::notify(receiver, event);
    switch (event->type()) {
      case QEvent::MouseMove:
      case QEvent::Enter:
      case QEvent::Leave:
        UpdateHintFromPointer();
        break;
      default:
        break;
    }
    return result;
  } catch (const std::exception& e) {
    // A report that fails in turn must not recurse; the program goes on either way.
    if (OnException && !reporting_) {
      reporting_ = true;
      try {
        OnException(e);
      } catch (...) {
      }
      reporting_ = false;
    }
  } catch (...) {
    // Nothing to report without a message.
  }
  return true;
}
