// SPDX-License-Identifier: GPL-3.0-or-later
// TCDRIP: the CD component. Everything else reaches the CD library through it.
//
// Create it (it initialises the library and reads the first drive's table of contents), pick
// a drive with SelectDrive, read Tracks / TrackDuration / DiscID; extract with RipTrack
// (events OnBeginTrack, OnProgress, OnEndTrack; CancelRip from an event or the event loop);
// play and eject with the player calls. Failures are ECDRIPError with fixed messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CdRip_dll.h"

class TLameCoder;
class TFlacCoder;
class TCDRIP;
namespace verify {
class TTrackProof;
}

// What the CD library tells beside its statuses, for a program that explains itself.
extern "C" {
// Why the selected drive's last CR_ReadToc found no readable disc ("" when the library knows
// no more: no disc, an open tray). Copies at most size - 1 bytes and a NUL; returns the length.
int32_t CR_GetTocProblem(char* text, int32_t size);
// The file(s) a disc image drive is read from, one a line: for a cue sheet the data file its
// FILE line names (or the one found in its place), for a TOC file its data files, else the
// image itself; "" for a device or an image not yet opened. Copies and returns as above.
int32_t CR_GetImageDataFile(char* path, int32_t size);
}

class ECDRIPError : public std::runtime_error {
 public:
  explicit ECDRIPError(const std::string& message, std::string reason = {})
      : std::runtime_error(message), reason_(std::move(reason)) {}
  // What the system said beside the fixed message, when it said anything: for a "Write
  // error", why the write failed (disk full, file too large).
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// The stream layer's error for an output file that cannot be created; reason says why.
class EFCreateError : public std::runtime_error {
 public:
  EFCreateError(const std::string& fileName, std::string reason);
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// The string list's index error, raised for an entry outside the list.
class EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

struct TTrack {
  int TrackNum = 0;     // 1-based
  int StartSector = 0;  // LSN
  int EndSector = 0;    // LSN, inclusive
  std::string TrackType;  // "Audio" or "Data"
};

// The track list: entry i is "TrackNN" and owns its TTrack.
class TTrackList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const { return at(index).text; }
  TTrack& Objects(int index) const { return *at(index).track; }
  void Add(std::string text, std::unique_ptr<TTrack> track);
  void Clear() { items_.clear(); }

 private:
  struct Entry {
    std::string text;
    std::unique_ptr<TTrack> track;
  };
  const Entry& at(int index) const;
  std::vector<Entry> items_;
};

#pragma pack(push, 1)
// Mirror of parameter record bytes 292..304; writing it changes nothing in the library.
struct TDriveTableClass {
  TDriveType DriveType = GENERIC;
  TReadMethod ReadMethod = READMMC;
  TSetSpeed SetSpeed = SPEEDNONE;
  TEndian Endian = BIGENDIAN;
  TEnableMode EnableMode = ENABLENONE;
  int32_t Density = 0;
  int32_t Atapi = 0;  // 32-bit boolean
};
#pragma pack(pop)
static_assert(sizeof(TDriveTableClass) == 13);

using TProgressEvent = std::function<void(TCDRIP& sender, uint16_t percentComplete)>;
using TProcessTrackEvent = std::function<void(TCDRIP& sender, uint16_t trackNum)>;

// The parameter record shared by every TCDRIP; the library fills it and reads it back.
CDROMPARAMS& CDRipParams();

class TCDRIP {
 public:
  TCDRIP();
  ~TCDRIP();
  TCDRIP(const TCDRIP&) = delete;
  TCDRIP& operator=(const TCDRIP&) = delete;

  // Drive and table of contents.
  int GetNumCDROM() const;
  void SelectDrive(int value);
  int CDRomNum() const { return cdRomNum_; }
  void ApplyJitterCorrect(bool value);
  bool JitterCorrect() const { return jitterCorrect_; }
  void ApplyOutputFormat(TOutputFormat value);
  TOutputFormat OutputFormat() const { return outputFormat_; }
  bool ApplyParameters();
  bool IsAudioTrack(int index) const;
  std::string TrackDuration(int index) const;
  std::string DiscID() const;

  const TTrackList& Tracks() const { return tracks_; }
  int TrackCount() const { return trackCount_; }
  const std::string& DriveName() const { return driveName_; }
  // Lists a disc image as the last drive (once per file); false with the reason when the file
  // is no disc image or cannot be read. The selected drive stays selected.
  bool OpenImage(const std::string& path, std::string* reason);
  // The index of the drive a path leads to, -1 when none is listed.
  int FindDrive(const std::string& path) const;
  // Why the selected drive has no readable disc, when the library knows more than that.
  std::string DiscProblem() const { return libraryText(CR_GetTocProblem); }
  // The file(s) the selected disc image is read from, one a line; empty for a device.
  std::string ImageDataFile() const { return libraryText(CR_GetImageDataFile); }
  // Why the library refused the last extraction or playback, when it knows ("The disc was
  // changed: list it again"); empty otherwise.
  std::string RipperProblem() const { return libraryText(CR_GetRipperProblem); }

