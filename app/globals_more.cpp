// SPDX-License-Identifier: GPL-3.0-or-later
// The settings beyond the MP3 record: read and written beside it in the settings file.
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include "globals.h"
#include "platform/profile.h"

namespace fs = std::filesystem;

TMoreSettings MoreSettings;

namespace {

std::optional<int32_t> readNumber(const fs::path& file, const char* section, const char* key) {
  auto v = platform::ReadProfileString(file, section, key);
  if (!v) return std::nullopt;
  // A value that is not a number is not a setting: the default stays.
  constexpr int32_t kNone = INT32_MIN;
  const int32_t n = IniTextToInt(*v, kNone);
  if (n == kNone) return std::nullopt;
  return n;
}

int32_t readInt(const fs::path& file, const char* section, const char* key, int32_t def, int32_t lo, int32_t hi) {
  const auto n = readNumber(file, section, key);
  return n && *n >= lo && *n <= hi ? *n : def;
}

bool readBool(const fs::path& file, const char* section, const char* key, bool def) {
  const auto n = readNumber(file, section, key);
  return n ? *n != 0 : def;
}

std::string readText(const fs::path& file, const char* section, const char* key, const std::string& def) {
  auto v = platform::ReadProfileString(file, section, key);
  return v && !v->empty() ? *v : def;
}

std::string withoutTrailingSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

std::string fromEnvironment(const char* name, const std::string& setting) {
  const char* v = std::getenv(name);
  return withoutTrailingSlash(v && *v ? std::string(v) : setting);
}

// A drive's own section: "Drive <name>".
std::string driveSection(const std::string& driveName) { return "Drive " + driveName; }

constexpr int32_t kMaxOffset = kMaxReadOffset;

}  // namespace

void LoadMoreSettings(const fs::path& file) {
  const TMoreSettings start;
  TMoreSettings& m = MoreSettings;
  m.FlacLevel = readInt(file, "FLAC", "Level", start.FlacLevel, 0, 8);
  m.FullTags = readBool(file, "Tags", "Full", start.FullTags);
  m.NamePattern = readText(file, "System", "NamePattern", start.NamePattern);
  m.Jobs = readInt(file, "System", "Jobs", start.Jobs, 0, kMaxJobs);
  m.RipLog = readBool(file, "System", "RipLog", start.RipLog);
  m.LookupAutomatic = readBool(file, "Lookup", "Automatic", start.LookupAutomatic);
  m.LookupServer = readText(file, "Lookup", "Server", start.LookupServer);
  m.AccurateRipServer = readText(file, "Lookup", "AccurateRip", start.AccurateRipServer);
  m.ReadOffset = readInt(file, "Drive", "ReadOffset", start.ReadOffset, -kMaxOffset, kMaxOffset);
  m.Retries = readInt(file, "Drive", "Retries", start.Retries, 0, 1000);
}

void SaveMoreSettings(const fs::path& file) {
  const TMoreSettings start;
  const TMoreSettings& m = MoreSettings;
  // A value still at its default is written only where the file already has the key: a first
  // run writes the MP3 record's keys alone, and a changed value is never lost.
  auto put = [&](const char* section, const char* key, const std::string& value, const std::string& def) {
    if (value != def || platform::ReadProfileString(file, section, key)) WriteSetting(file, section, key, value);
  };
  auto num = [](int32_t v) { return std::to_string(v); };
  auto flag = [](bool v) { return std::string(v ? "1" : "0"); };
  put("FLAC", "Level", num(m.FlacLevel), num(start.FlacLevel));
  put("Tags", "Full", flag(m.FullTags), flag(start.FullTags));
  put("System", "NamePattern", m.NamePattern, start.NamePattern);
  put("System", "Jobs", num(m.Jobs), num(start.Jobs));
  put("System", "RipLog", flag(m.RipLog), flag(start.RipLog));
  put("Lookup", "Automatic", flag(m.LookupAutomatic), flag(start.LookupAutomatic));
  put("Lookup", "Server", m.LookupServer, start.LookupServer);
  put("Lookup", "AccurateRip", m.AccurateRipServer, start.AccurateRipServer);
  put("Drive", "ReadOffset", num(m.ReadOffset), num(start.ReadOffset));
  put("Drive", "Retries", num(m.Retries), num(start.Retries));
}

std::string MusicBrainzServer() { return fromEnvironment("TESSALY_MUSICBRAINZ_URL", MoreSettings.LookupServer); }

std::string AccurateRipServer() {
  return fromEnvironment("TESSALY_ACCURATERIP_URL", MoreSettings.AccurateRipServer);
}

int32_t DriveReadOffset(const std::string& driveName) {
  const fs::path file = SettingsFileName();
  if (!driveName.empty()) {
    const std::string section = driveSection(driveName);
    if (const auto n = readNumber(file, section.c_str(), "ReadOffset"); n && *n >= -kMaxOffset && *n <= kMaxOffset)
      return *n;
  }
  return MoreSettings.ReadOffset;
}

bool DriveReadOffsetKnown(const std::string& driveName) {
  const fs::path file = SettingsFileName();
  if (!driveName.empty()) {
    const std::string section = driveSection(driveName);
    if (readNumber(file, section.c_str(), "ReadOffset")) return true;
  }
  return MoreSettings.ReadOffset != 0;
}
