// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/RipLog.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "app/globals.h"
#include "platform/output_file.h"
#include "verify/Checksums.h"

namespace verify {

namespace {

std::string hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string padLeft(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string peakText(uint32_t peak) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f %%", PeakPercent(peak));
  return text;
}

bool hasErrors(const TRipLogTrack& t) {
  return t.ReadErrors > 0 || (t.Status != "OK" && t.Status != "Cancelled");
}

}  // namespace

std::string SectorTime(int64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld.%02lld", static_cast<long long>(sectors / (75 * 60)),
                static_cast<long long>(sectors / 75 % 60), static_cast<long long>(sectors % 75));
  return text;
}

std::string TRipLog::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::vector<std::string> TRipLog::Summary() const {
  std::vector<std::string> lines;
  bool errors = !errors_.empty();
  int unverified = 0;
  for (const TRipLogTrack& t : tracks_) {
    errors = errors || hasErrors(t);
    if (t.Verification.Match != TArMatch::Accurate) ++unverified;
  }
  if (cancelled_) lines.push_back("The run was cancelled");
  if (errors) lines.push_back("Errors occurred");
  if (unverified > 0) lines.push_back(std::to_string(unverified) + " tracks could not be verified");
  if (lines.empty()) lines.push_back(tracks_.empty() ? "No track was ripped" : "All tracks accurately ripped");
  return lines;
}

std::string TRipLog::SummaryLine() const {
  std::string line;
  for (const std::string& s : Summary()) line += (line.empty() ? "" : "; ") + s;
  return line;
}

std::string TRipLog::Text() const {
  std::string out;
  auto line = [&out](const std::string& text = {}) { out += text + "\n"; };
  line(Program + " " + Version + " rip log");
  line("Date: " + (Date.empty() ? Now() : Date));
  line();
  line("Drive: " + DriveName);
  std::string offset = (ReadOffset > 0 ? "+" : "") + std::to_string(ReadOffset) + " samples";
  if (Image && ReadOffset == 0) offset += " (a disc image carries no drive offset)";
  else if (Image) offset += " (given for the image)";
  else if (!OffsetKnown && ReadOffset == 0) offset += " (not set). " + OffsetUnknownNote();
  line("Read offset: " + offset);
  line(std::string("Read mode: ") + (Image ? "image" : "paranoia full mode"));
  if (!DiscId.empty()) line("Disc ID: " + DiscId);
  line("Names from: " + (NamesSource.empty() ? std::string("none") : NamesSource));
  line("Output: " + OutputFormat + (OutputSettings.empty() ? "" : ", " + OutputSettings));
  line();
  line("TOC");
  line("  Track  Type   Start     Length    Start sector  End sector  Sectors");
  for (const TTocTrack& t : Toc) {
    const int64_t sectors = int64_t{t.EndSector} - t.StartSector + 1;
    line("  " + padLeft(std::to_string(t.Number), 5) + "  " + (t.Audio ? "Audio" : "Data ") + "  " +
         SectorTime(t.StartSector) + "  " + SectorTime(sectors) + "  " + padLeft(std::to_string(t.StartSector), 12) +
         "  " + padLeft(std::to_string(t.EndSector), 10) + "  " + padLeft(std::to_string(sectors), 7));
  }
  if (!Toc.empty()) {
    try {
      line("AccurateRip disc ID: " + ArDiscIdText(ArDiscIds(Toc)));
    } catch (const std::exception& e) {
      line(std::string("AccurateRip disc ID: none (") + e.what() + ")");
    }
  }
  line(Lookup.Text());
  if (!Lookup.Url.empty()) line("  " + Lookup.Url);

  for (const TRipLogTrack& t : tracks_) {
    line();
    line("Track " + std::to_string(t.Number));
    line("  File: " + t.FileName);
    line("  Status: " + t.Status);
    if (t.ChecksumsKnown) {
      line("  Peak: " + peakText(t.Peak));
      line("  CRC32: " + hex8(t.Crc32));
    }
    if (t.ChecksumsKnown && t.ArKnown) {
      line("  AccurateRip v1: " + hex8(t.ArV1));
      line("  AccurateRip v2: " + hex8(t.ArV2));
    }
    line("  Verification: " + t.Verification.Text());
    line("  Read errors: " + std::to_string(t.ReadErrors));
    for (const std::string& j : t.JitterLines) line("  Jitter: " + j);
  }
  line();
  for (const std::string& e : errors_) line("Error: " + e);
  line("Summary");
  for (const std::string& s : Summary()) line("  " + s);
  return out;
}

void TRipLog::Write(const std::string& name) const {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(name).parent_path(), ec);
  const std::string text = Text();
  platform::OutputFile file(name);
  if (!file.Write(text.data(), text.size()) || !file.Finish())
    throw std::runtime_error("Cannot write the rip log " + name + ": " + file.Reason());
  file.Place();
}

std::string RipLogFileName(const std::string& outDir, const std::string& albumTitle, const std::string& discId) {
  std::string name = GetOutputFileName(outDir, albumTitle);
  // Nothing usable left of the title (blank, only separators or dots): the disc ID names it.
  if (name.size() >= 5 && name.compare(name.size() - 5, 5, "/.wav") == 0)
    name = GetOutputFileName(outDir, discId.empty() ? std::string("rip") : discId);
  if (name.size() >= 5 && name.compare(name.size() - 5, 5, "/.wav") == 0)
    name = GetOutputFileName(outDir, "rip");
  return name.substr(0, name.size() - 4) + ".log";
}

}  // namespace verify