  // Extraction.
  void RipTrack(int trackNum, const std::string& fileName);
  void RipSectors(int startSector, int endSector, const std::string& fileName);
  void CancelRip() { cancel_ = true; }
  void AttachCoder(TLameCoder* value);
  TLameCoder* Coder() const { return coder_; }
  // The component's own FLAC coder, used when Encode and EncodeFlac are set: its level and
  // Vorbis comments are those of the next extraction.
  TFlacCoder& FlacCoder() { return *flacCoder_; }
  void UpdateCoder();
  // The file the last extraction put under its name (".mp3" when encoding); empty when it
  // made none: a refused ripper or a file that could not be created. A file of that name that
  // was there before is then not the track's, however fresh it looks.
  const std::string& OutputFileName() const { return outputFileName_; }
  const std::vector<std::string>& JitterLog() const { return jitterLog_; }
  int JitterErrorCount() const { return jitterErrorCount_; }
  // The sectors of the last extraction's range that stayed unread or unverified: the first and
  // the last of them, -1 when there was none.
  int DamagedFirst() const { return damagedFirst_; }
  int DamagedLast() const { return damagedLast_; }
  // How often a drive's sector is retried before it is given up (the settings' [Drive] Retries).
  int ReadRetries = 20;

  // Playback and eject; the library's statuses are returned and not looked at.
  int PlayTrack(int trackNum);
  int StopPlayTrack();
  int PauseCD(bool value);
  int EjectCD(bool value);
  bool IsPlaying();
  int32_t LastPlayPosition() const { return lastPlayPosition_; }

  // Plain fields.
  TDriveTableClass DriveTable;
  bool Encode = false;
  // With Encode: a FLAC file through FlacCoder() (".flac") instead of an MP3 file via Coder.
  bool EncodeFlac = false;
  bool WriteWAV = false;
  // The bytes an MP3 file starts with, before the encoder's frames (its ID3v2 tag): written
  // first, so the tag never makes the finished file be rewritten; the encoder's header frame
  // stays the first audio frame, right after them. Empty: the file starts with the frames.
  std::vector<uint8_t> FileHead;
  // The proof of the next extraction, when set: the sectors it names are read instead of the
  // track's (the read offset's neighbours), every chunk passes through it before it is written
  // or encoded, and its silence ends a track that was not cancelled. The proof's samples are
  // 44.1 kHz stereo: set it only with that output format. Unset, every byte is the drive's.
  verify::TTrackProof* TrackProof = nullptr;
  TProcessTrackEvent OnBeginTrack;
  TProcessTrackEvent OnEndTrack;
  TProgressEvent OnProgress;
  std::string Version;
  int Speed = 0;

 private:
  static std::string libraryText(int32_t (*call)(char*, int32_t)) {
    std::string text(static_cast<size_t>(call(nullptr, 0)) + 1, '\0');
    text.resize(static_cast<size_t>(call(text.data(), static_cast<int32_t>(text.size()))));
    return text;
  }
  void buildTrackList();
  void copyFromRecord();

  TLameCoder* coder_ = nullptr;
  std::unique_ptr<TFlacCoder> flacCoder_;
  int cdRomNum_ = 0;
  TOutputFormat outputFormat_ = STEREO44100;
  bool jitterCorrect_ = false;
  std::string driveName_;
  TTrackList tracks_;
  int trackCount_ = 0;
  std::string outputFileName_;
  std::vector<std::string> jitterLog_;
  int jitterErrorCount_ = 0;
  int damagedFirst_ = -1, damagedLast_ = -1;
  // The library's question during a drive's reads: runs the event loop, then says whether the
  // extraction was cancelled.
  static int32_t AbortAsked(void* self);
  bool cancel_ = false;
  int32_t lastPlayPosition_ = 0;
};

// The values the main window's instance carries in its stored form, applied after
// construction in stored order: drive 0 selected, the drive table, WAV headers on, version
// "115", speed 32; then the coder link once every component exists.
void ApplyStoredRipperValues(TCDRIP& ripper, TLameCoder* coder);

// Text of n's low 16 bits, left-padded with "0" to two characters; never cut.
std::string TwoDigitText(unsigned n);
