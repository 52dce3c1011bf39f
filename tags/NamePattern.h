// SPDX-License-Identifier: GPL-3.0-or-later
// The output file names of a run from the naming pattern ([System] NamePattern): fields in
// "%...%" replaced by a track's values, "/" making subfolders inside the output folder.
//
// Fields: %title% (the row's caption; "/" in it makes subfolders, as a title always did),
// %nn% (the track number, two digits), %artist%, %album%, %albumartist%, %year% (of a full
// date, the year alone). A "/" inside
// any other field's value is not a folder: it becomes "-". Values are put in without the
// blanks at their ends. Unknown artists and albums read
// "Unknown Artist" and "Unknown Album" here only, never in the tags. Any other text, an
// unknown "%word%" included, is kept as written.
#pragma once

#include <string>

#include "tags/TrackTags.h"

constexpr const char* kDefaultNamePattern = "%title%";
// The second choice offered beside the default.
constexpr const char* kAlbumNamePattern = "%albumartist%/%album%/%nn% %title%";

// The pattern with its fields replaced: a path relative to the output folder, without an
// extension. Every path part has the blanks at its ends trimmed; empty parts are dropped.
std::string ExpandNamePattern(const std::string& pattern, const TTrackTags& tags);

// The WAV file name of a track: the output folder, the expanded pattern and ".wav", under the
// containment rules of GetOutputFileName (never outside the output folder: leading separators,
// ".", ".." and empty parts dropped). When no file name is left at the end of the path (a
// blank title, a pattern ending in "/"), the track list's entry text ("Track03") is the file's
// name. The default pattern gives the name a title always gave, less the blanks at the ends
// of its parts.
std::string PatternOutputFileName(const std::string& outDir, const std::string& pattern, const TTrackTags& tags,
                                  const std::string& entryText);
