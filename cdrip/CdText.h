// SPDX-License-Identifier: GPL-3.0-or-later
/* The CD-Text of the selected drive, as libcdio reads it: from a real drive's lead-in, from a
 * cue sheet's TITLE/PERFORMER lines or a cdrdao TOC file's CD_TEXT blocks. One language block
 * is taken: English when the disc has it, else the first. The texts are handed over exactly as
 * libcdio gives them (UTF-8 by its account, possibly UTF-8 read as Latin-1); names/ repairs
 * and decides. Part of the CD library (cdrip_real), beside the CR_* calls. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TCdTextInfo {
  bool present = false;               /* any text at all */
  int language = -1;                  /* the block's language code (9 English), -1 unknown */
  std::vector<std::string> title;     /* [0] the album, [n] track number n; "" when absent */
  std::vector<std::string> performer; /* the same indexing */
  std::string genre;                  /* the disc's genre text, "" when absent */
};

/* Reads the selected drive's CD-Text into *out; false (out->present false) when there is no
 * drive, no readable disc or no CD-Text. Tracks 1..lastTrack are looked at (99 at most). */
bool CR_ReadCdText(int lastTrack, TCdTextInfo* out);

/* The same from CD-Text packs as a drive hands them over (18 bytes each, without the 4-byte
 * header of the READ TOC answer), through libcdio's own parser. */
bool CR_ParseCdTextPacks(const uint8_t* packs, size_t size, int lastTrack, TCdTextInfo* out);
