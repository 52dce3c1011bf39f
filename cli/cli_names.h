// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip's names: the disc's layout for the names module, the titles of its rows from the
// order of sources, the album line of --list and the tags of a row.
#pragma once

#include <string>
#include <vector>

#include "cdrip/CDRIP.h"
#include "names/Resolve.h"
#include "tags/TrackTags.h"

namespace cli {

// The selected disc as the names module sees it.
names::TDiscLayout LayoutOf(const TCDRIP& ripper);

// The names of the selected disc from cdplayer.ini, CD-Text (read from the drive) and, as
// `options` allow, MusicBrainz.
names::TResolved ResolveDiscNames(const TCDRIP& ripper, const names::TResolveOptions& options);

// The row captions: the names found, the entry text ("TrackNN") where none names a track. A
// cdplayer.ini section names exactly the tracks it holds keys for, as the reader gives them.
std::vector<std::string> RowTitles(const TCDRIP& ripper, const names::TResolved& found);

// "Album: <artist> / <title> (<year>)" with what is known; "" when nothing is.
std::string AlbumLine(const names::TAlbumNames& n);

// The tags the names give a row (the run adds the caption, the number and the total).
TTrackTags RowTags(const names::TAlbumNames& n, size_t row);

// The lines that tell which MusicBrainz release was taken and how to take another; none when
// the answer held one release.
std::vector<std::string> ReleaseNotes(const names::TResolved& found);

}  // namespace cli
