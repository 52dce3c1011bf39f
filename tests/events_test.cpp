// SPDX-License-Identifier: GPL-3.0-or-later
// The core's event pass: whatever the host ran in it (the window paints there), the encoders
// that run after it on the same thread find the AVX registers' upper halves clear, or their
// SSE code runs slower for the rest of the rip.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/events.h"

#if defined(__x86_64__)
#include <cpuid.h>

namespace {

// XINUSE's bit 2: the upper halves of the YMM registers hold something.
bool upperHalvesInUse() {
  uint32_t lo, hi;
  asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
  return (lo & 4) != 0;
}

// What the toolkit's drawing code was seen to do: a 256-bit instruction, no clearing after it.
// Plain text to the assembler: a function compiled for AVX would get the clearing appended.
// Run only where the processor has AVX.
void useUpperHalves() { asm volatile("vpcmpeqd %%ymm9, %%ymm9, %%ymm9" ::: "xmm9"); }

bool machineTells() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  // XGETBV with ECX=1 is there when CPUID leaf 0Dh, sub-leaf 1 says so in EAX bit 2.
  return __builtin_cpu_supports("avx") && __get_cpuid_count(0xd, 1, &a, &b, &c, &d) && (a & 4);
}

TEST(EventPass, LeavesTheUpperVectorHalvesClearAfterAHostThatUsedThem) {
  if (!machineTells()) GTEST_SKIP() << "this processor cannot tell whether the upper halves are in use";
  useUpperHalves();
  ASSERT_TRUE(upperHalvesInUse()) << "the check cannot see the state it is about";
  platform::SetProcessMessagesHook([] { useUpperHalves(); });
  platform::ProcessMessages();
  EXPECT_FALSE(upperHalvesInUse());
  // Without a host nothing runs and nothing is cleared: the clearing is the pass's, not a
  // side effect of calling it.
  platform::SetProcessMessagesHook(nullptr);
  useUpperHalves();
  platform::ClearUpperVectorState();
  EXPECT_FALSE(upperHalvesInUse());
}

}  // namespace
#endif
