// SPDX-License-Identifier: GPL-3.0-or-later
// The standard message dialog with a caller-chosen window caption, button captions and beep.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// The buttons, as bits of a set; they are laid out in this order whatever the set's order.
enum TMsgDlgBtn : uint32_t {
  mbYes = 1u << 0, mbNo = 1u << 1, mbOK = 1u << 2, mbCancel = 1u << 3, mbAbort = 1u << 4,
  mbRetry = 1u << 5, mbIgnore = 1u << 6, mbAll = 1u << 7, mbNoToAll = 1u << 8,
  mbYesToAll = 1u << 9, mbHelp = 1u << 10
};
using TMsgDlgButtons = uint32_t;

// Modal results.
enum : int {
  mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
  mrAll = 8, mrNoToAll = 9, mrYesToAll = 10
};

// Shows the dialog modally and returns its modal result; the close box gives mrCancel.
int MessageDlgCaptions(const QString& msg, const QString& title, TMsgDlgType kind, TMsgDlgButtons buttons,
                       const QStringList& captions);

// The beep of a dialog kind: 0x30 warning, 0x10 error, 0x20 confirmation, 0 otherwise. Sounds
// through QApplication::beep() unless replaced.
std::function<void(unsigned type)>& MessageBeepHandler();
