#include "names/DiscId.h"

#include <discid/discid.h>

#include <memory>

namespace names {
namespace {
struct DiscIdCloser {
  void operator()(DiscId* d) const { discid_free(d); }
};
constexpr int kSessionGap = 11400;  // sectors between an Enhanced CD's audio and data sessions
constexpr int kLeadIn = 150;
}  // namespace

TMbDisc DiscIdFromOffsets(int first, int last, const int* offsets) {
  TMbDisc out;
  std::unique_ptr<DiscId, DiscIdCloser> d(discid_new());
  if (!d) {
    out.error = "libdiscid could not start";
    return out;
  }
  // discid_put reads offsets[0..last]; it takes a mutable array of 100.
  int copy[100] = {};
  for (int i = 0; i <= last && i < 100; ++i) copy[i] = offsets[i];
  if (!discid_put(d.get(), first, last, copy)) {
    out.error = discid_get_error_msg(d.get());
    return out;
  }
  out.ok = true;
  out.first = first;
  out.last = last;
  out.id = discid_get_id(d.get());
  out.toc = discid_get_toc_string(d.get());
  // The TOC string uses blanks; the web service's toc parameter joins with "+".
  for (char& c : out.toc)
    if (c == ' ') c = '+';
  out.submissionUrl = discid_get_submission_url(d.get());
  return out;
}

TMbDisc DiscIdOf(const TDiscLayout& disc) {
  std::vector<size_t> rows;
  for (size_t r = 0; r < disc.tracks.size(); ++r) rows.push_back(r);
  int leadOut = static_cast<int>(disc.leadOut);
  // Trailing data tracks after audio ones: the second session of an Enhanced CD.
  while (rows.size() > 1 && !disc.tracks[rows.back()].audio && disc.tracks[rows[rows.size() - 2]].audio) {
    const int dataStart = static_cast<int>(disc.tracks[rows.back()].start);
    rows.pop_back();
    const int lastAudio = static_cast<int>(disc.tracks[rows.back()].start);
    leadOut = dataStart - kSessionGap > lastAudio ? dataStart - kSessionGap : dataStart;
  }
  TMbDisc out;
  if (rows.empty()) {
    out.error = "the disc has no tracks";
    return out;
  }
  int offsets[100] = {};
  offsets[0] = leadOut + kLeadIn;
  const int first = disc.tracks[rows.front()].number;
  const int last = disc.tracks[rows.back()].number;
  for (size_t r : rows) {
    const int n = disc.tracks[r].number;
    if (n < 1 || n > 99) {
      out.error = "a track number out of range";
      return out;
    }
    offsets[n] = static_cast<int>(disc.tracks[r].start) + kLeadIn;
  }
  out = DiscIdFromOffsets(first, last, offsets);
  out.rows = rows;
  return out;
}

}  // namespace names
