// SPDX-License-Identifier: GPL-3.0-or-later
// A cue sheet read as a whole disc: its FILE lines in order, the tracks each holds, their INDEX
// positions and the texts libcdio turns into CD-Text. Pure text work, no file is opened here;
// safe on any bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cue {

struct Track {
  int number = 0;
  bool audio = true;
  int sectorBytes = 2352;   // bytes one sector of this track takes in its file
  int32_t index0 = -1;      // INDEX 00, sectors from the start of the file; -1 when absent
  int32_t index1 = -1;      // INDEX 01
  int32_t pregap = 0;       // PREGAP: silence before INDEX 01 that no file holds
  int32_t postgap = 0;      // POSTGAP: silence after the track
  std::string title, performer, songwriter;
};

struct File {
  std::string name;  // as written
  std::string type;  // BINARY, MOTOROLA, WAVE, FLAC, AIFF, MP3..., upper-cased
  std::vector<Track> tracks;
};

struct Sheet {
  std::string title, performer, songwriter;
  std::vector<File> files;
  bool byteOrderMark = false;
  int trackCount() const;
};

// Reads the sheet; false with the reason when it does not describe a disc (no track, a track
// without INDEX 01, positions that go backwards, more than 99 tracks, a line too strange to
// read).
bool parse(const std::string& text, Sheet& sheet, std::string& problem);

// "mm:ss:ff" as sectors; -1 when it is not one.
int32_t parseMsf(const std::string& text);

}  // namespace cue
