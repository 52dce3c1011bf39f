// SPDX-License-Identifier: GPL-3.0-or-later
// The MP3 settings handed to an encoder, in the order the window and tessaly-rip hand them over.
#pragma once

#include <cstdint>

#include "app/globals.h"
#include "lame/LameCoder.h"

inline void SetUpCoder(TLameCoder& coder, const TMP3Settings& s) {
  coder.SetSampleRate(static_cast<uint32_t>(s.SampleRates));
  coder.SetBitrate(static_cast<uint32_t>(s.BitRates));
  coder.SetMaxBitrate(static_cast<uint32_t>(s.MaxBitRates));
  coder.SetMode(static_cast<uint8_t>(s.Mode));
  coder.SetQuality(static_cast<uint8_t>(s.Quality));
  coder.SetVBRQuality(s.VBRQuality);
  coder.SetEnableVBR(s.EnableVBR != 0);
  coder.SetWriteVBRHeader(s.WriteVBRHeader != 0);
  coder.SetCopyright(s.CopyRight != 0);
  coder.SetOriginal(s.Original != 0);
  coder.SetCRC(s.CRC != 0);
  coder.SetPrivate(s.bPrivate != 0);
}
