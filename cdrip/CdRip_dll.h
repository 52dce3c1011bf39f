// SPDX-License-Identifier: GPL-3.0-or-later
/* The CD library's C interface: drives, table of contents, digital audio extraction, playback
 * and eject. Only TCDRIP calls it. A status of 1 (CDEX_ERROR) means failure; 3 and 4 have the
 * meanings given at CR_RipChunk; every other value counts as success.
 *
 * Usage: CR_AddDrive() for each disc image or device path to offer, then CR_Init(); select a
 * drive, CR_ReadToc(), and read entries 0..N (N is the lead-out). One extraction at a time:
 * CR_OpenRipper(), CR_RipChunk() until status 4, CR_CloseRipper(). */
#ifndef TESSALY_CDRIP_DLL_H
#define TESSALY_CDRIP_DLL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t CDEX_ERR;
enum {
  CDEX_OK = 0,
  CDEX_ERROR = 1,         /* failure: the step did nothing */
  CDEX_JITTER_ERROR = 3,  /* data valid, paranoia reported a skip or an uncorrected error */
  CDEX_RIPPING_DONE = 4   /* data valid, this was the last chunk of the range */
};

/* 32-bit booleans crossing the interface: 0 false, all bits set true, any non-zero read true. */
#define CR_TRUE ((int32_t)-1)
#define CR_FALSE ((int32_t)0)

#pragma pack(push, 1)
/* The parameter record of one drive; bytes not named pass through untouched. */
typedef struct CDROMPARAMS {
  char lpszCDROMID[256];      /* 0: identification text, NUL-terminated */
  uint8_t reserved0[20];      /* 256 */
  int32_t nSpeed;             /* 276: drive speed factor, 0 = the drive's own choice */
  uint8_t reserved1[4];       /* 280 */
  int32_t bJitterCorrection;  /* 284: 32-bit boolean, paranoia full mode when true */
  uint8_t reserved2[4];       /* 288 */
  uint8_t DriveType;          /* 292: TDriveType ordinal */
  uint8_t ReadMethod;         /* 293: TReadMethod ordinal */
  uint8_t SetSpeed;           /* 294: TSetSpeed ordinal */
  uint8_t Endian;             /* 295: TEndian ordinal */
  uint8_t EnableMode;         /* 296: TEnableMode ordinal */
  int32_t nDensity;           /* 297 */
  int32_t bAtapi;             /* 301: 32-bit boolean */
  uint8_t reserved3[7];       /* 305 */
  uint8_t nOutputFormat;      /* 312: TOutputFormat ordinal; chunks come as 16-bit PCM in it */
  uint8_t reserved4[11];      /* 313 */
} CDROMPARAMS;

/* One table-of-contents entry, returned by value; 8 bytes, the first 6 used. */
typedef struct TOCENTRY {
  uint32_t dwStartSector;  /* 0: start as LSN, 75 sectors a second */
  uint8_t btFlag;          /* 4: 16 audio track, 20 data track */
  uint8_t btTrackNumber;   /* 5: track number, 0xAA for the lead-out */
  uint8_t reserved[2];
} TOCENTRY;
#pragma pack(pop)

#define CR_FLAG_AUDIO 16
#define CR_FLAG_DATA 20

/* Offers a disc image (CUE/BIN, TOC, NRG...) or a device path as a drive, after the drives
 * found on the system. Only before CR_Init; 1 when the path cannot be opened. */
CDEX_ERR CR_AddDrive(const char* path);
/* Offers a disc image as a drive after CR_Init: it is read once, then listed last (a device
 * path is listed as a drive). An image already listed, the same file under any name, is not
 * listed again and gives CDEX_OK. A file that is not a disc image, or cannot be read, gives 1
 * and why in `reason` ("<name> is not a disc image (cue, toc, nrg ...)", or the reader's or
 * the system's reason); copies at most size - 1 bytes and a NUL, "" on success. */
CDEX_ERR CR_OpenImage(const char* path, char* reason, int32_t size);
/* The index of the drive a path leads to (a device by its device number, an image by its
 * file), -1 when none is listed. */
int32_t CR_FindDrive(const char* path);
/* Forgets every drive and every added path, closing what is open; CR_Init may follow again. */
void CR_DeInit(void);

int32_t CR_GetCDRipVersion(void);
CDEX_ERR CR_Init(void);
int32_t CR_GetNumCDROM(void);
int32_t CR_GetActiveCDROM(void);
CDEX_ERR CR_SetActiveCDROM(int32_t index);
CDEX_ERR CR_GetCDROMParameters(CDROMPARAMS* params);
/* Refuses (1) a record whose output format is not one of the six. */
CDEX_ERR CR_SetCDROMParameters(const CDROMPARAMS* params);

/* 1 when the selected drive holds no readable disc (an ejected image included). */
CDEX_ERR CR_ReadToc(void);
int32_t CR_GetNumTocEntries(void);
/* Index N (the number of tracks) gives the lead-out; an index outside 0..N gives zeros. */
TOCENTRY CR_GetTocEntry(int32_t index);

/* Opens the range StartSector..EndSector inclusive; BufferSize is the most bytes one chunk
 * delivers. */
