// SPDX-License-Identifier: GPL-3.0-or-later
// The proof of a whole disc's rip, for the run that rips it: the disc's identifiers, the
// database's answer (asked on a thread of its own while the tracks are read), a TTrackProof
// per track with the right neighbours and edges, each track's verdict and its log row.
//
// Usage (a few lines at each hook of a run):
//   TDiscProof disc(TocOf(ripper), offset);  disc.StartLookUp(AccurateRipServer());
//   per track: auto proof = disc.TrackProof(number); read proof's sectors through proof.Take;
//              log.AddTrack(disc.Row(number, proof.Sums(), file, status, errors, jitter));
//              print log.Tracks().back().Verification.Text();
//   at the end: log.Lookup = disc.Lookup(); log.Write(...)
#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "verify/AccurateRip.h"
#include "verify/RipLog.h"
#include "verify/TrackProof.h"

namespace verify {

class TDiscProof {
 public:
  // toc: every track of the disc, data tracks included, in order. offset: the drive's read
  // offset in samples (0 for an image unless the user gave one).
  TDiscProof(std::vector<TTocTrack> toc, int32_t offset);
  ~TDiscProof();
  TDiscProof(const TDiscProof&) = delete;
  TDiscProof& operator=(const TDiscProof&) = delete;

  const std::vector<TTocTrack>& Toc() const { return toc_; }
  const TArDiscIds& Ids() const { return ids_; }
  int32_t Offset() const { return offset_; }

  // Asks the database on a thread of its own; Lookup() waits for the answer. Without a
  // StartLookUp, Lookup() is "not asked".
  void StartLookUp(std::string server, std::chrono::milliseconds timeout = std::chrono::milliseconds(15000));
  const TArLookup& Lookup();
  // Whether Lookup() would return at once (no look-up under way, or its answer is in).
  bool LookUpDone() const {
    return !pending_.valid() || pending_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  // Ends a look-up under way at once (a cancelled run); Lookup() then says so.
  void CancelLookUp() { cancel_ = true; }

  // The proof for reading audio track `number` (1-based, as on the disc): its neighbours are
  // the audio tracks around it; a data track or the disc's edge gives silence.
  TTrackProof TrackProof(int number) const;
  // The track's place among the disc's audio tracks, 1-based; 0 for a data track.
  int AudioOrdinal(int number) const;
  // The verdict for a track's checksums (waits for the answer).
  TArVerdict Verdict(int number, const TTrackChecksums& sums);
  // A log row for a track ripped: the checksums, the verdict, what reading it met.
  // samplesConverted: the file holds samples the CD library converted (mono, another rate), so
  // the AccurateRip sums of the disc's samples are not known.
  TRipLogTrack Row(int number, const TTrackChecksums& sums, const std::string& fileName, const std::string& status,
                   int readErrors, const std::vector<std::string>& jitterLines, bool samplesConverted = false);

 private:
  const TTocTrack& track(int number) const;

  std::vector<TTocTrack> toc_;
  TArDiscIds ids_;
  int32_t offset_;
  std::atomic<bool> cancel_{false};
  std::future<TArLookup> pending_;
  TArLookup lookup_;
};

}  // namespace verify
