#include "names/Resolve.h"

#include "app/globals.h"
#include "names/CdTextNames.h"
#include "platform/profile.h"

namespace names {

bool NamesFromCdPlayerIni(const TDiscLayout& disc, TAlbumNames& out) {
  out = TAlbumNames{};
  const auto section = platform::ReadProfileSection(CDPlayerIniPath(), disc.iniKey);
  bool exists = false;
  if (section)
    for (const auto& e : *section) exists = exists || !e.second.empty();
  if (!exists) return false;
  std::string artist, title, year, genre;
  std::vector<std::string> tracks;
  ReadCDInfo(disc.iniKey, artist, title, year, genre, tracks);
  // The album values as stored, without the reader's "No Title" defaults.
  const TStoredAlbum stored = ReadStoredAlbum(disc.iniKey);
  out.AlbumArtist = stored.Artist;
  out.AlbumTitle = stored.Album;
  out.Year = stored.Year;
  out.Genre = stored.Genre;
  out.TrackTitles.assign(disc.tracks.size(), {});
  out.TrackArtists.assign(disc.tracks.size(), {});
  for (size_t i = 0; i < tracks.size() && i < disc.tracks.size(); ++i) out.TrackTitles[i] = tracks[i];
  return true;
}

TResolved ResolveNames(const TDiscLayout& disc, const TCdTextInfo* cdText, const TResolveOptions& options) {
  TResolved r;
  r.names.TrackTitles.assign(disc.tracks.size(), {});
  r.names.TrackArtists.assign(disc.tracks.size(), {});
  TAlbumNames found;
  if (NamesFromCdPlayerIni(disc, found)) {
    r.names = found;
    r.source = TNameSource::CdPlayerIni;
  } else if (cdText && NamesFromCdText(*cdText, disc, found)) {
    r.names = found;
    r.source = TNameSource::CdText;
  }
  const bool ask = options.lookup == TLookupMode::Always ||
                   (options.lookup == TLookupMode::WhenUnnamed && r.source == TNameSource::None);
  if (ask) {
    r.lookedUp = true;
    r.lookup = LookUp(disc, options.service);
    if (r.lookup.status == TLookupStatus::Found) {
      r.chosen = ChooseRelease(r.lookup.releases, options.release);
      if (r.chosen < 0) {
        r.notes.push_back("There is no release '" + options.release + "' among the " +
                          std::to_string(r.lookup.releases.size()) + " MusicBrainz found");
      } else {
        const TRelease& rel = r.lookup.releases[static_cast<size_t>(r.chosen)];
        r.names = rel.names;
        r.source = TNameSource::MusicBrainz;
      }
    } else {
      r.notes.push_back(r.lookup.message);
    }
  } else if (!options.release.empty()) {
    r.notes.push_back("--release has no effect: MusicBrainz was not asked");
  }
  r.sourceText = SourceText(r.source, r.names.ReleaseId);
  return r;
}

bool SaveNames(const std::string& iniKey, const TAlbumNames& names, const std::vector<std::string>& titles) {
  const TStoredAlbum stored = ReadStoredAlbum(iniKey);
  auto keep = [](const std::string& known, const std::string& old) { return known.empty() ? old : known; };
  const std::string album = keep(names.AlbumTitle, stored.Album);
  std::vector<std::pair<std::string, std::string>> keys{{"artist", keep(names.AlbumArtist, stored.Artist)},
                                                        {"album", album},
                                                        {"title", album},
                                                        {"year", keep(names.Year, stored.Year)},
                                                        {"genre", keep(names.Genre, stored.Genre)}};
  for (size_t i = 0; i < titles.size(); ++i) keys.emplace_back(std::to_string(i), titles[i]);
  std::error_code ec;
  std::filesystem::create_directories(CDPlayerIniPath().parent_path(), ec);
  return platform::WriteProfileStrings(CDPlayerIniPath(), iniKey, keys);
}

}  // namespace names
