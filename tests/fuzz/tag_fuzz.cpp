// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the ID3v1 reader and writer with arbitrary files: the described error or a tag,
// never a crash; a saved tag always reads back.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "mp3info/MP3Info.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path file = fs::temp_directory_path() / ("tessaly-tag-fuzz-" + std::to_string(getpid()) + ".mp3");
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TMP3Info tag;
  try {
    tag.SetFilename(file.string());
  } catch (const EInOutError&) {
    if (size >= 128) std::abort();  // only short files fail to read
    return 0;
  }
  if (tag.GenreID() > 114 || tag.Title().size() > 60) std::abort();
  // Texts read back from a tag go out again in the same block.
  const std::string title = tag.Title();
  tag.SetTitle(title + std::string(reinterpret_cast<const char*>(data), size < 40 ? size : 40));
  tag.Save();
  if (!tag.Saved()) std::abort();
  TMP3Info back;
  back.SetFilename(file.string());
  if (!back.Valid()) std::abort();
  back.RemoveID3();
  return 0;
}
