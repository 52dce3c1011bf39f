// SPDX-License-Identifier: GPL-3.0-or-later
// The tags of one track, and what the files carry of them: an ID3v2.4 tag (UTF-8) for the head
// of an MP3 file, and the Vorbis comments of a FLAC file. Toolkit-free; every function is pure,
// so an encoder thread may call it on its own.
//
// Usage: fill a TTrackTags (empty text / 0 = nobody knows it: the value is left out), then
// RenderId3v2 for the bytes an MP3 file starts with, or VorbisComments for the FLAC coder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// UTF-8 texts; an empty one, or a number of 0, is a value nobody knows.
struct TTrackTags {
  std::string Title;        // the row's caption
  std::string Artist;       // the track's own artist
  std::string Album;
  std::string AlbumArtist;
  std::string Year;         // as known: "1999" or a full date "1999-03-01"
  std::string Genre;
  int TrackNumber = 0;      // the track's number on the disc, 1-based
  int TrackTotal = 0;       // the disc's audio tracks
  // MusicBrainz identifiers, when the names came from there.
  std::string MusicBrainzTrackId;         // the recording
  std::string MusicBrainzReleaseTrackId;  // the track of the release
  std::string MusicBrainzAlbumId;         // the release
  std::string MusicBrainzArtistId;
  std::string MusicBrainzAlbumArtistId;
  std::string MusicBrainzReleaseGroupId;
  std::string MusicBrainzDiscId;
};

// The tag fields that are known, as (Vorbis comment name, value) in a fixed order: TITLE,
// ARTIST, ALBUM, ALBUMARTIST, DATE, TRACKNUMBER, TRACKTOTAL, GENRE, then the MUSICBRAINZ_*
// identifiers. full false: TITLE alone. Blanks at the ends of the texts are not the value's.
std::vector<std::pair<std::string, std::string>> TagFields(const TTrackTags& tags, bool full = true);

// "NAME=value" lines of a FLAC file's Vorbis comment block, from TagFields.
std::vector<std::string> VorbisComments(const TTrackTags& tags, bool full = true);

// A whole ID3v2.4 tag (header, UTF-8 frames and padding for later edits) for the very start of
// an MP3 file: TIT2, TPE1, TALB, TPE2, TDRC, TRCK "n/N", TCON, the MusicBrainz identifiers as
// TXXX frames and the recording as UFID "http://musicbrainz.org". Never empty: a tag without
// any known value still holds its padding, so a tag editor can fill it in place.
std::vector<uint8_t> RenderId3v2(const TTrackTags& tags);
