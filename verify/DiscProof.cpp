// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/DiscProof.h"

#include <stdexcept>

namespace verify {

TDiscProof::TDiscProof(std::vector<TTocTrack> toc, int32_t offset)
    : toc_(std::move(toc)), ids_(ArDiscIds(toc_)), offset_(offset) {}

TDiscProof::~TDiscProof() {
  // A look-up still under way ends now rather than holding the run's end up.
  cancel_ = true;
  if (pending_.valid()) pending_.wait();
}

void TDiscProof::StartLookUp(std::string server, std::chrono::milliseconds timeout) {
  if (pending_.valid() || ids_.AudioTracks == 0) return;
  pending_ = std::async(std::launch::async, [this, server = std::move(server), timeout] {
    return ArLookup(server, ids_, timeout, &cancel_);
  });
}

const TArLookup& TDiscProof::Lookup() {
  if (pending_.valid()) lookup_ = pending_.get();
  return lookup_;
}

const TTocTrack& TDiscProof::track(int number) const {
  for (const TTocTrack& t : toc_)
    if (t.Number == number) return t;
  throw std::out_of_range("no track " + std::to_string(number) + " on the disc");
}

int TDiscProof::AudioOrdinal(int number) const {
  int ordinal = 0;
  for (const TTocTrack& t : toc_) {
    if (t.Audio) ++ordinal;
    if (t.Number == number) return t.Audio ? ordinal : 0;
  }
  return 0;
}

TTrackProof TDiscProof::TrackProof(int number) const {
  const TTocTrack& t = track(number);
  // The run of audio tracks around this one bounds what may be read: never into a data track
  // or past the lead-out of the audio session.
  size_t i = static_cast<size_t>(&t - toc_.data());
  size_t lo = i, hi = i;
  while (lo > 0 && toc_[lo - 1].Audio) --lo;
  while (hi + 1 < toc_.size() && toc_[hi + 1].Audio) ++hi;
  const int ordinal = AudioOrdinal(number);
  return verify::TTrackProof(t.StartSector, t.EndSector, offset_, toc_[hi].EndSector + 1, ordinal == 1,
                             ordinal == ids_.AudioTracks, toc_[lo].StartSector);
}

TArVerdict TDiscProof::Verdict(int number, const TTrackChecksums& sums) {
  return ArVerdict(Lookup(), AudioOrdinal(number), sums.ArV1(), sums.ArV2(), sums.Complete());
}

TRipLogTrack TDiscProof::Row(int number, const TTrackChecksums& sums, const std::string& fileName,
                             const std::string& status, int readErrors, const std::vector<std::string>& jitterLines,
                             bool samplesConverted) {
  TRipLogTrack row;
  row.Number = number;
  row.FileName = fileName;
  row.Status = status;
  row.Peak = sums.Peak();
  row.ChecksumsKnown = sums.SamplesFed() > 0;
  row.ArKnown = !samplesConverted;
  row.Crc32 = sums.Crc32();
  row.ArV1 = sums.ArV1();
  row.ArV2 = sums.ArV2();
  if (samplesConverted) {
    row.Verification.Reason = "the samples were converted before they were written";
  } else {
    row.Verification = Verdict(number, sums);
  }
  row.ReadErrors = readErrors;
  row.JitterLines = jitterLines;
  return row;
}

}  // namespace verify
