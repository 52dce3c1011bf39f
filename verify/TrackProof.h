// SPDX-License-Identifier: GPL-3.0-or-later
// One track's proof, for the extraction loop: the read offset's shift and the checksums
// together, so the loop asks for the sectors the proof names, hands it every chunk it reads,
// and writes (or encodes) what comes back. The checksums are then those of the samples
// written, offset-corrected, and no sector is read twice.
//
// Usage:
//   TTrackProof proof(track.StartSector, track.EndSector, offset, readableEnd, first, last);
//   CR_OpenRipper(&size, proof.FirstSector(), proof.LastSector());     (when proof.Reads())
//   for each chunk: write(proof.Take({buffer, numBytes}));
//   at a normal end: write(proof.Finish());   (not after a cancel: the track stays short)
//   proof.Sums().Crc32() / ArV1() / ArV2() / Peak() / Complete()
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "verify/Checksums.h"
#include "verify/OffsetShift.h"

namespace verify {

class TTrackProof {
 public:
  // startSector, endSector: the track, inclusive. offset: the drive's read offset in samples.
  // readableEnd: one past the last sector of the track's session that may be read;
  // readableStart: the first (after a data track). firstTrack/lastTrack: the disc's first or
  // last audio track.
  TTrackProof(int startSector, int endSector, int32_t offset, int readableEnd, bool firstTrack, bool lastTrack,
              int readableStart = 0);

  // Whether anything is to be read at all (an offset larger than the disc reads nothing).
  bool Reads() const { return plan_.Read; }
  int FirstSector() const { return plan_.FirstSector; }
  int LastSector() const { return plan_.LastSector; }
  const TShiftPlan& Plan() const { return plan_; }

  // The track's samples in the chunk just read (valid until the next call).
  std::span<const uint8_t> Take(std::span<const uint8_t> read);
  // The silence that ends the track where the disc ended (and whatever a short read lacked).
  std::span<const uint8_t> Finish();

  // The same for a loop that reads into fixed buffers and cannot grow a chunk (use one way or
  // the other for a track, never both). Before the first read the loop emits
  // LeadingSilenceBytes() of zeros; each chunk read is shifted in place (the track's bytes
  // moved to its front, their count returned); at a normal end FinishInPlace() gives the
  // zeros to emit after the last chunk. The sums count the silence as they count the rest.
  uint64_t LeadingSilenceBytes() const { return plan_.LeadingSilence * kBytesPerSample; }
  size_t TakeInPlace(std::span<uint8_t> chunk);
  uint64_t FinishInPlace();

  const TTrackChecksums& Sums() const { return sums_; }

 private:
  void countSilence(uint64_t bytes);

  TShiftPlan plan_;
  TSampleShifter shifter_;
  TTrackChecksums sums_;
  std::vector<uint8_t> out_;
  uint64_t inPlaceRead_ = 0;     // bytes read so far, in place
  uint64_t inPlaceOut_ = 0;      // bytes the track has had, silence included
  bool inPlaceStarted_ = false;
};

}  // namespace verify
