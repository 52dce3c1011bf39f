// The MusicBrainz disc ID of a table of contents, from libdiscid.
#pragma once

#include <string>

#include "names/Album.h"

namespace names {

struct TMbDisc {
  bool ok = false;
  std::string id;             // 28 characters
  std::string toc;            // "first+last+leadout+offset1+...", the lookup's toc parameter
  std::string submissionUrl;  // where a user adds the disc to MusicBrainz
  std::string error;          // libdiscid's message when not ok
  int first = 0, last = 0;    // the audio tracks counted
  std::vector<size_t> rows;   // the layout's rows the disc ID counts, in order
};

// The disc ID of the layout's audio session: a data track after the last audio track (an
// Enhanced CD's) is left out, as MusicBrainz does, and the lead-out moves to the end of the
// audio session (the data track's start less the 11400-sector session gap, or its start when
// the layout leaves no such gap, as a disc image may).
TMbDisc DiscIdOf(const TDiscLayout& disc);

// The same from MusicBrainz's own terms: first and last track, offsets with the 150-sector
// lead-in added, offsets[0] the lead-out.
TMbDisc DiscIdFromOffsets(int first, int last, const int* offsets);

}  // namespace names
