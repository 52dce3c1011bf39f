#include "paths.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace platform {
namespace {

namespace fs = std::filesystem;

fs::path home() {
  const char* h = std::getenv("HOME");
  return h && *h ? fs::path(h) : fs::path("/");
}

fs::path configHome() {
  const char* x = std::getenv("XDG_CONFIG_HOME");
  // Relative values are invalid by the XDG rules and ignored.
  if (x && *x == '/') return fs::path(x);
  return home() / ".config";
}

// A value of the user-dirs file: "$HOME/Music" or "/abs/path", in double quotes.
std::string expand(std::string v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  if (v.rfind("$HOME", 0) == 0) v = home().string() + v.substr(5);
  return v;
}

}  // namespace

fs::path ConfigDir() { return configHome() / "tessaly"; }

fs::path MusicDir() {
  if (const char* m = std::getenv("XDG_MUSIC_DIR"); m && *m == '/') return fs::path(m);
  std::ifstream in(configHome() / "user-dirs.dirs");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("XDG_MUSIC_DIR=", 0) != 0) continue;
    const std::string v = expand(line.substr(14));
    if (!v.empty() && v.front() == '/') return fs::path(v);
  }
  return home() / "Music";
}

}  // namespace platform
