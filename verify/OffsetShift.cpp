// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/OffsetShift.h"

#include <algorithm>

#include "verify/Checksums.h"

namespace verify {

TShiftPlan PlanShift(int startSector, int endSector, int32_t offset, int readableEnd, int readableStart) {
  TShiftPlan plan;
  if (endSector < startSector) return plan;
  const int64_t length = (int64_t{endSector} - startSector + 1) * kSamplesPerSector;
  const int64_t first = int64_t{startSector} * kSamplesPerSector + offset;  // true sample 0, on the drive
  const int64_t end = first + length;
  const int64_t lowest = int64_t{std::max(readableStart, 0)} * kSamplesPerSector;
  const int64_t readable = std::max(lowest, int64_t{readableEnd} * kSamplesPerSector);
  const int64_t r0 = std::clamp<int64_t>(first, lowest, readable);
  const int64_t r1 = std::clamp<int64_t>(end, lowest, readable);
  if (r0 >= r1) {
    plan.LeadingSilence = static_cast<uint64_t>(length);
    return plan;
  }
  plan.Read = true;
  plan.LeadingSilence = static_cast<uint64_t>(r0 - first);
  plan.TrailingSilence = static_cast<uint64_t>(end - r1);
  plan.FirstSector = static_cast<int>(r0 / kSamplesPerSector);
  plan.LastSector = static_cast<int>((r1 - 1) / kSamplesPerSector);
  plan.Skip = static_cast<uint64_t>(r0 - int64_t{plan.FirstSector} * kSamplesPerSector);
  plan.Keep = static_cast<uint64_t>(r1 - r0);
  return plan;
}

void TSampleShifter::silence(uint64_t bytes, std::vector<uint8_t>& out) {
  out.insert(out.end(), bytes, 0);
  bytesOut_ += bytes;
}

void TSampleShifter::Feed(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
  if (!started_) {
    started_ = true;
    silence(plan_.LeadingSilence * kBytesPerSample, out);
  }
  const uint64_t from = plan_.Skip * kBytesPerSample;
  const uint64_t to = from + plan_.Keep * kBytesPerSample;
  // The part of [bytesIn_, bytesIn_ + size) that falls in [from, to).
  const uint64_t lo = std::max(bytesIn_, from);
  const uint64_t hi = std::min(bytesIn_ + in.size(), to);
  if (lo < hi) {
    out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(lo - bytesIn_),
               in.begin() + static_cast<std::ptrdiff_t>(hi - bytesIn_));
    bytesOut_ += hi - lo;
  }
  bytesIn_ += in.size();
}

void TSampleShifter::Finish(std::vector<uint8_t>& out) {
  if (finished_) return;
  if (!started_) Feed({}, out);
  finished_ = true;
  // A short read still gives a track of the right length: its missing part is silence, and
  // the read errors say why.
  const uint64_t want = plan_.Samples() * kBytesPerSample;
  if (bytesOut_ < want) silence(want - bytesOut_, out);
}

}  // namespace verify
