// SPDX-License-Identifier: GPL-3.0-or-later
/* The encoder library's C interface: MP3 encoding of 16-bit PCM blocks over libmp3lame.
 * Only TLameCoder calls it. A result of 0 (BE_ERR_SUCCESSFUL) means success.
 *
 * Usage: beInitStream() with a configuration record; beEncodeChunk() with Samples values at a
 * time (the last block may hold fewer); beDeinitStream() for the flush; beGetInfoTag() for the
 * final header frame, to be written over the stream's first frame; beCloseStream(). */
#ifndef TESSALY_LAME_DLL_H
#define TESSALY_LAME_DLL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t BE_ERR;
typedef uint32_t HBE_STREAM;

enum {
  BE_ERR_SUCCESSFUL = 0,
  BE_ERR_INVALID_FORMAT = 1,
  BE_ERR_INVALID_FORMAT_PARAMETERS = 2,
  BE_ERR_NO_MORE_HANDLES = 3,
  BE_ERR_INVALID_HANDLE = 4,
  BE_ERR_BUFFER_TOO_SMALL = 5
};

#define BE_CONFIG_LAME 256

#pragma pack(push, 1)
/* The configuration record, 331 bytes, no gaps. */
typedef struct BE_CONFIG {
  uint32_t dwConfig;        /* 0: 256, configuration kind LAME */
  uint32_t dwStructVersion; /* 4: 1 */
  uint32_t dwStructSize;    /* 8: 331 */
  uint32_t dwSampleRate;    /* 12: input sample rate, Hz */
  uint32_t dwReSampleRate;  /* 16: MP3 sample rate, Hz; 0 = the input's */
  int32_t nMode;            /* 20: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono */
  uint32_t dwBitrate;       /* 24: kbit/s; the minimum with VBR */
  uint32_t dwMaxBitrate;    /* 28: kbit/s, VBR maximum */
  int32_t nQuality;         /* 32: MPEG_QUALITY ordinal */
  uint32_t dwMpegVersion;   /* 36: 1, MPEG version 1 */
  uint32_t dwPsyModel;      /* 40: 0 */
  uint32_t dwEmphasis;      /* 44: 0 */
  int32_t bPrivate;         /* 48: 32-bit booleans from here: 0 false, -1 true */
  int32_t bCRC;             /* 52 */
  int32_t bCopyright;       /* 56 */
  int32_t bOriginal;        /* 60 */
  int32_t bWriteVBRHeader;  /* 64 */
  int32_t bEnableVBR;       /* 68 */
  int32_t nVBRQuality;      /* 72: 0 best .. 9 */
  uint32_t dwInChannels;    /* 76: input channels when the input is mono (1); 0 = two */
  uint8_t btReserved[251];  /* 80: all 0 */
} BE_CONFIG;

/* The version record, 268 bytes; the first four are read. */
typedef struct BE_VERSION {
  uint8_t byDLLMajorVersion;  /* this library */
  uint8_t byDLLMinorVersion;
  uint8_t byMajorVersion;     /* libmp3lame */
  uint8_t byMinorVersion;
  uint8_t btReserved[264];
} BE_VERSION;
#pragma pack(pop)

void beVersion(BE_VERSION* version);
BE_ERR beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize,
                    HBE_STREAM* stream);
/* numSamples 16-bit values (interleaved when stereo), at most the stream's Samples. */
BE_ERR beEncodeChunk(HBE_STREAM stream, uint32_t numSamples, const int16_t* input,
                     uint8_t* output, uint32_t* outBytes);
BE_ERR beDeinitStream(HBE_STREAM stream, uint8_t* output, uint32_t* outBytes);
/* After beDeinitStream: the final header (LAME tag) frame, which replaces the placeholder
 * frame at the start of the stream; 0 bytes when the stream writes no header. */
BE_ERR beGetInfoTag(HBE_STREAM stream, uint8_t* output, uint32_t bufferSize, uint32_t* outBytes);
BE_ERR beCloseStream(HBE_STREAM stream);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(BE_CONFIG) == 331);
static_assert(offsetof(BE_CONFIG, dwSampleRate) == 12);
static_assert(offsetof(BE_CONFIG, nMode) == 20);
static_assert(offsetof(BE_CONFIG, nQuality) == 32);
static_assert(offsetof(BE_CONFIG, bPrivate) == 48);
static_assert(offsetof(BE_CONFIG, nVBRQuality) == 72);
static_assert(offsetof(BE_CONFIG, dwInChannels) == 76);
static_assert(sizeof(BE_VERSION) == 268);

// The encoder's quality choices, a byte in the coder.
enum MPEG_QUALITY : uint8_t { NORMAL_QUALITY, LOW_QUALITY, HIGH_QUALITY, VOICE_QUALITY };
#endif

#endif
