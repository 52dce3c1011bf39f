// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip's command line: what it asks for, its help text and the reading of its options.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace cli {

enum class Output { Wav, Raw, Mp3, Flac };

// The --format names, in TOutputFormat order.
extern const std::vector<std::string> kFormats;

// What the command line asks for; unset encoder options keep the settings' values.
struct Options {
  std::vector<std::string> drives;
  int drive = 0;
  bool list = false;
  bool saveNames = false;
  int lookup = -1;      // 1 --lookup, 0 --no-lookup, -1 the [Lookup] Automatic setting
  std::string release;  // --release N or MBID
  bool yes = false;
  bool tracksGiven = false;
  std::vector<int> tracks;  // as given, in disc order, each once
  Output output = Output::Wav;
  int format = -1;  // TOutputFormat; -1 keeps the drive's
  std::string outDir;
  std::map<int, std::string> titles;
  int bitrate = -1, maxBitrate = -1, vbrQuality = -1, sampleRate = -1, mode = -1, quality = -1;
  bool cbr = false;
  int jobs = 0;  // --jobs; 0 takes the [System] Jobs setting (0 there: one per core)
  bool offsetGiven = false;
  int offset = 0;       // --offset: samples, for drives and images alike
  int log = -1;         // 1 --log, 0 --no-log, -1 the [System] RipLog setting
  bool patternGiven = false;
  std::string namePattern;
};

std::string helpText();

// "1,3-5": track numbers from 1 to 99, ascending ranges; false when the text is not a list.
bool parseTrackList(const std::string& text, std::vector<int>& out);

// The options, or the process ends: with the help or the version on standard output (status
// 0), or with a usage error (status 2).
Options parseArgs(int argc, char** argv);

}  // namespace cli
