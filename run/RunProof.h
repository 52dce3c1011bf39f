// The proof and the rip log of one extraction run, for every run that rips a disc (one track at
// a time, or on several cores): the disc's proof and its look-up, each track's proof, the log's
// rows in row order, and the log written beside the files at the end. Toolkit-free.
//
// Usage: Start before the first row; per row TrackProof (read its sectors through it), then
// AddRow once the row's status is known (or an error ended its track), and Verification for the
// host; at the end Finish before the end steps, and the host's RunSummary when LogName() is
// set.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/ExtractionRun.h"
#include "verify/DiscProof.h"
#include "verify/RipLog.h"

class TCDRIP;

class TRunProof {
 public:
  // The disc's proof; with MoreSettings.RipLog the look-up is started and the log's head filled.
  // The host is asked for its Cancel while the run waits for the look-up's answer.
  void Start(const TExtractionHost& host, const TCDRIP& ripper, TRunOutput output, int32_t offset, bool offsetKnown,
             bool image);
  bool LogOn() const { return logOn_; }

  // Whether the ripper's samples are converted before they are seen (another rate, mono): the
  // proof reads 44.1 kHz stereo samples only.
  static bool Converted(const TCDRIP& ripper);
  // The proof for reading the track at trackIndex (zero-based), or none: converted samples,
  // neither an offset nor the log, a data track.
  std::optional<verify::TTrackProof> TrackProof(const TCDRIP& ripper, int trackIndex) const;

  // A log row for the track at trackIndex, whatever ended it (nothing with the log off). The
  // row's verdict needs the look-up's answer: it is waited for with the front end's events
  // going on (a window repaints, a Cancel ends the wait).
  // proof: the one its samples went through, or null.
  void AddRow(const TCDRIP& ripper, int trackIndex, const verify::TTrackProof* proof, const std::string& fileName,
              const std::string& status, int readErrors, const std::vector<std::string>& jitterLines);
  // The verification of the last row added.
  std::string Verification() const;

  // At the run's end: the look-up's answer and the log, written beside the files when there is
  // something to prove. Raises std::runtime_error when the log cannot be written.
  void Finish(const TExtractionHost& host, const std::string& outDir, bool failed, const std::string& error);

  const verify::TRipLog& Log() const { return log_; }
  // Waits for the look-up's answer, the front end's events going on; a Cancel ends the wait.
  void WaitForLookUp();
  const std::string& LogName() const { return logName_; }  // "" when no log was written

 private:
  std::unique_ptr<verify::TDiscProof> disc_;
  const TExtractionHost* host_ = nullptr;
  verify::TRipLog log_;
  std::string logName_;
  std::string album_;
  std::string discId_;
  int32_t offset_ = 0;
  bool logOn_ = false;
};
