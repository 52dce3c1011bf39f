#include "names/CdTextNames.h"

#include "platform/utf8.h"

namespace names {

bool IsUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0, n = text.size(); i < n;) {
    const size_t len = platform::Utf8SequenceLength(p + i, n - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

namespace {

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The bytes whose Latin-1 decoding is `utf8`; false when a character is above U+00FF.
bool utf8ToLatin1(std::string_view utf8, std::string& out) {
  out.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (p[i] < 0x80) {
      out += static_cast<char>(p[i]);
    } else if ((p[i] == 0xC2 || p[i] == 0xC3) && i + 1 < utf8.size()) {
      out += static_cast<char>(((p[i] & 0x03) << 6) | (p[i + 1] & 0x3F));
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string RepairCdText(std::string_view text) {
  if (!IsUtf8(text)) return latin1ToUtf8(text);
  std::string bytes;
  if (!utf8ToLatin1(text, bytes) || bytes == text) return std::string(text);
  // A real Latin-1 text almost never forms valid multi-byte UTF-8 ("Ã©" would have to stand
  // in the sheet), so a valid round trip is taken as the sheet's own UTF-8.
  return IsUtf8(bytes) ? bytes : std::string(text);
}

bool NamesFromCdText(const TCdTextInfo& info, const TDiscLayout& disc, TAlbumNames& out) {
  out = TAlbumNames{};
  const size_t rows = disc.tracks.size();
  out.TrackTitles.assign(rows, std::string());
  out.TrackArtists.assign(rows, std::string());
  auto at = [](const std::vector<std::string>& v, size_t i) { return i < v.size() ? RepairCdText(v[i]) : std::string(); };
  out.AlbumTitle = at(info.title, 0);
  out.AlbumArtist = at(info.performer, 0);
  out.Genre = RepairCdText(info.genre);
  bool any = !out.AlbumTitle.empty();
  for (size_t r = 0; r < rows; ++r) {
    const auto n = static_cast<size_t>(disc.tracks[r].number);
    out.TrackTitles[r] = at(info.title, n);
    out.TrackArtists[r] = at(info.performer, n);
    any = any || !out.TrackTitles[r].empty();
  }
  return info.present && any;
}

}  // namespace names
