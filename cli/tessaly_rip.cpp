// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip: the command-line front end. Lists a drive's tracks, names them, and rips them
// to WAV, raw PCM, tagged MP3 or FLAC files through the same components as the program, with
// the read offset corrected, checksums, the AccurateRip verification and a rip log.
#include <malloc.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "run/ExtractionRun.h"
#include "run/ParallelRip.h"
#include "run/RipProblems.h"
#include "app/globals.h"
#include "cli/cli_names.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "run/CoderSettings.h"
#include "mp3info/MP3Info.h"
#include "platform/events.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

enum class Output { Wav, Raw, Mp3, Flac };

// The --format names, in TOutputFormat order.
const std::vector<std::string> kFormats{"stereo44100", "mono44100", "stereo22050",
                                        "mono22050",   "stereo11025", "mono11025"};

// The cores this process may run on.
int coreCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

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
  int jobs = coreCount();
  bool offsetGiven = false;
  int offset = 0;       // --offset: samples, for drives and images alike
  int log = -1;         // 1 --log, 0 --no-log, -1 the [System] RipLog setting
  bool patternGiven = false;
  std::string namePattern;
};

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
         "  --jobs N           encode up to N tracks at once (default: the number of cores,\n"
         "                     here " +
         std::to_string(coreCount()) +
         "). The drive is still read once, track after track, by one reader;\n"
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

// Text as it may be shown on a terminal: control characters (C0, DEL and C1) and bytes that
// are not UTF-8 are written as \xHH, so that names from a shared cdplayer.ini cannot drive
// the terminal.
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
    // The length of a well-formed sequence that starts here, or 0.
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    bool ok = len > 0 && i + len <= n && p[i + 1] >= lo && p[i + 1] <= hi;
    for (size_t k = 2; ok && k < len; ++k) ok = p[i + k] >= 0x80 && p[i + k] <= 0xBF;
    // U+0080 to U+009F are control characters too.
    if (ok && c == 0xC2 && p[i + 1] <= 0x9F) ok = false;
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
int g_stdoutError = 0;

void out(const std::string& line) {
  if (g_stdoutError) return;
  const std::string text = shown(line) + "\n";
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    g_stdoutError = errno ? errno : EIO;
    std::fprintf(stderr, "tessaly-rip: cannot write to standard output: %s\n", std::strerror(g_stdoutError));
  }
}

// A line on standard error, its outside text escaped.
void note(const std::string& line) { std::fprintf(stderr, "%s\n", shown(line).c_str()); }

// The exit status, once standard output has been flushed: a failed write there is a failure.
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

// The chosen tracks, each one of the disc's audio tracks; none chosen is every audio track.
bool chooseTracks(const Options& o, const TCDRIP& ripper, std::vector<int>& out, std::string& why) {
  const int count = ripper.Tracks().Count();
  if (!o.tracksGiven) {
    for (int i = 0; i < count; ++i)
      if (ripper.IsAudioTrack(i)) out.push_back(i + 1);
    if (out.empty()) why = "the disc has no audio track";
    return !out.empty();
  }
  for (int t : o.tracks) {
    if (t > count) {
      why = "there is no track " + std::to_string(t) + " (the disc has " + std::to_string(count) + ")";
      return false;
    }
    if (!ripper.IsAudioTrack(t - 1)) {
      why = "track " + std::to_string(t) + " is a data track";
      return false;
    }
    out.push_back(t);
  }
  return true;
}

// The settings' encoder values, with the options over them.
void setUpCoder(TLameCoder& coder, const Options& o) {
  TMP3Settings s = Settings;
  if (o.sampleRate > 0) s.SampleRates = o.sampleRate;
  if (o.bitrate > 0) s.BitRates = o.bitrate;
  if (o.maxBitrate > 0) s.MaxBitRates = o.maxBitrate;
  if (o.mode >= 0) s.Mode = o.mode;
  if (o.quality >= 0) s.Quality = o.quality;
  if (o.vbrQuality >= 0) s.VBRQuality = o.vbrQuality;
  if (o.cbr) s.EnableVBR = 0;
  SetUpCoder(coder, s);
}

// The first of Ctrl-C, SIGTERM and SIGHUP: each cancels the track being ripped.
volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void onInterrupt(int sig) {
  if (!g_interrupted) g_interrupted = sig;
}

void hearInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

// Shows the percentage of the track being ripped: in place on a terminal, else a line for
// every tenth.
class ProgressLine {
 public:
  explicit ProgressLine(std::string label) : label_(shown(label)), tty_(isatty(STDERR_FILENO)) {}
  void Show(int percent) {
    if (tty_) {
      if (percent != last_) std::fprintf(stderr, "\r%s: %3d%%", label_.c_str(), percent);
    } else if (percent / 10 != last_ / 10 || (last_ < 0 && percent >= 0)) {
      std::fprintf(stderr, "%s: %d%%\n", label_.c_str(), percent);
    }
    last_ = percent;
  }
  void Done(const std::string& what) {
    if (tty_) std::fprintf(stderr, "\r%s: %s   \n", label_.c_str(), shown(what).c_str());
    else std::fprintf(stderr, "%s: %s\n", label_.c_str(), shown(what).c_str());
  }

