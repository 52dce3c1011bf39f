// SPDX-License-Identifier: GPL-3.0-or-later
// The rip log: one UTF-8 text per run beside the files, saying what was read, how, and what
// proves each track exact. The run fills it row by row; Text() is what Write puts, atomically,
// under the log's name.
//
// Usage: TRipLog log; fill the disc fields; log.Toc = ...; for each track ripped,
// log.AddTrack(row) (a row's Verification may be filled in later by TrackAt); SetCancelled()
// when the user cancelled; AddError() for an error that ended the run; then Write(name).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "verify/AccurateRip.h"

namespace verify {

struct TRipLogTrack {
  int Number = 0;             // on the disc, 1-based
  std::string FileName;       // the file written
  std::string Status;         // "OK", "Cancelled", or what went wrong
  uint32_t Peak = 0;          // largest sample magnitude, 0..32768
  bool ChecksumsKnown = false;  // false: the track's samples were not seen whole
  bool ArKnown = false;         // false: the samples were converted before they were seen
  uint32_t Crc32 = 0;
  uint32_t ArV1 = 0;
  uint32_t ArV2 = 0;
  TArVerdict Verification;
  int ReadErrors = 0;                    // the CD library's count of read errors
  std::vector<std::string> JitterLines;  // "first second" of each damaged chunk
};

class TRipLog {
 public:
  std::string Program = "Tessaly";
  std::string Version = TESSALY_VERSION;
  std::string Date;          // UTC, ISO 8601; Now() when left empty
  std::string DriveName;
  int32_t ReadOffset = 0;    // samples
  bool OffsetKnown = true;   // false: 0 because nobody set the drive's offset
  bool Image = false;        // a disc image: read as it is, no paranoia
  std::vector<TTocTrack> Toc;
  std::string DiscId;        // the disc's ID as the album file names it
  std::string NamesSource;   // where the titles came from ("cdplayer.ini", "MusicBrainz", "none")
  std::string OutputFormat;  // "WAV", "MP3", "FLAC"...
  std::string OutputSettings;  // e.g. "128 kbit/s, joint stereo"
  TArLookup Lookup;          // the database's answer for the disc

  void AddTrack(TRipLogTrack track) { tracks_.push_back(std::move(track)); }
  TRipLogTrack& TrackAt(size_t i) { return tracks_.at(i); }
  const std::vector<TRipLogTrack>& Tracks() const { return tracks_; }
  void SetCancelled() { cancelled_ = true; }
  void AddError(std::string text) { errors_.push_back(std::move(text)); }

  // "All tracks accurately ripped", or one line per fault: "Errors occurred", "N tracks could
  // not be verified", and "The run was cancelled".
  std::vector<std::string> Summary() const;
  // The line the window's status line and tessaly-rip's last line show: the summary joined.
  std::string SummaryLine() const;
  std::string Text() const;
  // Writes Text() under `name`, replacing any file there atomically; platform::OutputFileError
  // or std::runtime_error when it cannot.
  void Write(const std::string& name) const;

  static std::string Now();

 private:
  std::vector<TRipLogTrack> tracks_;
  std::vector<std::string> errors_;
  bool cancelled_ = false;
};

// The log's file name: the output folder and the album title (the disc ID when there is none),
// by the rules the output files' names follow, with ".log".
std::string RipLogFileName(const std::string& outDir, const std::string& albumTitle, const std::string& discId);

// Sectors as the TOC shows them: "mm:ss.ff" (75 frames a second).
std::string SectorTime(int64_t sectors);

}  // namespace verify
