// CD-Text as names: the repair of texts libcdio decoded as Latin-1 though they were UTF-8, and
// the album values and track titles a CD-Text block gives.
#pragma once

#include <string>
#include <string_view>

#include "cdrip/CdText.h"
#include "names/Album.h"

namespace names {

// libcdio turns a cue sheet's bytes into UTF-8 as if they were Latin-1, so UTF-8 in the sheet
// comes back double-encoded ("Ãœ" for "Ü"). When every character of `text` is below U+0100
// and those bytes are valid UTF-8 with at least one multi-byte sequence, they are what the
// sheet meant; otherwise `text` already is the right decoding (real Latin-1) and is kept.
// Text that is not UTF-8 at all is read as Latin-1.
std::string RepairCdText(std::string_view text);

// Whether `text` is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// The names of a CD-Text block for the layout's tracks (by track number); false when the block
// names no track and no album.
bool NamesFromCdText(const TCdTextInfo& info, const TDiscLayout& disc, TAlbumNames& out);

}  // namespace names