CDEX_ERR CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector);
CDEX_ERR CR_RipChunk(uint8_t* buffer, int32_t* numBytes, int32_t abort);
int32_t CR_GetPercentCompleted(void);
/* first: LSN of the last damaged sector; second: its offset from the range's start, sectors. */
void CR_GetLastJitterErrorPosition(int32_t* first, int32_t* second);
/* Why the last CR_OpenRipper or CR_PlayTrack was refused, when the library knows more than
 * its status: "The disc was changed: list it again" when the drive's disc is no longer the one
 * listed (the listing is then dropped; CR_ReadToc lists the new one). Copies at most size - 1
 * bytes and a NUL; returns the length, 0 when nothing is known. */
int32_t CR_GetRipperProblem(char* text, int32_t size);
/* The number of sectors of the open range that came back unread or unverified so far (each
 * counted once; reads ahead of or beyond the range do not count); first and last: the first
 * and the last of them, -1 when there is none. CR_GetNumberOfJitterErrors gives the same count. */
int32_t CR_GetDamagedSectors(int32_t* first, int32_t* last);
int32_t CR_GetNumberOfJitterErrors(void);
CDEX_ERR CR_CloseRipper(void);

/* How many times a drive's sector is retried before it is given up, left silent and counted
 * as damaged (0..1000; 20 unless set). */
void CR_SetReadRetries(int32_t retries);
/* Called from inside CR_RipChunk (and CR_OpenRipper) while a drive is read and retried,
 * every 40 ms at most, on the caller's thread: the place to run the event loop and hear a
 * cancel. A non-zero result ends the read at once: CR_RipChunk returns 1 with no bytes, the
 * chunk's partial audio is dropped, and every later CR_RipChunk of the range returns 1. Null
 * (the default) asks nothing. */
typedef int32_t (*CR_ABORTCALLBACK)(void* user);
void CR_SetAbortCallback(CR_ABORTCALLBACK callback, void* user);

/* Plays track trackNum (1-based) of the selected drive to the track's end, digitally through
 * the desktop's sound server, from a playback thread of the library; returns at once. 1 for a
 * data track, an absent disc, an open ripper, or no sound server answering (the reason is told
 * once on stderr; a real drive then plays through its analog output if it can). */
CDEX_ERR CR_PlayTrack(int32_t trackNum);
/* Stops at once; the position stays where it was heard last. */
CDEX_ERR CR_StopPlayTrack(void);
/* true pauses at once, false resumes where it paused; 1 when nothing is playing. */
CDEX_ERR CR_PauseCD(int32_t pause);
/* true opens the tray, false closes it where the drive can; either stops playback first. An
 * image's disc is absent while its tray is open. */
CDEX_ERR CR_EjectCD(int32_t eject);
/* first: the track last started (0 before any); second: the absolute position being heard, in
 * audio frames (44100 a second, 588 a sector) from the disc's start, measured from what the
 * sound server has played. It advances while sound plays and stands still while paused, after
 * a stop and at the track's end. */
CDEX_ERR CR_GetPlayPosition(int32_t* first, int32_t* second);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(CDROMPARAMS) == 324);
static_assert(offsetof(CDROMPARAMS, nSpeed) == 276);
static_assert(offsetof(CDROMPARAMS, bJitterCorrection) == 284);
static_assert(offsetof(CDROMPARAMS, DriveType) == 292);
static_assert(offsetof(CDROMPARAMS, EnableMode) == 296);
static_assert(offsetof(CDROMPARAMS, nDensity) == 297);
static_assert(offsetof(CDROMPARAMS, bAtapi) == 301);
static_assert(offsetof(CDROMPARAMS, nOutputFormat) == 312);
static_assert(sizeof(TOCENTRY) == 8);
static_assert(offsetof(TOCENTRY, btFlag) == 4);
static_assert(offsetof(TOCENTRY, btTrackNumber) == 5);

// The enumerations of the parameter record, each stored in one byte.
enum TDriveType : uint8_t {
  GENERIC, TOSHIBA, TOSHIBANEW, IBM, NEC, DEC, IMS, KODAK, RICOH, HP, PHILIPS, PLASMON,
  GRUNDIGCDR100IPW, MITSUMICDR, PLEXTOR, SONY, YAMAHA, NRC, IMSCDD5, CUSTOMDRIVE
};
enum TReadMethod : uint8_t {
  READMMC, READ10, READNEC, READSONY, READMMC2, READMMC3, READC1, READC2, READC3
};
enum TSetSpeed : uint8_t {
  SPEEDNONE, SPEEDMMC, SPEEDSONY, SPEEDYAMAHA, SPEEDTOSHIBA, SPEEDPHILIPS, SPEEDNEC
};
enum TEndian : uint8_t { BIGENDIAN, LITTLEENDIAN };
enum TEnableMode : uint8_t { ENABLENONE, ENABLESTD };
enum TOutputFormat : uint8_t {
  STEREO44100, MONO44100, STEREO22050, MONO22050, STEREO11025, MONO11025
};

// Channel count and sample rate of an output format; a value outside the six counts as
// 44100 Hz stereo, the CD's own.
struct TFormatShape {
  int Channels;
  int SampleRate;
};
constexpr TFormatShape FormatShape(uint8_t format) {
  switch (format) {
    case MONO44100: return {1, 44100};
    case STEREO22050: return {2, 22050};
    case MONO22050: return {1, 22050};
    case STEREO11025: return {2, 11025};
    case MONO11025: return {1, 11025};
    default: return {2, 44100};
  }
}
#endif

#endif
