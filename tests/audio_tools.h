// SPDX-License-Identifier: GPL-3.0-or-later
// The reference tools that read back what the program wrote: flac and metaflac for FLAC files,
// python3-mutagen (Debian's, run with /usr/bin/python3) for ID3v2 tags, md5sum.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace testing_support {

inline std::string md5Of(const std::string& data, const fs::path& scratch) {
  writeFile(scratch, data);
  const CommandResult r = run("md5sum " + shellQuote(scratch.string()));
  return r.out.substr(0, 32);
}

// The raw samples flac -d gives back (16-bit little-endian, interleaved).
inline std::string decodedFlac(const fs::path& flacFile, const fs::path& raw) {
  const CommandResult r = run("flac -s -d -f --force-raw-format --endian=little --sign=signed -o " +
                              shellQuote(raw.string()) + " " + shellQuote(flacFile.string()));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return readFile(raw);
}

inline std::string metaflac(const std::string& args, const fs::path& file) {
  const CommandResult r = run("metaflac " + args + " " + shellQuote(file.string()));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

// The ID3v2 tag at the start of a file as mutagen reads it: "v2.<minor>", then one
// "FRAME=text enc=<encoding>" line per frame, sorted (UFID frames: their identifier).
inline std::string mutagenFrames(const fs::path& file) {
  const std::string script =
      "import sys, mutagen.id3\n"
      "t = mutagen.id3.ID3(sys.argv[1], load_v1=False)\n"
      "print('v2.%d' % t.version[1])\n"
      "for k in sorted(t.keys()):\n"
      "    f = t[k]\n"
      "    if k.startswith('UFID'): print(k + '=' + f.data.decode())\n"
      "    else: print(k + '=' + '|'.join(str(x) for x in f.text) + ' enc=%d' % f.encoding)\n";
  const CommandResult r = run("/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(file.string()));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

}  // namespace testing_support
