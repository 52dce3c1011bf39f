// SPDX-License-Identifier: GPL-3.0-or-later
// The event-loop hook: long operations of the core call ProcessMessages between steps so that
// the program that hosts them (the window) can repaint and hear Cancel. A no-op until set.
#pragma once

#include <functional>

namespace platform {
void SetProcessMessagesHook(std::function<void()> hook);
void ProcessMessages();
}  // namespace platform