 private:
  std::string label_;
  bool tty_;
  int last_ = -1;
};

int list(TCDRIP& ripper, const std::vector<std::string>& titles, const names::TResolved& found) {
  // A disc image names the file(s) its sectors are read from: the one its cue sheet's FILE
  // line names, or the one found in its place.
  const std::string files = ripper.ImageDataFile();
  for (size_t pos = 0; pos < files.size();) {
    const size_t eol = std::min(files.find('\n', pos), files.size());
    if (eol > pos) out("Data file: " + files.substr(pos, eol - pos));
    pos = eol + 1;
  }
  out("DiscID: " + ripper.DiscID());
  out("Names: " + found.sourceText);
  if (const std::string album = cli::AlbumLine(found.names); !album.empty()) out(album);
  for (int i = 0; i < ripper.Tracks().Count(); ++i) {
    const TTrack& t = ripper.Tracks().Objects(i);
    out(titles[static_cast<size_t>(i)] + " " + IntToStr2(static_cast<uint16_t>(t.TrackNum)) + " " + t.TrackType + " " +
        std::to_string(t.StartSector) + " " + std::to_string(t.EndSector) + " " + ripper.TrackDuration(i));
  }
  return 0;
}

// One line typed on the terminal; false at the end of the input or when a signal cancels.
bool readAnswer(std::string& line) {
  line.clear();
  for (;;) {
    if (g_interrupted) return false;
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, 200);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    char c;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
}

// Reads an answer to the overwrite question from a terminal: yes, no or replace all.
int askOnTerminal(const std::string& name) {
  for (;;) {
    std::fprintf(stderr, "%s already exists,do you want to replace it? [y]es, [n]o, replace [a]ll: ",
                 shown(name).c_str());
    std::fflush(stderr);
    std::string line;
    if (!readAnswer(line)) {
      std::fprintf(stderr, "\n");
      return oaNo;  // the end of the input, or a cancel, answers nothing: keep the file
    }
    for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    line.erase(0, line.find_first_not_of(" \t"));
    line.erase(line.find_last_not_of(" \t\r") + 1);
    if (line == "y" || line == "yes") return oaYes;
    if (line == "n" || line == "no") return oaNo;
    if (line == "a" || line == "all" || line == "replace all") return oaYesToAll;
  }
}

// The run's view of the command line: every track of the disc is a row, ticked when chosen;
// the status lines and the progress go to standard error, each finished file's name to
// standard output.
class CliHost : public TExtractionHost {
 public:
  CliHost(TCDRIP& ripper, const std::vector<std::string>& titles, const names::TAlbumNames& names,
          const std::set<int>& chosen, bool replaceAll)
      : ripper_(ripper), titles_(titles), names_(names), chosen_(chosen), replaceAll_(replaceAll) {
    ripper_.OnProgress = [this](TCDRIP&, uint16_t percent) {
      if (progress_) progress_->Show(percent);
    };
  }
  ~CliHost() override { ripper_.OnProgress = nullptr; }
  CliHost(const CliHost&) = delete;
  CliHost& operator=(const CliHost&) = delete;

  // What reading the row's track met, asked for when the row is done.
  std::function<TReadReport()> RowReport;

