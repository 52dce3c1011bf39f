// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the INI reader and writer with arbitrary file contents: no crash, and a key written
// reads back while every other key keeps its value.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>
#include <string>

#include "platform/profile.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("tessaly-ini-fuzz-" + std::to_string(getpid()));
    fs::create_directories(d);
    return d;
  }();
  const fs::path file = dir / "f.ini";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  // Section names taken from the input itself reach the interesting paths.
  std::string section = "S";
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto open = text.find('['); open != std::string::npos) {
    auto close = text.find(']', open);
    if (close != std::string::npos && close - open < 64) section = text.substr(open + 1, close - open - 1);
  }
  const auto before = platform::ReadProfileSection(file, section);
  platform::ReadProfileString(file, section, "key");
  platform::ReadProfileString(file, "other", "0");
  if (section.find_first_of("\r\n") != std::string::npos) return 0;
  if (!platform::WriteProfileString(file, section, "fuzzkey", "value 1")) return 0;
  const auto after = platform::ReadProfileSection(file, section);
  if (!after) std::abort();
  if (platform::ReadProfileString(file, section, "FUZZKEY") != "value 1") std::abort();
  if (before) {
    for (const auto& [k, v] : *before) {
      if (platform::SameText(k, "fuzzkey")) continue;
      if (platform::ReadProfileString(file, section, k) != v) std::abort();
    }
  }
  // Several keys at once leave the file as writing them one by one does; the names come from
  // the input too, so present, absent and repeated keys all occur.
  const fs::path one = dir / "one.ini", all = dir / "all.ini";
  fs::copy_file(file, one, fs::copy_options::overwrite_existing);
  fs::copy_file(file, all, fs::copy_options::overwrite_existing);
  std::vector<std::pair<std::string, std::string>> keys{{"fuzzkey", "2"}, {"new", "n"}};
  if (before)
    for (const auto& [k, v] : *before) keys.emplace_back(k, v + "+");
  keys.emplace_back("new", "again");
  bool allOk = true;
  for (const auto& [k, v] : keys) allOk = platform::WriteProfileString(one, section, k, v) && allOk;
  if (platform::WriteProfileStrings(all, section, keys) != allOk) std::abort();
  if (allOk) {
    std::ifstream a(one, std::ios::binary), b(all, std::ios::binary);
    if (!std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {})) std::abort();
  }
  return 0;
}
