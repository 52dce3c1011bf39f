// SPDX-License-Identifier: GPL-3.0-or-later
// The tags a disc's names give one of its tracks, for every front end that rips it.
// Toolkit-free.
#pragma once

#include <cstddef>

#include "names/Album.h"
#include "tags/TrackTags.h"

// The values the names know for the track at trackIndex (zero-based, data tracks counted):
// its artist (the album artist when it has none of its own), the album values and the
// MusicBrainz identifiers. The run adds the title (the row's caption), the number and the total.
TTrackTags AlbumTrackTags(const names::TAlbumNames& n, size_t trackIndex);
