// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_names.h"

#include "app/globals.h"
#include "cdrip/CdText.h"
#include "run/AlbumTags.h"

namespace cli {

names::TDiscLayout LayoutOf(const TCDRIP& ripper) {
  names::TDiscLayout d;
  const int count = ripper.Tracks().Count();
  for (int i = 0; i < count; ++i) {
    const TTrack& t = ripper.Tracks().Objects(i);
    d.tracks.push_back({t.TrackNum, static_cast<uint32_t>(t.StartSector), ripper.IsAudioTrack(i)});
  }
  if (count > 0) d.leadOut = static_cast<uint32_t>(ripper.Tracks().Objects(count - 1).EndSector + 1);
  d.iniKey = ripper.DiscID();
  return d;
}

names::TResolved ResolveDiscNames(const TCDRIP& ripper, const names::TResolveOptions& options) {
  const names::TDiscLayout layout = LayoutOf(ripper);
  int last = 0;
  for (const auto& t : layout.tracks) last = std::max(last, t.number);
  TCdTextInfo text;
  const bool haveText = CR_ReadCdText(last, &text);
  return names::ResolveNames(layout, haveText ? &text : nullptr, options);
}

std::vector<std::string> RowTitles(const TCDRIP& ripper, const names::TResolved& found) {
  std::vector<std::string> titles;
  for (int i = 0; i < ripper.Tracks().Count(); ++i) titles.push_back(ripper.Tracks().Strings(i));
  if (found.source == names::TNameSource::CdPlayerIni) {
    std::string artist, album, year, genre;
    std::vector<std::string> stored;
    if (ReadCDInfo(ripper.DiscID(), artist, album, year, genre, stored))
      for (size_t i = 0; i < stored.size() && i < titles.size(); ++i) titles[i] = stored[i];
    return titles;
  }
  for (size_t i = 0; i < titles.size() && i < found.names.TrackTitles.size(); ++i)
    if (!found.names.TrackTitles[i].empty()) titles[i] = found.names.TrackTitles[i];
  return titles;
}

std::string AlbumLine(const names::TAlbumNames& n) {
  if (n.AlbumArtist.empty() && n.AlbumTitle.empty() && n.Year.empty()) return {};
  std::string line = "Album: " + n.AlbumArtist + " / " + n.AlbumTitle;
  if (!n.Year.empty()) line += " (" + n.Year + ")";
  return line;
}

TTrackTags RowTags(const names::TAlbumNames& n, size_t row) { return AlbumTrackTags(n, row); }

std::vector<std::string> ReleaseNotes(const names::TResolved& found) {
  std::vector<std::string> lines;
  const auto& rel = found.lookup.releases;
  if (found.source != names::TNameSource::MusicBrainz || rel.size() < 2 || found.chosen < 0) return lines;
  lines.push_back("MusicBrainz has " + std::to_string(rel.size()) + " releases of this disc; took " +
                  std::to_string(found.chosen + 1) + " (" + rel[static_cast<size_t>(found.chosen)].id +
                  "); choose another with --release N or --release MBID:");
  for (size_t i = 0; i < rel.size(); ++i) {
    const auto& r = rel[i];
    lines.push_back("  " + std::to_string(i + 1) + ". " + r.artist + " / " + r.title + (r.year.empty() ? "" : " (" + r.year + ")") +
                    (r.country.empty() ? "" : ", " + r.country) + (r.format.empty() ? "" : ", " + r.format) + ", " +
                    std::to_string(r.trackCount) + " tracks" + (r.barcode.empty() ? "" : ", barcode " + r.barcode) + " " +
                    r.id);
  }
  return lines;
}

}  // namespace cli