  int RowCount() const override { return static_cast<int>(titles_.size()); }
  bool RowChecked(int row) const override { return chosen_.count(row + 1) > 0; }
  std::string RowCaption(int row) const override { return titles_[static_cast<size_t>(row)]; }
  std::string RowTrackIndex(int row) const override { return std::to_string(row); }
  TTrackTags RowTags(int row) const override { return cli::RowTags(names_, static_cast<size_t>(row)); }
  void SetRowStatus(int row, const std::string& status, const std::string& fileName) override {
    if (status == "OK") {
      const std::string errors = RowReport ? ReadErrorsText(ripper_, row + 1, RowReport()) : std::string();
      progress_->Done(errors.empty() ? "done" : "done, with read errors: " + errors);
      out(fileName);
    } else {
      progress_->Done("cancelled");
      note("tessaly-rip: cancelled; " + fileName + " keeps what was ripped");
    }
  }
  void ShowStatus(int row, const std::string& line) override {
    note(line);
    row_ = row;
    jitterLinesBefore_ = ripper_.JitterLog().size();
    progress_ = std::make_unique<ProgressLine>(ripper_.Tracks().Strings(row));
  }
  void ShowPath(const std::string& line) override { note(line); }
  int AskOverwrite(const std::string& name) override {
    if (replaceAll_) return oaYesToAll;
    if (!isatty(STDIN_FILENO)) {
      note("tessaly-rip: " + name + " already exists; not replaced, and the run stops here " +
           "(no terminal to ask on; give --yes to replace existing files)");
      refused_ = true;
      return oaNo;
    }
    const int answer = askOnTerminal(name);
    if (answer == oaNo && !g_interrupted) {
      note("tessaly-rip: " + name + " not replaced; the run stops here");
      refused_ = true;
    }
    return answer;
  }
  bool Cancelled() const override { return g_interrupted != 0; }
  void TrackVerified(int row, const std::string& text) override {
    note(ripper_.Tracks().Strings(row) + ": " + text);
  }
  // The look-up's line, the summary and where the log went, once the log is written.
  void RunSummary(const std::string& text) override {
    if (Log) note(Log().Lookup.Text());
    note(text);
    if (LogName) note("Rip log: " + LogName());
  }
  std::string NamesSource() const override { return NamesFrom; }
  std::string NamesFrom;
  // The run's log, whichever run it is.
  std::function<const verify::TRipLog&()> Log;
  std::function<std::string()> LogName;
  void ResetProgress() override {}
  void OpenFolder(const std::string&) override {}  // a terminal has no folder window to open
  void Finish(int) override {}

  bool Refused() const { return refused_; }
  int Row() const { return row_; }  // the row last begun
  // The jitter-log lines the CD component added since the row began.
  TReadReport RipperReport() const {
    TReadReport r;
    r.JitterErrorCount = ripper_.JitterErrorCount();
    r.DamagedFirst = ripper_.DamagedFirst();
    r.DamagedLast = ripper_.DamagedLast();
    const auto& log = ripper_.JitterLog();
    r.JitterLog.assign(log.begin() + static_cast<long>(std::min(jitterLinesBefore_, log.size())), log.end());
    return r;
  }

 private:
  TCDRIP& ripper_;
  const std::vector<std::string>& titles_;
  const names::TAlbumNames& names_;
  const std::set<int>& chosen_;
  bool replaceAll_;
  std::unique_ptr<ProgressLine> progress_;
  bool refused_ = false;
  int row_ = -1;
  size_t jitterLinesBefore_ = 0;
};

int rip(TCDRIP& ripper, TLameCoder& coder, const Options& o, const std::vector<std::string>& titles,
        const names::TAlbumNames& names, const std::string& namesSource) {
  std::vector<int> tracks;
  std::string why;
  if (!chooseTracks(o, ripper, tracks, why)) return fail(why);

  ripper.WriteWAV = o.output == Output::Wav;
  if (o.format >= 0) ripper.ApplyOutputFormat(static_cast<TOutputFormat>(o.format));
  if (o.output == Output::Mp3) setUpCoder(coder, o);
  if (!o.outDir.empty()) Settings.OutDir = o.outDir;

  hearInterrupts();
  platform::SetProcessMessagesHook([&] {
    if (g_interrupted) ripper.CancelRip();
  });
  const std::set<int> chosen(tracks.begin(), tracks.end());
  CliHost host(ripper, titles, names, chosen, o.yes);
  host.NamesFrom = namesSource;
  TMP3Info tagger;
  tagger.SetGenreID(12);
  const TRunOutput output = o.output == Output::Mp3    ? TRunOutput::Mp3
                            : o.output == Output::Raw  ? TRunOutput::Raw
                            : o.output == Output::Flac ? TRunOutput::Flac
                                                       : TRunOutput::Wav;
  if (o.log >= 0) MoreSettings.RipLog = o.log == 1;
  // A disc image carries no drive offset: only --offset moves its samples.
  const bool image = !ripper.ImageDataFile().empty();
  const int32_t offset = o.offsetGiven ? o.offset : image ? 0 : DriveReadOffset(ripper.DriveName());
  const bool offsetKnown = o.offsetGiven || image || DriveReadOffsetKnown(ripper.DriveName());
  // The CD library converts other formats before the samples are seen: nothing to shift.
  if (offset != 0 && ripper.OutputFormat() != STEREO44100) {
    if (o.offsetGiven) return fail("--offset needs the format stereo44100 (other formats are converted before the shift)");
    note("tessaly-rip: the drive's read offset is not applied to converted samples (--format " +
         kFormats[ripper.OutputFormat()] + ")");
  }
  // Only MP3 and FLAC need encoding: WAV and raw go one track at a time whatever --jobs says.
  // A single track gains too: it is read while it is encoded.
  std::unique_ptr<TParallelRun> parallel;
  std::unique_ptr<TExtractionRun> single;
  if ((output == TRunOutput::Mp3 || output == TRunOutput::Flac) && o.jobs > 1) {
    parallel = std::make_unique<TParallelRun>(host, ripper, coder, Settings, o.jobs);
    parallel->SetReadOffset(offset, offsetKnown, image);
    host.RowReport = [&] { return parallel->RowReport(); };
    host.Log = [&]() -> const verify::TRipLog& { return parallel->RipLog(); };
    host.LogName = [&] { return parallel->RipLogName(); };
  } else {
    single = std::make_unique<TExtractionRun>(host, ripper, tagger, Settings);
    single->SetReadOffset(offset, offsetKnown, image);
    host.RowReport = [&] { return host.RipperReport(); };
    host.Log = [&]() -> const verify::TRipLog& { return single->RipLog(); };
    host.LogName = [&] { return single->RipLogName(); };
  }
  auto lastName = [&] { return parallel ? parallel->LastName() : single->LastName(); };
  try {
    if (parallel) parallel->Perform(output);
    else single->Perform(output);
  } catch (const EFCreateError& e) {
    return fail(std::string(e.what()) + ": " + e.reason());
  } catch (const ECDRIPError& e) {
    return fail(lastName() + ": " + e.what() + (e.reason().empty() ? std::string() : " (" + e.reason() + ")"));
  } catch (const EInOutError& e) {
    return fail(lastName() + ": cannot tag: " + e.what());
  } catch (const ETrackNotRead&) {
    return fail(WhyTrackNotRead(ripper, host.Row() + 1));
  }
  if (g_interrupted) return 128 + g_interrupted;
  if (host.Refused()) return kExitFailure;
  return 0;
}

