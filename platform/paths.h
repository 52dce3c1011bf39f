// Where Tessaly keeps its files, after the XDG base-directory rules.
#pragma once

#include <filesystem>

namespace platform {

// $XDG_CONFIG_HOME/tessaly, XDG_CONFIG_HOME defaulting to $HOME/.config.
std::filesystem::path ConfigDir();
// The user's music folder: XDG_MUSIC_DIR (from the environment or the user-dirs file), else
// $HOME/Music.
std::filesystem::path MusicDir();

}  // namespace platform
