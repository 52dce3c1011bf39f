// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/utf8.h"

namespace cli {

std::string shown(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char c) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
  };
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x20 || c == 0x7F) {
      escape(c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t len = platform::Utf8SequenceLength(p + i, n - i);
    // U+0080 to U+009F are control characters too.
    const bool ok = len > 0 && !(c == 0xC2 && p[i + 1] <= 0x9F);
    if (!ok) {
      escape(c);
      ++i;
      continue;
    }
    out.append(text, i, len);
    i += len;
  }
  return out;
}

// Standard output carries the listing and the names of finished files. A write it refuses (a
// closed pipe, a full disk) ends nothing: it is told once, and the exit status becomes 1.
namespace {
int g_stdoutError = 0;
}  // namespace

void out(const std::string& line) {
  if (g_stdoutError) return;
  const std::string text = shown(line) + "\n";
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    g_stdoutError = errno ? errno : EIO;
    std::fprintf(stderr, "tessaly-rip: cannot write to standard output: %s\n", std::strerror(g_stdoutError));
  }
}

void note(const std::string& line) { std::fprintf(stderr, "%s\n", shown(line).c_str()); }

int finish(int status) {
  if (!g_stdoutError && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    g_stdoutError = errno ? errno : EIO;
    std::fprintf(stderr, "tessaly-rip: cannot write to standard output: %s\n", std::strerror(g_stdoutError));
  }
  return status == 0 && g_stdoutError ? kExitFailure : status;
}

[[noreturn]] void usageError(const std::string& message) {
  note("tessaly-rip: " + message);
  std::fprintf(stderr, "Try 'tessaly-rip --help'.\n");
  std::exit(finish(kExitUsage));
}

int fail(const std::string& message) {
  note("tessaly-rip: " + message);
  return kExitFailure;
}

}  // namespace cli
