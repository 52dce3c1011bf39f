// SPDX-License-Identifier: GPL-3.0-or-later
#include "NamePattern.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "app/globals.h"

namespace {

std::string trimmed(std::string_view s) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

// A value that is one name, not a path: an artist "AC/DC" is not two folders.
std::string oneName(std::string value) {
  for (char& c : value)
    if (c == '/') c = '-';
  return trimmed(value);
}

std::string orUnknown(const std::string& value, const char* unknown) {
  std::string v = oneName(value);
  return v.empty() ? unknown : v;
}

// The year of a date ("1999-03-01" gives "1999"); any other text as it is.
std::string yearOf(const std::string& date) {
  std::string v = oneName(date);
  const bool dated = v.size() > 4 && v[4] == '-' &&
                     std::all_of(v.begin(), v.begin() + 4, [](char c) { return c >= '0' && c <= '9'; });
  return dated ? v.substr(0, 4) : v;
}

std::string twoDigits(int n) {
  if (n <= 0) return "00";
  return n < 10 ? "0" + std::to_string(n) : std::to_string(n);
}

// The pattern's text with the fields replaced.
std::string expandedText(const std::string& pattern, const TTrackTags& tags) {
  std::string out;
  size_t pos = 0;
  while (pos < pattern.size()) {
    const size_t open = pattern.find('%', pos);
    if (open == std::string::npos) break;
    const size_t close = pattern.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string_view field(pattern.data() + open + 1, close - open - 1);
    std::string value;
    bool known = true;
    if (field == "title") value = trimmed(tags.Title);
    else if (field == "nn") value = twoDigits(tags.TrackNumber);
    else if (field == "artist") value = orUnknown(tags.Artist, "Unknown Artist");
    else if (field == "albumartist") value = orUnknown(tags.AlbumArtist, "Unknown Artist");
    else if (field == "album") value = orUnknown(tags.Album, "Unknown Album");
    else if (field == "year") value = yearOf(tags.Year);
    else known = false;
    if (!known) {
      // Not a field: the first "%" is text, and the second may open one.
      out.append(pattern, pos, close - pos);
      pos = close;
      continue;
    }
    out.append(pattern, pos, open - pos);
    out += value;
    pos = close + 1;
  }
  out.append(pattern, pos, std::string::npos);

  return out;
}

// The expanded text's path parts, each trimmed at its ends; the last one is the file's name
// (empty when the text ends in "/").
std::vector<std::string> expandedParts(const std::string& pattern, const TTrackTags& tags) {
  const std::string text = expandedText(pattern, tags);
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t slash = std::min(text.find('/', start), text.size());
    parts.push_back(trimmed(std::string_view(text).substr(start, slash - start)));
    if (slash == text.size()) break;
    start = slash + 1;
  }
  return parts;
}

std::string joinParts(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& p : parts)
    if (!p.empty()) path += (path.empty() ? "" : "/") + p;
  return path;
}

}  // namespace

std::string ExpandNamePattern(const std::string& pattern, const TTrackTags& tags) {
  return joinParts(expandedParts(pattern, tags));
}

std::string PatternOutputFileName(const std::string& outDir, const std::string& pattern, const TTrackTags& tags,
                                  const std::string& entryText) {
  std::vector<std::string> parts = expandedParts(pattern, tags);
  // Nothing usable for the file's own name: the track list's entry text stands in for it.
  if (parts.back().empty() || parts.back() == "." || parts.back() == "..") parts.back() = trimmed(entryText);
  return GetOutputFileName(outDir, joinParts(parts));
}
