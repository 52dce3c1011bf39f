// Where a disc's names come from, in order: its cdplayer.ini section decides when it exists
// (the user's own names win); else CD-Text; else MusicBrainz, when looking up is allowed. A
// forced look-up asks MusicBrainz even when the disc has names, and its release replaces them.
// Also the save of what was found, keeping what the section held that is not known here.
#pragma once

#include <string>
#include <vector>

#include "cdrip/CdText.h"
#include "names/Album.h"
#include "names/MusicBrainz.h"

namespace names {

enum class TLookupMode { Never, WhenUnnamed, Always };

struct TResolveOptions {
  TLookupMode lookup = TLookupMode::WhenUnnamed;
  std::string release;  // --release: "", "N" or an MBID
  TLookupOptions service;
};

struct TResolved {
  TAlbumNames names;  // one entry per layout row; titles "" where nothing names the track
  TNameSource source = TNameSource::None;
  std::string sourceText;  // SourceText(source, release)
  bool lookedUp = false;   // MusicBrainz was asked
  TLookupResult lookup;    // its result when asked
  int chosen = -1;         // the release taken, in lookup.releases
  std::vector<std::string> notes;  // lines for the user (what happened, how to choose another)
};

// The names cdplayer.ini's section gives; false when the disc has no section.
bool NamesFromCdPlayerIni(const TDiscLayout& disc, TAlbumNames& out);

// The order of sources above. `cdText` may be null (no CD-Text read).
TResolved ResolveNames(const TDiscLayout& disc, const TCdTextInfo* cdText, const TResolveOptions& options);

// Writes the names to the disc's section in one replacement of cdplayer.ini: the album values
// (also as "title", the key readers take) and one key per track; an album value not known here
// keeps the one the section holds. False when the file cannot be written.
bool SaveNames(const std::string& iniKey, const TAlbumNames& names, const std::vector<std::string>& titles);

}  // namespace names
