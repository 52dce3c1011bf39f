// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/TrackProof.h"

#include <algorithm>
#include <cstring>

namespace verify {

TTrackProof::TTrackProof(int startSector, int endSector, int32_t offset, int readableEnd, bool firstTrack,
                         bool lastTrack, int readableStart)
    : plan_(PlanShift(startSector, endSector, offset, readableEnd, readableStart)),
      shifter_(plan_),
      sums_(plan_.Samples(), firstTrack, lastTrack) {}

std::span<const uint8_t> TTrackProof::Take(std::span<const uint8_t> read) {
  out_.clear();
  shifter_.Feed(read, out_);
  sums_.Feed(out_);
  return out_;
}

std::span<const uint8_t> TTrackProof::Finish() {
  out_.clear();
  shifter_.Finish(out_);
  sums_.Feed(out_);
  return out_;
}

void TTrackProof::countSilence(uint64_t bytes) {
  static const uint8_t zeros[4096] = {};
  for (uint64_t left = bytes; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, sizeof zeros));
    sums_.Feed({zeros, n});
    left -= n;
  }
  inPlaceOut_ += bytes;
}

size_t TTrackProof::TakeInPlace(std::span<uint8_t> chunk) {
  if (!inPlaceStarted_) {
    inPlaceStarted_ = true;
    countSilence(LeadingSilenceBytes());
  }
  // The part of [read, read + size) that falls among the kept bytes.
  const uint64_t from = plan_.Skip * kBytesPerSample;
  const uint64_t to = from + plan_.Keep * kBytesPerSample;
  const uint64_t lo = std::max(inPlaceRead_, from);
  const uint64_t hi = std::min(inPlaceRead_ + chunk.size(), to);
  size_t kept = 0;
  if (lo < hi) {
    kept = static_cast<size_t>(hi - lo);
    std::memmove(chunk.data(), chunk.data() + (lo - inPlaceRead_), kept);
    sums_.Feed(chunk.first(kept));
    inPlaceOut_ += kept;
  }
  inPlaceRead_ += chunk.size();
  return kept;
}

uint64_t TTrackProof::FinishInPlace() {
  if (!inPlaceStarted_) TakeInPlace({});
  const uint64_t want = plan_.Samples() * kBytesPerSample;
  const uint64_t zeros = want > inPlaceOut_ ? want - inPlaceOut_ : 0;
  countSilence(zeros);
  return zeros;
}

}  // namespace verify
