// SPDX-License-Identifier: GPL-3.0-or-later
#include "cue_sheet.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace cue {

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The words of one line; a word in double quotes may hold blanks (an unclosed quote runs to
// the end of the line).
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    if (c == '"') {
      const size_t close = line.find('"', i + 1);
      const size_t end = close == std::string::npos ? line.size() : close;
      out.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    const size_t end = line.find_first_of(" \t", i);
    out.push_back(line.substr(i, end == std::string::npos ? std::string::npos : end - i));
    i = end == std::string::npos ? line.size() : end;
  }
  return out;
}

// Bytes a sector of the track mode takes in a file, and whether it is audio; 0 when unknown.
int modeBytes(const std::string& mode, bool& audio) {
  audio = mode == "AUDIO";
  if (mode == "AUDIO" || mode == "MODE1/2352" || mode == "MODE2/2352" || mode == "CDI/2352") return 2352;
  if (mode == "MODE1/2048") return 2048;
  if (mode == "MODE2/2336" || mode == "CDI/2336") return 2336;
  if (mode == "MODE2/2324") return 2324;
  return 0;
}

}  // namespace

int Sheet::trackCount() const {
  int n = 0;
  for (const File& f : files) n += static_cast<int>(f.tracks.size());
  return n;
}

int32_t parseMsf(const std::string& text) {
  int parts[3] = {0, 0, 0};
  int part = 0, digits = 0;
  for (char c : text) {
    if (c == ':') {
      if (digits == 0 || ++part > 2) return -1;
      digits = 0;
      continue;
    }
    if (c < '0' || c > '9' || ++digits > 3) return -1;
    parts[part] = parts[part] * 10 + (c - '0');
  }
  if (part != 2 || digits == 0 || parts[1] > 59 || parts[2] > 74) return -1;
  return (parts[0] * 60 + parts[1]) * 75 + parts[2];
}

bool parse(const std::string& textIn, Sheet& sheet, std::string& problem) {
  sheet = Sheet{};
  std::string_view text(textIn);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    sheet.byteOrderMark = true;
    text.remove_prefix(3);
  }
  int lineNo = 0;
  int lastNumber = 0;
  auto fail = [&](const std::string& why) {
    problem = "the cue sheet cannot be read: line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  for (size_t pos = 0; pos < text.size();) {
    const size_t nl = std::min(text.find('\n', pos), text.size());
    std::string line(text.substr(pos, nl - pos));
    pos = nl + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find('\0') != std::string::npos) return fail("it holds a NUL byte");
    const std::vector<std::string> w = words(line);
    if (w.empty()) continue;
    const std::string cmd = upper(w[0]);
    Track* track = sheet.files.empty() || sheet.files.back().tracks.empty() ? nullptr : &sheet.files.back().tracks.back();
    if (cmd == "FILE") {
      if (w.size() < 2 || w[1].empty()) return fail("FILE names no file");
      sheet.files.push_back(File{w[1], w.size() > 2 ? upper(w[2]) : std::string("BINARY"), {}});
    } else if (cmd == "TRACK") {
      if (sheet.files.empty()) return fail("a TRACK before any FILE");
      if (w.size() < 3) return fail("TRACK needs a number and a mode");
      Track t;
      const std::string& num = w[1];
      if (num.empty() || num.size() > 2 || !std::isdigit(static_cast<unsigned char>(num[0])) ||
          (num.size() == 2 && !std::isdigit(static_cast<unsigned char>(num[1]))))
        return fail("bad track number \"" + num + "\"");
      t.number = std::stoi(num);
      if (t.number < 1 || t.number <= lastNumber) return fail("track numbers must rise from 1");
      if (sheet.trackCount() >= 99) return fail("more than 99 tracks");
      lastNumber = t.number;
      t.sectorBytes = modeBytes(upper(w[2]), t.audio);
      if (t.sectorBytes == 0) return fail("unknown track mode " + w[2]);
      sheet.files.back().tracks.push_back(t);
    } else if (cmd == "INDEX") {
      if (!track) return fail("an INDEX outside a track");
      if (w.size() < 3) return fail("INDEX needs a number and a position");
      const int32_t at = parseMsf(w[2]);
      if (at < 0) return fail("bad position \"" + w[2] + "\"");
      if (w[1] == "00" || w[1] == "0") {
        if (track->index1 >= 0) return fail("INDEX 00 after INDEX 01");
        track->index0 = at;
      } else if (w[1] == "01" || w[1] == "1") {
        if (track->index1 >= 0) return fail("a second INDEX 01");
        if (track->index0 > at) return fail("INDEX 01 before INDEX 00");
        track->index1 = at;
      }  // later indexes mark points inside the track: no bearing on the table of contents
    } else if (cmd == "PREGAP" || cmd == "POSTGAP") {
      if (!track) return fail(cmd + " outside a track");
      const int32_t len = w.size() > 1 ? parseMsf(w[1]) : -1;
      if (len < 0) return fail("bad length for " + cmd);
      (cmd == "PREGAP" ? track->pregap : track->postgap) = len;
    } else if (cmd == "TITLE" || cmd == "PERFORMER" || cmd == "SONGWRITER") {
      const std::string value = w.size() > 1 ? w[1] : std::string();
      std::string& slot = cmd == "TITLE" ? (track ? track->title : sheet.title)
                          : cmd == "PERFORMER" ? (track ? track->performer : sheet.performer)
                                               : (track ? track->songwriter : sheet.songwriter);
      slot = value;
    }
    // REM, CATALOG, ISRC, FLAGS, CDTEXTFILE and the rest: no bearing on what is read.
  }
  if (sheet.trackCount() == 0) {
    problem = "the cue sheet names no track";
    return false;
  }
  for (const File& f : sheet.files) {
    int32_t previous = -1;
    for (const Track& t : f.tracks) {
      if (t.index1 < 0) {
        problem = "the cue sheet cannot be read: track " + std::to_string(t.number) + " has no INDEX 01";
        return false;
      }
      const int32_t first = t.index0 >= 0 ? t.index0 : t.index1;
      if (first <= previous) {
        problem = "the cue sheet cannot be read: track " + std::to_string(t.number) +
                  " starts before the track ahead of it ends";
        return false;
      }
      previous = t.index1;
    }
  }
  return true;
}

}  // namespace cue
