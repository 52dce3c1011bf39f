// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrackTags.h"

#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/uniquefileidentifierframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/tstring.h>

namespace {

std::string trimmed(const std::string& s) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Never from const char*: TagLib would read the bytes as Latin-1.
TagLib::String utf8(const std::string& s) { return TagLib::String(s, TagLib::String::UTF8); }

// The TXXX descriptions of the MusicBrainz identifiers, as the MusicBrainz tagger writes them.
const char* musicBrainzTxxx(const std::string& name) {
  static const std::pair<const char*, const char*> kNames[] = {
      {"MUSICBRAINZ_RELEASETRACKID", "MusicBrainz Release Track Id"},
      {"MUSICBRAINZ_ALBUMID", "MusicBrainz Album Id"},
      {"MUSICBRAINZ_ARTISTID", "MusicBrainz Artist Id"},
      {"MUSICBRAINZ_ALBUMARTISTID", "MusicBrainz Album Artist Id"},
      {"MUSICBRAINZ_RELEASEGROUPID", "MusicBrainz Release Group Id"},
      {"MUSICBRAINZ_DISCID", "MusicBrainz Disc Id"},
  };
  for (const auto& [key, description] : kNames)
    if (name == key) return description;
  return nullptr;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> TagFields(const TTrackTags& t, bool full) {
  std::vector<std::pair<std::string, std::string>> fields;
  const auto add = [&](const char* name, const std::string& value) {
    std::string v = trimmed(value);
    if (!v.empty()) fields.emplace_back(name, std::move(v));
  };
  add("TITLE", t.Title);
  if (!full) return fields;
  add("ARTIST", t.Artist);
  add("ALBUM", t.Album);
  add("ALBUMARTIST", t.AlbumArtist);
  add("DATE", t.Year);
  if (t.TrackNumber > 0) add("TRACKNUMBER", std::to_string(t.TrackNumber));
  if (t.TrackNumber > 0 && t.TrackTotal > 0) add("TRACKTOTAL", std::to_string(t.TrackTotal));
  add("GENRE", t.Genre);
  add("MUSICBRAINZ_TRACKID", t.MusicBrainzTrackId);
  add("MUSICBRAINZ_RELEASETRACKID", t.MusicBrainzReleaseTrackId);
  add("MUSICBRAINZ_ALBUMID", t.MusicBrainzAlbumId);
  add("MUSICBRAINZ_ARTISTID", t.MusicBrainzArtistId);
  add("MUSICBRAINZ_ALBUMARTISTID", t.MusicBrainzAlbumArtistId);
  add("MUSICBRAINZ_RELEASEGROUPID", t.MusicBrainzReleaseGroupId);
  add("MUSICBRAINZ_DISCID", t.MusicBrainzDiscId);
  return fields;
}

std::vector<std::string> VorbisComments(const TTrackTags& tags, bool full) {
  std::vector<std::string> lines;
  for (const auto& [name, value] : TagFields(tags, full)) lines.push_back(name + "=" + value);
  return lines;
}

std::vector<uint8_t> RenderId3v2(const TTrackTags& tags) {
  // TagLib's property names choose the text frames: TRACKNUMBER "n/N" is TRCK, DATE is TDRC.
  // The MusicBrainz identifiers are made here: TagLib would name the TXXX frames in capitals,
  // which the programs that read them do not look for.
  TagLib::PropertyMap map;
  std::string trackText;
  std::vector<std::pair<const char*, std::string>> txxx;
  std::string recording;
  for (const auto& [name, value] : TagFields(tags)) {
    if (name == "TRACKNUMBER") {
      trackText = value;
    } else if (name == "TRACKTOTAL") {
      trackText += "/" + value;
    } else if (name == "MUSICBRAINZ_TRACKID") {
      recording = value;
    } else if (const char* description = musicBrainzTxxx(name)) {
      txxx.emplace_back(description, value);
    } else {
      map.insert(utf8(name), TagLib::StringList(utf8(value)));
    }
  }
  if (!trackText.empty()) map.insert("TRACKNUMBER", TagLib::StringList(utf8(trackText)));
  TagLib::ID3v2::Tag tag;
  tag.setProperties(map);
  for (const auto& [description, value] : txxx)
    tag.addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(utf8(description), TagLib::StringList(utf8(value)),
                                                                  TagLib::String::UTF8));
  if (!recording.empty())
    tag.addFrame(new TagLib::ID3v2::UniqueFileIdentifierFrame("http://musicbrainz.org",
                                                                TagLib::ByteVector(recording.data(),
                                                                                   static_cast<unsigned>(recording.size()))));
  const TagLib::ByteVector bytes = tag.render(TagLib::ID3v2::v4);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
