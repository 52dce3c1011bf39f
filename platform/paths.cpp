// SPDX-License-Identifier: GPL-3.0-or-later
#include "paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

fs::path configHome() {
  const char* x = std::getenv("XDG_CONFIG_HOME");
  // Relative values are invalid by the XDG rules and ignored.
  if (x && *x == '/') return fs::path(x);
  const fs::path home = HomeDir();
  return home.empty() ? fs::path() : home / ".config";
}

// A value of the user-dirs file: "$HOME/Music" or "/abs/path", in double quotes. Empty when it
// names the home folder and that is unknown.
std::string expand(std::string v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  if (v.rfind("$HOME", 0) == 0) {
    const fs::path home = HomeDir();
    if (home.empty()) return {};
    v = home.string() + v.substr(5);
  }
  return v;
}

}  // namespace

fs::path HomeFrom(const char* homeVariable, const char* passwordHome) {
  for (const char* candidate : {homeVariable, passwordHome}) {
    if (!candidate || candidate[0] != '/') continue;
    const fs::path p = fs::path(candidate).lexically_normal();
    if (p != fs::path("/")) return p;
  }
  return {};
}

fs::path HomeDir() {
  const char* passwordHome = nullptr;
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) passwordHome = found->pw_dir;
  const char* h = std::getenv("HOME");
  return HomeFrom(h && *h ? h : nullptr, passwordHome);
}

fs::path ConfigDir() {
  const fs::path config = configHome();
  return config.empty() ? fs::path() : config / "tessaly";
}

fs::path MusicDir() {
  if (const char* m = std::getenv("XDG_MUSIC_DIR"); m && *m == '/') return fs::path(m);
  if (const fs::path config = configHome(); !config.empty()) {
    std::ifstream in(config / "user-dirs.dirs");
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("XDG_MUSIC_DIR=", 0) != 0) continue;
      const std::string v = expand(line.substr(14));
      if (!v.empty() && v.front() == '/') return fs::path(v);
    }
  }
  const fs::path home = HomeDir();
  return home.empty() ? fs::path() : home / "Music";
}

}  // namespace platform
