// SPDX-License-Identifier: GPL-3.0-or-later
#include "globals.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

#include "platform/paths.h"
#include "platform/profile.h"

namespace fs = std::filesystem;

TMP3Settings StartupSettings() {
  return TMP3Settings{true,  platform::MusicDir().string(), true, 44100, 128, 320, 0, 0, -1, -1, 5, 0, 0, -1,
                      0};
}

TMP3Settings Settings = StartupSettings();

namespace {
fs::path inConfigDir(const char* name) {
  const fs::path dir = platform::ConfigDir();
  return dir.empty() ? fs::path() : dir / name;
}
}  // namespace

fs::path SettingsFileName() { return inConfigDir("tessaly.ini"); }
fs::path CDPlayerIniPath() { return inConfigDir("cdplayer.ini"); }

std::string IntToStr2(uint16_t number) {
  std::string s = std::to_string(number);
  if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
  return s;
}

int32_t IniTextToInt(const std::string& text, int32_t defaultValue) {
  if (text.empty()) return defaultValue;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits[0] == ' ' || (hex && (digits[0] == '-' || digits[0] == '+'))) return defaultValue;
  errno = 0;
  char* end = nullptr;
  if (hex) {
    const unsigned long long v = std::strtoull(digits.c_str(), &end, 16);
    if (*end != '\0' || errno == ERANGE || v > 0xFFFFFFFFull) return defaultValue;
    return static_cast<int32_t>(static_cast<uint32_t>(v));  // eight hex digits wrap to negative
  }
  const long long v = std::strtoll(digits.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return defaultValue;
  return static_cast<int32_t>(v);
}

namespace {

std::string readText(const fs::path& file, const char* section, const char* key, const std::string& def) {
  auto v = platform::ReadProfileString(file, section, key);
  return v ? *v : def;
}

int32_t readInt(const fs::path& file, const char* section, const char* key, int32_t def) {
  auto v = platform::ReadProfileString(file, section, key);
  return v ? IniTextToInt(*v, def) : def;
}

bool readBool(const fs::path& file, const char* section, const char* key, bool def) {
  return readInt(file, section, key, def ? 1 : 0) != 0;
}

std::string boolText(int32_t v) { return v ? "1" : "0"; }

constexpr const char* kNoHome = "no home folder is known (HOME is not set)";

}  // namespace

void WriteSetting(const fs::path& file, const char* section, const char* key, const std::string& value) {
  if (!platform::WriteProfileString(file, section, key, value))
    throw EIniFileException(file.string(), std::strerror(errno));
}

std::string SettingsSaveProblem() {
  const fs::path file = SettingsFileName();
  if (file.empty()) return kNoHome;
  // The nearest folder that exists must take new entries: the file is replaced through a
  // temporary file beside it, and missing folders are created.
  std::error_code ec;
  fs::path folder = file.parent_path();
  while (!folder.empty() && !fs::exists(folder, ec)) {
    const fs::path up = folder.parent_path();
    if (up == folder) break;
    folder = up;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), W_OK) != 0) return std::strerror(errno);
  return {};
}

bool LoadSettings() {
  const fs::path file = SettingsFileName();
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    SaveSettings();
    return false;
  }
  const TMP3Settings start = StartupSettings();
  Settings.OutDir = readText(file, "System", "OutDir", start.OutDir);
  Settings.OpenWhenDone = readBool(file, "System", "OpenWhenDone", true);
  Settings.SampleRates = readInt(file, "MP3", "SampleRates", 44100);
  Settings.BitRates = readInt(file, "MP3", "BitRates", 128);
  Settings.MaxBitRates = readInt(file, "MP3", "MaxBitRates", 320);
  Settings.Mode = readInt(file, "MP3", "Mode", 0);
  Settings.Quality = readInt(file, "MP3", "Quality", 0);
  Settings.EnableVBR = readBool(file, "MP3", "EnableVBR", false) ? -1 : 0;
  Settings.WriteVBRHeader = readBool(file, "MP3", "WriteVBRHeader", false) ? -1 : 0;
  Settings.VBRQuality = readInt(file, "MP3", "VBRQuality", 5);
  Settings.CopyRight = readBool(file, "MP3", "CopyRight", false) ? -1 : 0;
  Settings.Original = readBool(file, "MP3", "Original", false) ? -1 : 0;
  Settings.CRC = readBool(file, "MP3", "CRC", true) ? -1 : 0;
  Settings.bPrivate = readBool(file, "MP3", "bPrivate", false) ? -1 : 0;
  LoadMoreSettings(file);
  return true;
}

