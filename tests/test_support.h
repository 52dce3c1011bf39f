// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the tests: temporary folders, fixture discs, running the built programs.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("tessaly-test-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const fs::path& p, const std::string& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct CommandResult {
  int exitCode = -1;
  std::string out, err;
};

// Runs a shell command line; stdout and stderr are captured separately.
inline CommandResult run(const std::string& command) {
  const fs::path errFile = fs::temp_directory_path() / ("tessaly-err-" + std::to_string(std::random_device{}()));
  CommandResult r;
  FILE* p = popen((command + " 2>" + shellQuote(errFile.string())).c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.err = readFile(errFile);
  std::error_code ec;
  fs::remove(errFile, ec);
  return r;
}

// Writes a disc image with the fixture generator; returns the cue sheet's path.
inline fs::path makeDisc(const fs::path& dir, const std::string& name,
                         const std::vector<std::string>& tracks, const std::string& extra = "") {
  const fs::path cue = dir / (name + ".cue");
  std::string cmd = shellQuote(MKDISC_PATH) + " " + extra + " " + shellQuote(cue.string());
  for (const auto& t : tracks) cmd += " " + shellQuote(t);
  const CommandResult r = run(cmd);
  if (r.exitCode != 0) throw std::runtime_error("mkdisc failed: " + r.err);
  return cue;
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

}  // namespace testing_support
