#include "names/Album.h"

namespace names {

bool TAlbumNames::HasTrackNames() const {
  for (const auto& t : TrackTitles)
    if (!t.empty()) return true;
  return false;
}

std::string SourceText(TNameSource source, const std::string& releaseId) {
  switch (source) {
    case TNameSource::CdPlayerIni: return "cdplayer.ini";
    case TNameSource::CdText: return "CD-Text";
    case TNameSource::MusicBrainz: return "MusicBrainz (" + releaseId + ")";
    case TNameSource::None: break;
  }
  return "none";
}

}  // namespace names