void SaveSettings() {
  const fs::path file = SettingsFileName();
  if (file.empty()) throw EIniFileException("tessaly.ini", kNoHome);
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec) throw EIniFileException(file.string(), ec.message());
  const TMP3Settings& s = Settings;
  const auto write = WriteSetting;
  write(file, "System", "OutDir", s.OutDir);
  write(file, "System", "OpenWhenDone", s.OpenWhenDone ? "1" : "0");
  write(file, "MP3", "SampleRates", std::to_string(s.SampleRates));
  write(file, "MP3", "BitRates", std::to_string(s.BitRates));
  write(file, "MP3", "MaxBitRates", std::to_string(s.MaxBitRates));
  write(file, "MP3", "Mode", std::to_string(s.Mode));
  write(file, "MP3", "Quality", std::to_string(s.Quality));
  write(file, "MP3", "EnableVBR", boolText(s.EnableVBR));
  write(file, "MP3", "WriteVBRHeader", boolText(s.WriteVBRHeader));
  write(file, "MP3", "VBRQuality", std::to_string(s.VBRQuality));
  write(file, "MP3", "CopyRight", boolText(s.CopyRight));
  write(file, "MP3", "Original", boolText(s.Original));
  write(file, "MP3", "CRC", boolText(s.CRC));
  write(file, "MP3", "bPrivate", boolText(s.bPrivate));
  SaveMoreSettings(file);
}

namespace {

std::string trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// "0", "1", ... without leading zeros; the highest track number a disc can be given a name for.
bool trackKey(const std::string& key, int& number) {
  constexpr int kMaxTrackKey = 998;
  if (key.empty() || key.size() > 3 || (key.size() > 1 && key[0] == '0')) return false;
  for (char c : key)
    if (c < '0' || c > '9') return false;
  number = std::stoi(key);
  return number <= kMaxTrackKey;
}

}  // namespace

bool ReadCDInfo(const std::string& discId, std::string& artist, std::string& title, std::string& year,
                std::string& genre, std::vector<std::string>& trackNames) {
  bool result = false;
  try {
    trackNames.clear();
    const auto section = platform::ReadProfileSection(CDPlayerIniPath(), discId);
    std::vector<std::pair<std::string, std::string>> entries;
    if (section)
      for (const auto& e : *section)
        if (!e.second.empty()) entries.push_back(e);  // an empty value counts as absent
    result = !entries.empty();
    if (result) {
      auto value = [&](const char* key) {
        for (const auto& e : entries)
          if (platform::SameText(e.first, key)) return e.second;
        return std::string();
      };
      title = value("title");
      artist = value("artist");
      year = value("year");
      genre = value("genre");
      // Every track key the section holds is read, "0" up to the highest present; a missing
      // one in between names its track with empty text.
      std::map<int, std::string> names;
      for (const auto& e : entries)
        if (int n; trackKey(e.first, n)) names.emplace(n, e.second);
      const int count = names.empty() ? 0 : names.rbegin()->first + 1;
      for (int i = 0; i < count; ++i) {
        auto it = names.find(i);
        trackNames.push_back(it == names.end() ? std::string() : it->second);
      }
    }
    if (trimmed(title).empty()) title = "No Title";
    if (trimmed(artist).empty()) artist = "No Artist";
    if (trimmed(genre).empty()) genre = "Other";
    result = true;
  } catch (...) {
  }
  return result;
}

bool WriteCDInfo(const std::string& discId, const std::string& artist, const std::string& album,
                 const std::string& year, const std::string& genre, const std::vector<std::string>* trackNames) {
  bool result = false;
  try {
    const fs::path file = CDPlayerIniPath();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    // One replacement of the file for all the keys: a kill leaves the old section or the new
    // one, a key that cannot be written writes none, and a big file is rewritten once.
    std::vector<std::pair<std::string, std::string>> keys{
        {"artist", artist}, {"album", album}, {"year", year}, {"genre", genre}};
    if (trackNames)
      for (size_t i = 0; i < trackNames->size(); ++i) keys.emplace_back(std::to_string(i), (*trackNames)[i]);
    result = platform::WriteProfileStrings(file, discId, keys);
  } catch (...) {
  }
  return result;
}

TStoredAlbum ReadStoredAlbum(const std::string& discId) {
  TStoredAlbum a;
  const fs::path file = CDPlayerIniPath();
  auto get = [&](const char* key) { return platform::ReadProfileString(file, discId, key); };
  a.Artist = get("artist").value_or("");
  a.Album = get("album").value_or("");
  if (a.Album.empty()) a.Album = get("title").value_or("");
  a.Year = get("year").value_or("");
  a.Genre = get("genre").value_or("");
  return a;
}

namespace {
std::string trimControls(const std::string& s) {
  const auto isTrim = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t b = 0, e = s.size();
  while (b < e && isTrim(s[b])) ++b;
  while (e > b && isTrim(s[e - 1])) --e;
  return s.substr(b, e - b);
}
}  // namespace

std::string GetOutputFileName(const std::string& outDir, const std::string& title) {
  std::string folder = trimControls(outDir);
  // An empty folder would put the files at the filesystem's root; here it means the user's
  // music folder, the folder a first run starts with.
  if (folder.empty()) folder = platform::MusicDir().string();
  if (folder.empty()) throw std::runtime_error("No output folder: no home folder is known; choose one in the options");
  if (folder.back() != '/') folder += '/';
  std::string safe;
  const std::string t = trimControls(title);
  size_t pos = 0;
  while (pos <= t.size()) {
    const size_t slash = std::min(t.find('/', pos), t.size());
    const std::string part = t.substr(pos, slash - pos);
    if (!part.empty() && part != "." && part != "..") safe += (safe.empty() ? "" : "/") + part;
    pos = slash + 1;
  }
  return folder + safe + ".wav";
}
