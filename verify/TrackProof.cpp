#include "verify/TrackProof.h"

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

}  // namespace verify
