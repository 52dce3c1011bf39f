// What a disc is called: the album values and the names of its tracks, and where they came
// from. Filled from cdplayer.ini, CD-Text or MusicBrainz (names/Resolve.h); read by the file
// names, the tags and "Save CD Information".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace names {

// One track of the table of contents, in disc order.
struct TDiscTrack {
  int number = 0;      // 1..99
  uint32_t start = 0;  // LSN, 75 sectors a second
  bool audio = true;
};

// The disc as the names need it: its tracks, the lead-out, and the key of its cdplayer.ini
// section (TCDRIP::DiscID).
struct TDiscLayout {
  std::vector<TDiscTrack> tracks;
  uint32_t leadOut = 0;  // LSN of the lead-out
  std::string iniKey;
};

// Every vector has one entry per track of the layout (data tracks too), "" when unknown.
struct TAlbumNames {
  std::string AlbumArtist, AlbumTitle, Year, Genre;
  std::vector<std::string> TrackTitles, TrackArtists;
  // MusicBrainz identifiers, for the tags; empty unless the names came from there.
  std::string DiscId;           // the MusicBrainz disc ID of this disc
  std::string ReleaseId;        // MBID of the release
  std::string ReleaseGroupId;   // MBID of its release group, when the answer has it
  std::vector<std::string> AlbumArtistIds;  // one per credited artist, in credit order
  std::vector<std::string> RecordingIds, TrackIds;  // per track of the layout
  std::vector<std::vector<std::string>> TrackArtistIds;

  bool HasTrackNames() const;
};

enum class TNameSource { None, CdPlayerIni, CdText, MusicBrainz };

// "cdplayer.ini", "CD-Text", "MusicBrainz (<release MBID>)" or "none".
std::string SourceText(TNameSource source, const std::string& releaseId);

}  // namespace names
