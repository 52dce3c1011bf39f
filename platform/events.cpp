// SPDX-License-Identifier: GPL-3.0-or-later
#include "events.h"

#include <utility>

namespace platform {
namespace {
std::function<void()>& hook() {
  static std::function<void()> h;
  return h;
}
}  // namespace

void SetProcessMessagesHook(std::function<void()> h) { hook() = std::move(h); }

void ProcessMessages() {
  if (auto& h = hook()) h();
}
}  // namespace platform
