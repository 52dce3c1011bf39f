// SPDX-License-Identifier: GPL-3.0-or-later
// Private-profile (INI) files, key by key, with the semantics programs expect of them:
// section and key names compare without regard to ASCII case; values are read with
// surrounding blanks removed; a write creates file, section and key as needed and leaves every
// other byte of the file as it was. Files of other programs are read as they come (LF or
// CRLF, a UTF-8 byte-order mark, comments, blank lines, lines without "=", no final line end).
//
// Each write replaces the file atomically (a temporary file in the same folder, flushed, then
// renamed over it) under an advisory lock on the file, so a crash leaves the old or the new
// file and two processes writing keys lose neither's key; the next writer removes what a
// killed one left. The file keeps its permission bits, and a file that is a symbolic link
// stays one (its target is replaced, in the target's folder). Nothing is cached.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The value of a key; nothing when the file, the section or the key is missing. A key that
// occurs twice in its section is read at its first place.
std::optional<std::string> ReadProfileString(const std::filesystem::path& file,
                                             std::string_view section, std::string_view key);

// Every key of a section with its value, in file order, each name once (its first place);
// nothing when the file or the section is missing.
std::optional<std::vector<std::pair<std::string, std::string>>> ReadProfileSection(
    const std::filesystem::path& file, std::string_view section);

// Sets one key; false when the file cannot be written (the old file then stays as it was).
bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value);
// Sets several keys of one section in one replacement of the file, as writing them one after
// the other would leave it; false, writing nothing, when any of them cannot be written.
bool WriteProfileStrings(const std::filesystem::path& file, std::string_view section,
                         const std::vector<std::pair<std::string, std::string>>& keys);

// ASCII-only, case-blind equality.
bool SameText(std::string_view a, std::string_view b);

}  // namespace platform
