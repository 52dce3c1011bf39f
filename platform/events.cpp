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
  if (auto& h = hook()) {
    h();
    ClearUpperVectorState();
  }
}

#if defined(__x86_64__) || defined(__i386__)
namespace {
__attribute__((target("avx"))) void zeroUpper() { __builtin_ia32_vzeroupper(); }
}  // namespace

void ClearUpperVectorState() {
  static const bool avx = __builtin_cpu_supports("avx");
  if (avx) zeroUpper();
}
#else
void ClearUpperVectorState() {}
#endif
}  // namespace platform
