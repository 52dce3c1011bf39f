// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 as the program checks it: the length of the well-formed sequence at a byte.
#pragma once

#include <cstddef>

namespace platform {

// The bytes of the well-formed UTF-8 sequence that starts at p (n bytes left, n > 0): 1 for
// ASCII, 2 to 4 for a multi-byte one; 0 when none starts there (a stray continuation byte, an
// overlong form, a surrogate, a value past U+10FFFF, or a sequence cut off by the end).
inline size_t Utf8SequenceLength(const unsigned char* p, size_t n) {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  }
  if (len == 0 || len > n || p[1] < lo || p[1] > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (p[k] < 0x80 || p[k] > 0xBF) return 0;
  return len;
}

}  // namespace platform
