// SPDX-License-Identifier: GPL-3.0-or-later
// A disc read from the files a cue sheet names, the way the sheet means it: raw sectors
// (BINARY, MOTOROLA), the data chunk of a RIFF WAVE file, or a FLAC file decoded with libFLAC,
// one file or many, with the silence PREGAP and POSTGAP add. Used for the sheets libcdio does
// not read as meant; libcdio itself is handed a sheet of the same table of contents over a
// sparse file, so the rest of the library keeps one kind of handle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CdRip_dll.h"
#include "cue_sheet.h"

namespace cdrip_internal {

// What a data file holds, by its first bytes.
enum class DataKind { Raw, Riff, Flac };
DataKind sniffDataFile(const std::filesystem::path& file);

class DiscSource {
 public:
  // The disc `sheet` describes, its files found through `locate` (the name as written, to the
  // path to open; empty when missing). Null with the reason when it cannot be read as a CD.
  using Locator = std::function<std::filesystem::path(const std::string& name)>;
  static std::shared_ptr<DiscSource> open(const cue::Sheet& sheet, const Locator& locate, std::string& problem);
  ~DiscSource();

  // Tracks, then the lead-out.
  const std::vector<TOCENTRY>& toc() const { return toc_; }
  // The files the audio comes from, in the sheet's order.
  const std::vector<std::string>& files() const { return paths_; }
  // A cue sheet of one BINARY file with this table of contents and the sheet's texts.
  std::string tocSheet(const std::string& binName) const;
  // Reads n sectors from lsn; false when one of them cannot be read (it is then silent).
  // Safe from any thread.
  bool read(uint8_t* out, int32_t lsn, uint32_t n);

  struct Piece;
  struct Data;

 private:
  DiscSource() = default;
  std::vector<TOCENTRY> toc_;
  std::vector<std::string> paths_;
  std::vector<std::unique_ptr<Data>> data_;
  std::vector<Piece> pieces_;
  int open_ = -1;  // the data file open for reading, -1: none
  cue::Sheet texts_;
  std::mutex lock_;
};

}  // namespace cdrip_internal
