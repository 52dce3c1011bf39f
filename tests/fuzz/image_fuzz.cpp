// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the disc-image readers through the CD library with arbitrary cue sheets, cdrdao TOC
// files and NRG files (the first byte chooses which; the rest is the file), beside data files
// of real sectors (raw, a RIFF WAVE file and a FLAC file, for sheets that name them): whatever
// the bytes, the process lives on, a TOC the library accepts is one a CD can have, and every
// audio track reads to its end.
#include <FLAC++/encoder.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cdrip/CdRip_dll.h"

namespace fs = std::filesystem;

namespace {

const fs::path& folder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("tessaly-image-fuzz-" + std::to_string(getpid()));
    fs::create_directories(d);
    // Data files under the names seeds use: 300 sectors of a pattern.
    std::string data(300 * 2352, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 2352);
    for (const char* name : {"data.bin", "disc.bin"}) std::ofstream(d / name, std::ios::binary) << data;
    // The same sectors as a RIFF WAVE file and as a FLAC file.
    const uint32_t n = static_cast<uint32_t>(data.size());
    std::string wav = "RIFF....WAVEfmt ";
    for (uint32_t v : {16u, 1u | (2u << 16), 44100u, 176400u, 4u | (16u << 16)})
      for (int i = 0; i < 4; ++i) wav += static_cast<char>(v >> (8 * i));
    wav += "data";
    for (int i = 0; i < 4; ++i) wav += static_cast<char>(n >> (8 * i));
    std::ofstream(d / "a.wav", std::ios::binary) << wav << data;
    FLAC::Encoder::File flac;
    flac.set_channels(2);
    flac.set_bits_per_sample(16);
    flac.set_sample_rate(44100);
    if (flac.init((d / "a.flac").string()) == FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
      std::vector<FLAC__int32> samples(data.size() / 2);
      for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(data[2 * i]) | (static_cast<uint8_t>(data[2 * i + 1]) << 8));
      flac.process_interleaved(samples.data(), static_cast<uint32_t>(samples.size() / 2));
      flac.finish();
    }
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kExtensions[] = {".cue", ".toc", ".nrg"};
  const fs::path image = folder() / (std::string("disc") + kExtensions[data[0] % 3]);
  {
    std::ofstream out(image, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  CR_DeInit();
  if (CR_AddDrive(image.c_str()) != CDEX_OK || CR_Init() != CDEX_OK) std::abort();
  if (CR_ReadToc() == CDEX_OK) {
    const int32_t tracks = CR_GetNumTocEntries();
    if (tracks < 1 || tracks > 99) std::abort();
    int64_t previous = -1;
    for (int32_t i = 0; i <= tracks; ++i) {
      const auto start = static_cast<int32_t>(CR_GetTocEntry(i).dwStartSector);
      if (start <= previous || start > 449850) std::abort();  // a TOC no CD can have
      previous = start;
    }
    std::vector<uint8_t> buffer;
    for (int32_t i = 0; i < tracks; ++i) {
      const TOCENTRY e = CR_GetTocEntry(i);
      if (e.btFlag != CR_FLAG_AUDIO) continue;
      // The track's first sectors and its last ones.
      const auto first = static_cast<int32_t>(e.dwStartSector);
      const auto last = static_cast<int32_t>(CR_GetTocEntry(i + 1).dwStartSector) - 1;
      for (const auto& [from, to] : {std::pair{first, std::min(last, first + 40)}, std::pair{std::max(first, last - 40), last}}) {
        int32_t size = 0;
        if (CR_OpenRipper(&size, from, to) != CDEX_OK) std::abort();
        buffer.resize(static_cast<size_t>(size));
        int64_t got = 0;
        for (int chunk = 0;; ++chunk) {
          int32_t n = 0;
          const CDEX_ERR status = CR_RipChunk(buffer.data(), &n, -1);
          got += n;
          if (status == CDEX_RIPPING_DONE) break;
          if (status == CDEX_ERROR || chunk > 100) std::abort();  // the range must end
        }
        if (got != int64_t{to - from + 1} * 2352) std::abort();
        CR_CloseRipper();
      }
    }
  }
  CR_DeInit();
  return 0;
}
