// SPDX-License-Identifier: GPL-3.0-or-later
// The drive's read offset, corrected by us: a drive with read offset N delivers each sample N
// samples late against the disc's true positions, so a track's true samples are the drive's
// samples [start * 588 + N, start * 588 + N + length). The plan says which sectors to read for
// them (neighbours included, never before sector 0 nor at or past the end of what can be
// read) and where silence stands in for what lies beyond; the shifter applies it to the
// stream of read bytes.
//
// Usage: plan = PlanShift(start, end, offset, readableEnd); read sectors plan.FirstSector ..
// plan.LastSector; TSampleShifter shifter(plan); shifter.Feed(chunk, out) for every chunk;
// shifter.Finish(out) when the read ended normally (a cancelled track is left short).
// `out` then holds exactly the track's samples, offset-corrected.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace verify {

struct TShiftPlan {
  bool Read = false;           // false: nothing readable, the track is all silence
  int FirstSector = 0;         // LSN, inclusive
  int LastSector = -1;         // LSN, inclusive
  uint64_t LeadingSilence = 0; // samples of silence before the first one kept
  uint64_t Skip = 0;           // samples of the first sector read that are dropped
  uint64_t Keep = 0;           // samples kept of what is read
  uint64_t TrailingSilence = 0;
  uint64_t Samples() const { return LeadingSilence + Keep + TrailingSilence; }
};

// startSector, endSector: the track, inclusive. offset: samples, signed. readableStart,
// readableEnd: the first sector that may be read and one past the last (the audio around the
// track: a data track before it or the lead-out of its session bound it).
TShiftPlan PlanShift(int startSector, int endSector, int32_t offset, int readableEnd, int readableStart = 0);

class TSampleShifter {
 public:
  explicit TSampleShifter(const TShiftPlan& plan) : plan_(plan) {}
  // Appends to `out` the kept part of the next read bytes (16-bit stereo PCM, any split), after
  // the leading silence the first time.
  void Feed(std::span<const uint8_t> in, std::vector<uint8_t>& out);
  // Appends the trailing silence, and silence for whatever the reads fell short of.
  void Finish(std::vector<uint8_t>& out);
  uint64_t BytesOut() const { return bytesOut_; }

 private:
  void silence(uint64_t bytes, std::vector<uint8_t>& out);

  TShiftPlan plan_;
  uint64_t bytesIn_ = 0;
  uint64_t bytesOut_ = 0;
  bool started_ = false;
  bool finished_ = false;
};

}  // namespace verify