int run(const Options& opts) {
  if (opts.patternGiven) MoreSettings.NamePattern = opts.namePattern;
  for (const auto& d : opts.drives)
    if (CR_AddDrive(d.c_str()) == CDEX_ERROR) return fail("cannot open '" + d + "': no such image or device");
  try {
    TCDRIP ripper;
    TLameCoder coder;
    ApplyStoredRipperValues(ripper, &coder);
    ripper.ReadRetries = MoreSettings.Retries;
    const int count = ripper.GetNumCDROM();
    if (count == 0) return fail("no CD drive or disc image found");
    if (opts.drive >= count)
      return fail("there is no drive " + std::to_string(opts.drive) + " (drives 0 to " + std::to_string(count - 1) + ")");
    for (int i = 0; i < count; ++i) {
      ripper.SelectDrive(i);
      if (opts.list) out("Drive " + std::to_string(i) + ": " + ripper.DriveName());
    }
    ripper.SelectDrive(opts.drive);
    if (ripper.Tracks().Count() == 0) return fail(NoDiscText(ripper));

    // Titles: the entry texts, then the names from cdplayer.ini, CD-Text or MusicBrainz, then
    // the options.
    names::TResolveOptions ask;
    ask.lookup = opts.lookup == 1   ? names::TLookupMode::Always
                 : opts.lookup == 0 ? names::TLookupMode::Never
                 : MoreSettings.LookupAutomatic ? names::TLookupMode::WhenUnnamed
                                                : names::TLookupMode::Never;
    ask.release = opts.release;
    ask.service.server = MusicBrainzServer();
    const names::TResolved found = cli::ResolveDiscNames(ripper, ask);
    for (const auto& line : found.notes) note("tessaly-rip: " + line);
    for (const auto& line : cli::ReleaseNotes(found)) note("tessaly-rip: " + line);
    std::vector<std::string> titles = cli::RowTitles(ripper, found);
    for (const auto& [n, text] : opts.titles) {
      if (n > static_cast<int>(titles.size()))
        usageError("--title " + std::to_string(n) + ": the disc has " + std::to_string(titles.size()) + " tracks");
      titles[static_cast<size_t>(n - 1)] = text;
    }

    if (opts.saveNames && !names::SaveNames(ripper.DiscID(), found.names, titles))
      return fail("cannot save the track names to " + CDPlayerIniPath().string());
    if (opts.list) return list(ripper, titles, found);
    if (opts.saveNames) return 0;
    return rip(ripper, coder, opts, titles, found.names, found.sourceText);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // glibc hands large freed blocks back to the kernel at once and takes them again as fresh
  // zeroed pages at the next allocation; the CD library's read buffers made most of a rip's
  // time page faults that way. Large thresholds keep them in the process.
  mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
  // A closed pipe on standard output shows as a failed write (told, exit status 1), not as a
  // process killed between two tracks; a file-size limit as a short write ("Write error").
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  const Options opts = parseArgs(argc, argv);
  try {
    LoadSettings();  // a first run writes the settings file, as the program does
  } catch (const EIniFileException& e) {
    note(std::string("tessaly-rip: warning: ") + e.what() + (e.Reason.empty() ? "" : ": " + e.Reason));
  }
  return finish(run(opts));
}
