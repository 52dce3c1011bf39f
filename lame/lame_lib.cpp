// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder library over libmp3lame: the be* calls of Lame_dll.h. Each stream is one
// lame_global_flags; handles are small numbers into a table.
#include <lame/lame.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "Lame_dll.h"

namespace {

struct Stream {
  lame_t lame = nullptr;
  int channels = 2;
  uint32_t samples = 0;
};

std::map<HBE_STREAM, Stream>& streams() {
  static std::map<HBE_STREAM, Stream> s;
  return s;
}
HBE_STREAM g_nextHandle = 1;

constexpr uint32_t kFrameSamples = 1152;  // per channel, MPEG 1 layer III
// lame's own advice for the output area of one call: 1.25 x samples + 7200 bytes.
constexpr uint32_t kOutputBytes = kFrameSamples * 5 / 4 + 7200;

Stream* find(HBE_STREAM h) {
  auto it = streams().find(h);
  return it == streams().end() ? nullptr : &it->second;
}

int lameQuality(int32_t quality) {
  switch (quality) {
    case LOW_QUALITY: return 7;
    case HIGH_QUALITY: return 2;
    case NORMAL_QUALITY:
    case VOICE_QUALITY:
    default: return 5;
  }
}

MPEG_mode lameMode(int32_t mode) {
  switch (mode) {
    case 1: return JOINT_STEREO;
    case 2: return DUAL_CHANNEL;
    case 3: return MONO;
    default: return STEREO;
  }
}

}  // namespace

extern "C" {

void beVersion(BE_VERSION* version) {
  if (!version) return;
  std::memset(version, 0, sizeof *version);
  lame_version_t v{};
  get_lame_version_numerical(&v);
  version->byDLLMajorVersion = 1;
  version->byDLLMinorVersion = 0;
  version->byMajorVersion = static_cast<uint8_t>(v.major);
  version->byMinorVersion = static_cast<uint8_t>(v.minor);
}

BE_ERR beInitStream(const BE_CONFIG* c, uint32_t* samples, uint32_t* bufferSize, HBE_STREAM* stream) {
  if (!c || !samples || !bufferSize || !stream) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  if (c->dwConfig != BE_CONFIG_LAME || c->dwSampleRate == 0) return BE_ERR_INVALID_FORMAT;
  Stream s;
  s.channels = c->dwInChannels == 1 ? 1 : 2;
  s.lame = lame_init();
  if (!s.lame) return BE_ERR_NO_MORE_HANDLES;
  lame_t l = s.lame;
  lame_set_in_samplerate(l, static_cast<int>(c->dwSampleRate));
  lame_set_num_channels(l, s.channels);
  lame_set_out_samplerate(l, static_cast<int>(c->dwReSampleRate ? c->dwReSampleRate : c->dwSampleRate));
  lame_set_mode(l, lameMode(c->nMode));
  lame_set_quality(l, lameQuality(c->nQuality));
  lame_set_extension(l, c->bPrivate != 0);
  lame_set_error_protection(l, c->bCRC != 0);
  lame_set_copyright(l, c->bCopyright != 0);
  lame_set_original(l, c->bOriginal != 0);
  lame_set_bWriteVbrTag(l, c->bWriteVBRHeader != 0);
  if (c->bEnableVBR) {
    lame_set_VBR(l, vbr_default);
    lame_set_VBR_q(l, std::clamp(c->nVBRQuality, 0, 9));
    lame_set_VBR_min_bitrate_kbps(l, static_cast<int>(c->dwBitrate));
    lame_set_VBR_max_bitrate_kbps(l, static_cast<int>(c->dwMaxBitrate));
  } else {
    lame_set_VBR(l, vbr_off);
    lame_set_brate(l, static_cast<int>(c->dwBitrate));
  }
  if (lame_init_params(l) < 0) {
    lame_close(l);
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  }
  s.samples = kFrameSamples * static_cast<uint32_t>(s.channels);
  const HBE_STREAM h = g_nextHandle++;
  streams()[h] = s;
  *samples = s.samples;
  *bufferSize = kOutputBytes;
  *stream = h;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM h, uint32_t numSamples, const int16_t* input, uint8_t* output, uint32_t* outBytes) {
  if (outBytes) *outBytes = 0;
  Stream* s = find(h);
  if (!s) return BE_ERR_INVALID_HANDLE;
  if (!input || !output || !outBytes || numSamples > s->samples) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const int frames = static_cast<int>(numSamples) / s->channels;
  int n;
  if (s->channels == 2)
    n = lame_encode_buffer_interleaved(s->lame, const_cast<short*>(input), frames, output, static_cast<int>(kOutputBytes));
  else
    n = lame_encode_buffer(s->lame, input, input, frames, output, static_cast<int>(kOutputBytes));
  if (n < 0) return n == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
  *outBytes = static_cast<uint32_t>(n);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM h, uint8_t* output, uint32_t* outBytes) {
  if (outBytes) *outBytes = 0;
  Stream* s = find(h);
  if (!s) return BE_ERR_INVALID_HANDLE;
  if (!output || !outBytes) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const int n = lame_encode_flush(s->lame, output, static_cast<int>(kOutputBytes));
  if (n < 0) return BE_ERR_BUFFER_TOO_SMALL;
  *outBytes = static_cast<uint32_t>(n);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beGetInfoTag(HBE_STREAM h, uint8_t* output, uint32_t bufferSize, uint32_t* outBytes) {
  if (outBytes) *outBytes = 0;
  Stream* s = find(h);
  if (!s) return BE_ERR_INVALID_HANDLE;
  if (!output || !outBytes) return BE_ERR_INVALID_FORMAT_PARAMETERS;
  if (!lame_get_bWriteVbrTag(s->lame)) return BE_ERR_SUCCESSFUL;
  const size_t n = lame_get_lametag_frame(s->lame, output, bufferSize);
  if (n > bufferSize) return BE_ERR_BUFFER_TOO_SMALL;
  *outBytes = static_cast<uint32_t>(n);
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM h) {
  auto it = streams().find(h);
  if (it == streams().end()) return BE_ERR_INVALID_HANDLE;
  lame_close(it->second.lame);
  streams().erase(it);
  return BE_ERR_SUCCESSFUL;
}

}  // extern "C"
