// SPDX-License-Identifier: GPL-3.0-or-later
#include "AlbumTags.h"

TTrackTags AlbumTrackTags(const names::TAlbumNames& n, size_t row) {
  TTrackTags t;
  auto at = [row](const std::vector<std::string>& v) { return row < v.size() ? v[row] : std::string(); };
  t.Artist = at(n.TrackArtists);
  if (t.Artist.empty()) t.Artist = n.AlbumArtist;
  t.Album = n.AlbumTitle;
  t.AlbumArtist = n.AlbumArtist;
  t.Year = n.Year;
  t.Genre = n.Genre;
  t.MusicBrainzTrackId = at(n.RecordingIds);
  t.MusicBrainzReleaseTrackId = at(n.TrackIds);
  t.MusicBrainzAlbumId = n.ReleaseId;
  if (row < n.TrackArtistIds.size() && !n.TrackArtistIds[row].empty()) t.MusicBrainzArtistId = n.TrackArtistIds[row][0];
  if (!n.AlbumArtistIds.empty()) t.MusicBrainzAlbumArtistId = n.AlbumArtistIds[0];
  t.MusicBrainzReleaseGroupId = n.ReleaseGroupId;
  t.MusicBrainzDiscId = n.DiscId;
  return t;
}
