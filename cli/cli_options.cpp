// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_options.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "app/globals.h"
#include "cli/cli_output.h"
#include "run/ParallelRip.h"

namespace cli {

const std::vector<std::string> kFormats{"stereo44100", "mono44100", "stereo22050",
                                        "mono22050",   "stereo11025", "mono11025"};

std::string helpText() {
  return "Usage: tessaly-rip [IMAGE-OR-DEVICE ...] [options]\n"
         "\n"
         "Rips the audio tracks of a CD to WAV, raw PCM, MP3 or FLAC files, or lists them.\n"
         "Every IMAGE-OR-DEVICE (a CUE/BIN, TOC or NRG image, or a device such as /dev/sr0) is\n"
         "offered as a drive after the drives found on this system. Without --list or\n"
         "--save-names the chosen tracks are ripped in disc order, one after the other, named by\n"
         "their titles as the program names them.\n"
         "\n"
         "Names come from the disc's section in cdplayer.ini when it has one; else from the\n"
         "disc's CD-Text; else from MusicBrainz (the disc ID and the table of contents are sent,\n"
         "nothing else); else the tracks are TrackNN. The server is [Lookup] Server in the\n"
         "settings, or $TESSALY_MUSICBRAINZ_URL.\n"
         "\n"
         "Choosing:\n"
         "  --drive N          use drive N (from 0; default 0)\n"
         "  --tracks LIST      tracks to rip, from 1, e.g. 1,3-5 (default: every audio track)\n"
         "  --list             print every drive as 'Drive N: NAME', then for the chosen drive\n"
         "                     the data file(s) a disc image is read from as 'Data file: FILE',\n"
         "                     its DiscID, where the names came from as 'Names: SOURCE'\n"
         "                     (cdplayer.ini, CD-Text, MusicBrainz (RELEASE) or none), the\n"
         "                     album as 'Album: ARTIST / TITLE (YEAR)' when known, and one\n"
         "                     line per track: TITLE NUMBER TYPE START END DURATION\n"
         "Naming:\n"
         "  --title N=TEXT     name track N (may repeat)\n"
         "  --lookup           ask MusicBrainz even when the disc has names\n"
         "  --no-lookup        never ask MusicBrainz (default: [Lookup] Automatic, asking\n"
         "                     when the disc has no names)\n"
         "  --release N|MBID   the MusicBrainz release to take when there are several\n"
         "                     (default: the first; the others are listed on standard error)\n"
         "  --save-names       save the names found to cdplayer.ini: the track names and the\n"
         "                     album values, keeping the stored album values not known\n"
         "Output:\n"
         "  --wav | --raw | --mp3 | --flac\n"
         "                     WAV files (default), raw PCM, MP3 files with an ID3v1 tag, or\n"
         "                     FLAC files (level: [System] FlacLevel in the settings)\n"
         "  --format F         stereo44100 (default), mono44100, stereo22050, mono22050,\n"
         "                     stereo11025 or mono11025\n"
         "  --out DIR          output folder (default: the settings' output folder)\n"
         "  --name-pattern P   name the files by P instead of [System] NamePattern: %title%,\n"
         "                     %nn%, %artist%, %album%, %albumartist%, %year%; a / makes\n"
         "                     subfolders, e.g. '%albumartist%/%album%/%nn% %title%'\n"
         "  --yes              replace existing files without asking (replace all); otherwise\n"
         "                     the question is asked on the terminal (yes, no, replace all),\n"
         "                     and without a terminal the run stops at the first existing file\n"
         "Proof:\n"
         "  --offset N         the drive's read offset in samples (signed): each track is read\n"
         "                     N samples later, with the neighbouring sectors, silence where\n"
         "                     the disc ends. Applies to disc images too. Default: [Drive NAME]\n"
         "                     ReadOffset or [Drive] ReadOffset for a drive, 0 for an image\n"
         "  --log | --no-log   write a rip log (CRC32, AccurateRip checksums and verification\n"
         "                     of every track) beside the files as ALBUM.log, or not (default:\n"
         "                     [System] RipLog). With the log, each track's verification is\n"
         "                     printed as it is ripped and the summary at the end; the disc is\n"
         "                     looked up in the AccurateRip database ([Lookup] AccurateRip, or\n"
         "                     $TESSALY_ACCURATERIP_URL; the disc's identifiers are sent)\n"
         "MP3 (defaults from the settings file):\n"
         "  --bitrate KBPS     bit rate; the minimum with VBR\n"
         "  --max-bitrate KBPS maximum bit rate with VBR\n"
         "  --vbr-quality Q    VBR quality, 0 (best) to 9\n"
         "  --cbr              constant bit rate instead of VBR\n"
         "  --mode M           stereo, jstereo, dual or mono\n"
         "  --quality Q        normal, low, high or voice\n"
         "  --samplerate HZ    the MP3 file's sample rate\n"
         "  --jobs N           encode up to N tracks at once (default: the settings' [System]\n"
         "                     Jobs; 0, its default, is one per core, here " +
         std::to_string(RunJobs(0)) +
         ").\n"
         "                     The drive is still read once, track after track, by one reader;\n"
         "                     the files, names, tags, messages and rip log are those of\n"
         "                     --jobs 1. Only MP3 and FLAC need encoding: WAV and raw rips go\n"
         "                     one track at a time.\n"
         "\n"
         "  --help             show this text and exit\n"
         "  --version          show the version and exit\n"
         "\n"
         "Titles and names are printed with control characters escaped as \\xHH.\n"
         "Ctrl-C, SIGTERM and SIGHUP cancel the track being ripped and keep what was written\n"
         "(exit status 128 + the signal's number: 130 for Ctrl-C).\n"
         "Exit status: 0 done, 1 failure (no drive or disc, bad track, unwritable file, an\n"
         "existing file not replaced, standard output not writable), 2 usage (a bad option\n"
         "or option value).\n";
}

namespace {

bool parseInt(const std::string& text, int& out, int lo, int hi) {
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

int choice(const std::string& value, const std::vector<std::string>& names, const char* what) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == value) return static_cast<int>(i);
  usageError(std::string("bad ") + what + " '" + value + "'");
}

}  // namespace

