// SPDX-License-Identifier: GPL-3.0-or-later
// Where Tessaly keeps its files, after the XDG base-directory rules.
#pragma once

#include <filesystem>

namespace platform {

// The user's home folder: $HOME, else the password database's entry for the user. Empty when
// neither gives an absolute folder other than "/": nothing is then written into the root.
std::filesystem::path HomeDir();
// The rule of HomeDir for given values (either may be null).
std::filesystem::path HomeFrom(const char* homeVariable, const char* passwordHome);

// $XDG_CONFIG_HOME/tessaly, XDG_CONFIG_HOME defaulting to $HOME/.config; empty when neither
// is known.
std::filesystem::path ConfigDir();
// The user's music folder: XDG_MUSIC_DIR (from the environment or the user-dirs file), else
// $HOME/Music; empty when neither is known.
std::filesystem::path MusicDir();

}  // namespace platform
