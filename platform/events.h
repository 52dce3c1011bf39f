// SPDX-License-Identifier: GPL-3.0-or-later
// The event-loop hook: long operations of the core call ProcessMessages between steps so that
// the program that hosts them (the window) can repaint and hear Cancel. A no-op until set.
#pragma once

#include <functional>

namespace platform {
void SetProcessMessagesHook(std::function<void()> hook);
// Runs the hook, then leaves the vector registers as SSE code wants them (see below): the
// host's repaints run on this thread between the encoder's chunks.
void ProcessMessages();

// Clears the upper halves of the AVX registers when this CPU has them. Toolkit code (the
// window's painting) can leave them in use; SSE code that runs after it on the same thread, or
// on a thread started from it, then pays for every instruction: the MP3 encoder was measured
// 10-25% slower. A no-op on other CPUs.
void ClearUpperVectorState();
}  // namespace platform