// "1,3-5": track numbers from 1 to 99, ascending ranges; false when the text is not a list.
bool parseTrackList(const std::string& text, std::vector<int>& out) {
  if (text.empty()) return false;
  std::set<int> tracks;
  size_t pos = 0;
  while (pos <= text.size()) {
    const size_t comma = std::min(text.find(',', pos), text.size());
    const std::string item = text.substr(pos, comma - pos);
    const auto dash = item.find('-', 1);
    int lo = 0, hi = 0;
    const bool ok = dash == std::string::npos
                        ? parseInt(item, lo, 1, 99) && (hi = lo)
                        : parseInt(item.substr(0, dash), lo, 1, 99) && parseInt(item.substr(dash + 1), hi, 1, 99) && lo <= hi;
    if (!ok) return false;
    for (int t = lo; t <= hi; ++t) tracks.insert(t);
    pos = comma + 1;
  }
  out.assign(tracks.begin(), tracks.end());
  return true;
}

Options parseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usageError("option " + a + " needs a value");
      return argv[++i];
    };
    auto number = [&](int lo, int hi) {
      const std::string v = value();
      int n = 0;
      if (!parseInt(v, n, lo, hi)) usageError("bad value '" + v + "' for " + a);
      return n;
    };
    if (a == "--help" || a == "-h") {
      const std::string text = helpText();
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::exit(finish(0));
    } else if (a == "--version") {
      std::fputs("Tessaly " TESSALY_VERSION "\n"
                 "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                 "This is free software: you are free to change and redistribute it.\n"
                 "There is NO WARRANTY, to the extent permitted by law.\n",
                 stdout);
      std::exit(finish(0));
    } else if (a == "--list") {
      o.list = true;
    } else if (a == "--drive") {
      o.drive = number(0, 1000);
    } else if (a == "--tracks") {
      const std::string v = value();
      if (!parseTrackList(v, o.tracks)) usageError("bad track list '" + v + "' (want numbers from 1 to 99, e.g. 1,3-5)");
      o.tracksGiven = true;
    } else if (a == "--wav") {
      o.output = Output::Wav;
    } else if (a == "--raw") {
      o.output = Output::Raw;
    } else if (a == "--mp3") {
      o.output = Output::Mp3;
    } else if (a == "--flac") {
      o.output = Output::Flac;
    } else if (a == "--name-pattern") {
      o.namePattern = value();
      if (o.namePattern.empty()) usageError("--name-pattern needs a pattern, e.g. '%nn% %title%'");
      o.patternGiven = true;
    } else if (a == "--offset") {
      o.offset = number(-kMaxReadOffset, kMaxReadOffset);
      o.offsetGiven = true;
    } else if (a == "--log") {
      o.log = 1;
    } else if (a == "--no-log") {
      o.log = 0;
    } else if (a == "--format") {
      o.format = choice(value(), kFormats, "format");
    } else if (a == "--out") {
      o.outDir = value();
      if (o.outDir.empty()) usageError("--out needs a folder");
    } else if (a == "--yes") {
      o.yes = true;
    } else if (a == "--title") {
      const std::string v = value();
      const auto eq = v.find('=');
      int n = 0;
      if (eq == std::string::npos || !parseInt(v.substr(0, eq), n, 1, 99))
        usageError("bad value '" + v + "' for --title (want N=TEXT)");
      o.titles[n] = v.substr(eq + 1);
    } else if (a == "--save-names") {
      o.saveNames = true;
    } else if (a == "--lookup") {
      o.lookup = 1;
    } else if (a == "--no-lookup") {
      o.lookup = 0;
    } else if (a == "--release") {
      o.release = value();
      if (o.release.empty()) usageError("--release needs a number or a MusicBrainz release ID");
    } else if (a == "--bitrate") {
      o.bitrate = number(8, 320);
    } else if (a == "--max-bitrate") {
      o.maxBitrate = number(8, 320);
    } else if (a == "--vbr-quality") {
      o.vbrQuality = number(0, 9);
    } else if (a == "--cbr") {
      o.cbr = true;
    } else if (a == "--mode") {
      o.mode = choice(value(), {"stereo", "jstereo", "dual", "mono"}, "mode");
    } else if (a == "--quality") {
      o.quality = choice(value(), {"normal", "low", "high", "voice"}, "quality");
    } else if (a == "--samplerate") {
      const std::string v = value();
      int n = 0;
      const std::set<int> rates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
      if (!parseInt(v, n, 1, 48000) || !rates.count(n)) usageError("bad sample rate '" + v + "'");
      o.sampleRate = n;
    } else if (a == "--jobs" || a == "-j") {
      o.jobs = number(1, 256);
    } else if (a.size() > 1 && a[0] == '-') {
      usageError("unknown option '" + a + "'");
    } else {
      o.drives.push_back(a);
    }
  }
  return o;
}

}  // namespace cli
