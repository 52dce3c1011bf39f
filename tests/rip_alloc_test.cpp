// SPDX-License-Identifier: GPL-3.0-or-later
// The extraction path allocates its buffers when a track starts and nothing per chunk: a rip
// of a long track makes no more allocations than a rip of a short one. The heap calls of the
// whole process are counted (the libraries' included) by standing in for malloc.
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>

#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_COUNTS_ALLOCATIONS 0  // the sanitizer owns malloc
#else
#define TESSALY_COUNTS_ALLOCATIONS 1
namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
  if (g_counting) ++g_allocations;
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t m) {
  if (g_counting) ++g_allocations;
  return __libc_calloc(n, m);
}
void* realloc(void* p, size_t n) {
  if (g_counting) ++g_allocations;
  return __libc_realloc(p, n);
}
}
#endif

namespace {

using namespace testing_support;

class RipAllocations : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TESSALY_COUNTS_ALLOCATIONS) GTEST_SKIP() << "malloc belongs to the sanitizer here";
    CR_DeInit();
    // 60 chunks' worth of sectors beside 20: a per-chunk allocation shows 40 times over. (The
    // resampler's buffers settle within the shorter one.)
    const auto cue = makeDisc(tmp.path(), "disc", {"music:540", "music:1620"});
    ASSERT_EQ(CR_AddDrive(cue.c_str()), CDEX_OK);
    ripper = std::make_unique<TCDRIP>();
    ripper->WriteWAV = true;
    ripper->AttachCoder(&coder);
  }
  void TearDown() override {
    ripper.reset();
    CR_DeInit();
  }

  long allocationsOf(int track) {
    const std::string name = (tmp / ("t" + std::to_string(track) + ".wav")).string();
    ripper->RipTrack(track, name);  // once unmeasured: first-use allocations of the libraries
#if TESSALY_COUNTS_ALLOCATIONS
    g_allocations = 0;
    g_counting = true;
    ripper->RipTrack(track, name);
    g_counting = false;
    return g_allocations;
#else
    return 0;
#endif
  }

  TempDir tmp;
  TLameCoder coder;
  std::unique_ptr<TCDRIP> ripper;
};

TEST_F(RipAllocations, NoneMoreForALongerTrack) {
  struct Case {
    const char* what;
    bool encode;
    TOutputFormat format;
  };
  for (const Case c : {Case{"WAV", false, STEREO44100}, Case{"MP3", true, STEREO44100},
                       Case{"WAV, mono 22050 Hz", false, MONO22050}, Case{"MP3, mono 11025 Hz", true, MONO11025}}) {
    ripper->Encode = c.encode;
    ripper->ApplyOutputFormat(c.format);
    const long shortTrack = allocationsOf(1);
    const long longTrack = allocationsOf(2);
    EXPECT_GT(shortTrack, 0) << c.what;  // the counting works
    EXPECT_EQ(longTrack, shortTrack) << c.what;
  }
}

}  // namespace
