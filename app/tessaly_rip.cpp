// tessaly-rip: the command-line front end. Lists a drive's tracks, names them, and rips them
// to WAV, raw PCM or tagged MP3 files through the same components as the program.
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/ExtractionRun.h"
#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "mp3info/MP3Info.h"
#include "platform/events.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

enum class Output { Wav, Raw, Mp3 };

// The --format names, in TOutputFormat order.
const std::vector<std::string> kFormats{"stereo44100", "mono44100", "stereo22050",
                                        "mono22050",   "stereo11025", "mono11025"};

// What the command line asks for; unset encoder options keep the settings' values.
struct Options {
  std::vector<std::string> drives;
  int drive = 0;
  bool list = false;
  bool saveNames = false;
  bool yes = false;
  std::string tracks;
  Output output = Output::Wav;
  int format = -1;  // TOutputFormat; -1 keeps the drive's
  std::string outDir;
  std::map<int, std::string> titles;
  int bitrate = -1, maxBitrate = -1, vbrQuality = -1, sampleRate = -1, mode = -1, quality = -1;
  bool cbr = false;
};

const char* const kHelp =
    "Usage: tessaly-rip [IMAGE-OR-DEVICE ...] [options]\n"
    "\n"
    "Rips the audio tracks of a CD to WAV, raw PCM or MP3 files, or lists them.\n"
    "Every IMAGE-OR-DEVICE (a CUE/BIN, TOC or NRG image, or a device such as /dev/sr0) is\n"
    "offered as a drive after the drives found on this system. Without --list or\n"
    "--save-names the chosen tracks are ripped in disc order, one after the other, named by\n"
    "their titles (TrackNN unless cdplayer.ini names the disc) as the program names them.\n"
    "\n"
    "Choosing:\n"
    "  --drive N          use drive N (from 0; default 0)\n"
    "  --tracks LIST      tracks to rip, from 1, e.g. 1,3-5 (default: every audio track)\n"
    "  --list             print every drive as 'Drive N: NAME', then the chosen drive's\n"
    "                     DiscID and one line per track: TITLE NUMBER TYPE START END DURATION\n"
    "Naming:\n"
    "  --title N=TEXT     name track N (may repeat)\n"
    "  --save-names       save the track names to cdplayer.ini, keeping the album values\n"
    "Output:\n"
    "  --wav | --raw | --mp3   WAV files (default), raw PCM, or MP3 files with an ID3v1 tag\n"
    "  --format F         stereo44100 (default), mono44100, stereo22050, mono22050,\n"
    "                     stereo11025 or mono11025\n"
    "  --out DIR          output folder (default: the settings' output folder)\n"
    "  --yes              replace existing files without asking (replace all); otherwise\n"
    "                     the question is asked on the terminal (yes, no, replace all),\n"
    "                     and without a terminal the run stops at the first existing file\n"
    "MP3 (defaults from the settings file):\n"
    "  --bitrate KBPS     bit rate; the minimum with VBR\n"
    "  --max-bitrate KBPS maximum bit rate with VBR\n"
    "  --vbr-quality Q    VBR quality, 0 (best) to 9\n"
    "  --cbr              constant bit rate instead of VBR\n"
    "  --mode M           stereo, jstereo, dual or mono\n"
    "  --quality Q        normal, low, high or voice\n"
    "  --samplerate HZ    the MP3 file's sample rate\n"
    "\n"
    "  --help             show this text and exit\n"
    "\n"
    "Ctrl-C cancels the track being ripped and keeps what was written (exit status 130).\n"
    "Exit status: 0 done, 1 failure (no drive or disc, bad track, unwritable file, an\n"
    "existing file not replaced), 2 usage.\n";

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "tessaly-rip: " << message << "\nTry 'tessaly-rip --help'.\n";
  std::exit(kExitUsage);
}

int fail(const std::string& message) {
  std::cerr << "tessaly-rip: " << message << "\n";
  return kExitFailure;
}

bool parseInt(const std::string& text, int& out, int lo, int hi) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

int choice(const std::string& value, const std::vector<std::string>& names, const char* what) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == value) return static_cast<int>(i);
  usageError(std::string("bad ") + what + " '" + value + "'");
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
      std::cout << kHelp;
      std::exit(0);
    } else if (a == "--list") {
      o.list = true;
    } else if (a == "--drive") {
      o.drive = number(0, 1000);
    } else if (a == "--tracks") {
      o.tracks = value();
    } else if (a == "--wav") {
      o.output = Output::Wav;
    } else if (a == "--raw") {
      o.output = Output::Raw;
    } else if (a == "--mp3") {
      o.output = Output::Mp3;
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
    } else if (a.size() > 1 && a[0] == '-') {
      usageError("unknown option '" + a + "'");
    } else {
      o.drives.push_back(a);
    }
  }
  return o;
}

// "1,3-5" as track numbers, each one of the disc's; empty text is every audio track.
bool parseTracks(const std::string& text, const TCDRIP& ripper, std::vector<int>& out, std::string& why) {
  const int count = ripper.Tracks().Count();
  if (text.empty()) {
    for (int i = 0; i < count; ++i)
      if (ripper.IsAudioTrack(i)) out.push_back(i + 1);
    if (out.empty()) why = "the disc has no audio track";
    return !out.empty();
  }
  size_t pos = 0;
  while (pos <= text.size()) {
    const size_t comma = std::min(text.find(',', pos), text.size());
    const std::string item = text.substr(pos, comma - pos);
    const auto dash = item.find('-');
    int lo = 0, hi = 0;
    const bool ok = dash == std::string::npos ? parseInt(item, lo, 1, 1000) && (hi = lo)
                                              : parseInt(item.substr(0, dash), lo, 1, 1000) &&
                                                    parseInt(item.substr(dash + 1), hi, 1, 1000) && lo <= hi;
    if (!ok) {
      why = "bad track list '" + text + "'";
      return false;
    }
    for (int t = lo; t <= hi; ++t) {
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
    pos = comma + 1;
  }
  return true;
}

// The settings' encoder values, in the order the program hands them over, then the options.
void setUpCoder(TLameCoder& coder, const Options& o) {
  const TMP3Settings& s = Settings;
  coder.SetSampleRate(static_cast<uint32_t>(o.sampleRate > 0 ? o.sampleRate : s.SampleRates));
  coder.SetBitrate(static_cast<uint32_t>(o.bitrate > 0 ? o.bitrate : s.BitRates));
  coder.SetMaxBitrate(static_cast<uint32_t>(o.maxBitrate > 0 ? o.maxBitrate : s.MaxBitRates));
  coder.SetMode(static_cast<uint8_t>(o.mode >= 0 ? o.mode : s.Mode));
  coder.SetQuality(static_cast<uint8_t>(o.quality >= 0 ? o.quality : s.Quality));
  coder.SetVBRQuality(o.vbrQuality >= 0 ? o.vbrQuality : s.VBRQuality);
  coder.SetEnableVBR(o.cbr ? false : s.EnableVBR != 0);
  coder.SetWriteVBRHeader(s.WriteVBRHeader != 0);
  coder.SetCopyright(s.CopyRight != 0);
  coder.SetOriginal(s.Original != 0);
  coder.SetCRC(s.CRC != 0);
  coder.SetPrivate(s.bPrivate != 0);
}

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void onInterrupt(int) { g_interrupted = 1; }

// Shows the percentage of the track being ripped: in place on a terminal, else a line for
// every tenth.
class ProgressLine {
 public:
  explicit ProgressLine(std::string label) : label_(std::move(label)), tty_(isatty(STDERR_FILENO)) {}
  void Show(int percent) {
    if (tty_) {
      if (percent != last_) std::fprintf(stderr, "\r%s: %3d%%", label_.c_str(), percent);
    } else if (percent / 10 != last_ / 10 || (last_ < 0 && percent >= 0)) {
      std::fprintf(stderr, "%s: %d%%\n", label_.c_str(), percent);
    }
    last_ = percent;
  }
  void Done(const char* what) {
    if (tty_) std::fprintf(stderr, "\r%s: %s   \n", label_.c_str(), what);
    else std::fprintf(stderr, "%s: %s\n", label_.c_str(), what);
  }

 private:
  std::string label_;
  bool tty_;
  int last_ = -1;
};

int list(TCDRIP& ripper, const std::vector<std::string>& titles) {
  std::cout << "DiscID: " << ripper.DiscID() << "\n";
  for (int i = 0; i < ripper.Tracks().Count(); ++i) {
    const TTrack& t = ripper.Tracks().Objects(i);
    std::cout << titles[static_cast<size_t>(i)] << " " << IntToStr2(static_cast<uint16_t>(t.TrackNum)) << " "
              << t.TrackType << " " << t.StartSector << " " << t.EndSector << " " << ripper.TrackDuration(i) << "\n";
  }
  return 0;
}

// Reads an answer to the overwrite question from a terminal: yes, no or replace all.
int askOnTerminal(const std::string& name) {
  for (;;) {
    std::fprintf(stderr, "%s already exists,do you want to replace it? [y]es, [n]o, replace [a]ll: ", name.c_str());
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::fprintf(stderr, "\n");
      return oaNo;  // the end of the input answers nothing: keep the file
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
  CliHost(TCDRIP& ripper, const std::vector<std::string>& titles, const std::set<int>& chosen, bool replaceAll)
      : ripper_(ripper), titles_(titles), chosen_(chosen), replaceAll_(replaceAll) {
    ripper_.OnProgress = [this](TCDRIP&, uint16_t percent) {
      if (progress_) progress_->Show(percent);
    };
  }
  ~CliHost() override { ripper_.OnProgress = nullptr; }
  CliHost(const CliHost&) = delete;
  CliHost& operator=(const CliHost&) = delete;

  int RowCount() const override { return static_cast<int>(titles_.size()); }
  bool RowChecked(int row) const override { return chosen_.count(row + 1) > 0; }
  std::string RowCaption(int row) const override { return titles_[static_cast<size_t>(row)]; }
  std::string RowTrackIndex(int row) const override { return std::to_string(row); }
  void SetRowStatus(int, const std::string& status, const std::string& fileName) override {
    if (status == "OK") {
      progress_->Done(ripper_.JitterErrorCount() ? "done, with read errors" : "done");
      std::cout << fileName << std::endl;
    } else {
      progress_->Done("cancelled");
      std::cerr << "tessaly-rip: cancelled; " << fileName << " keeps what was ripped\n";
    }
  }
  void ShowStatus(int row, const std::string& line) override {
    std::cerr << line << "\n";
    progress_ = std::make_unique<ProgressLine>(ripper_.Tracks().Strings(row));
  }
  void ShowPath(const std::string& line) override { std::cerr << line << "\n"; }
  int AskOverwrite(const std::string& name) override {
    if (replaceAll_) return oaYesToAll;
    if (!isatty(STDIN_FILENO)) {
      std::cerr << "tessaly-rip: " << name << " already exists; not replaced, and the run stops here "
                << "(no terminal to ask on; give --yes to replace existing files)\n";
      refused_ = true;
      return oaNo;
    }
    const int answer = askOnTerminal(name);
    if (answer == oaNo) {
      std::cerr << "tessaly-rip: " << name << " not replaced; the run stops here\n";
      refused_ = true;
    }
    return answer;
  }
  bool Cancelled() const override { return g_interrupted != 0; }
  void ResetProgress() override {}
  void OpenFolder(const std::string&) override {}  // a terminal has no folder window to open
  void Finish(int) override {}

  bool Refused() const { return refused_; }

 private:
  TCDRIP& ripper_;
  const std::vector<std::string>& titles_;
  const std::set<int>& chosen_;
  bool replaceAll_;
  std::unique_ptr<ProgressLine> progress_;
  bool refused_ = false;
};

int rip(TCDRIP& ripper, TLameCoder& coder, const Options& o, const std::vector<std::string>& titles) {
  std::vector<int> tracks;
  std::string why;
  if (!parseTracks(o.tracks, ripper, tracks, why)) return fail(why);

  ripper.WriteWAV = o.output == Output::Wav;
  if (o.format >= 0) ripper.ApplyOutputFormat(static_cast<TOutputFormat>(o.format));
  if (o.output == Output::Mp3) setUpCoder(coder, o);
  if (!o.outDir.empty()) Settings.OutDir = o.outDir;

  std::signal(SIGINT, onInterrupt);
  platform::SetProcessMessagesHook([&] {
    if (g_interrupted) ripper.CancelRip();
  });
  const std::set<int> chosen(tracks.begin(), tracks.end());
  CliHost host(ripper, titles, chosen, o.yes);
  TMP3Info tagger;
  tagger.SetGenreID(12);
  TExtractionRun run(host, ripper, tagger, Settings);
  const TRunOutput output = o.output == Output::Mp3 ? TRunOutput::Mp3
                            : o.output == Output::Raw ? TRunOutput::Raw
                                                      : TRunOutput::Wav;
  try {
    run.Perform(output);
  } catch (const EFCreateError& e) {
    return fail(std::string(e.what()) + ": " + e.reason());
  } catch (const ECDRIPError& e) {
    return fail(run.LastName() + ": " + e.what());
  } catch (const EInOutError& e) {
    return fail(run.LastName() + ": cannot tag: " + e.what());
  }
  if (g_interrupted) return kExitInterrupted;
  if (host.Refused()) return kExitFailure;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options opts = parseArgs(argc, argv);
  // A file-size limit then shows as a short write ("Write error"), not a killed process.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    LoadSettings();  // a first run writes the settings file, as the program does
  } catch (const EIniFileException& e) {
    std::cerr << "tessaly-rip: warning: " << e.what() << "\n";
  }
  for (const auto& d : opts.drives)
    if (CR_AddDrive(d.c_str()) == CDEX_ERROR) return fail("cannot open '" + d + "': no such image or device");
  try {
    TCDRIP ripper;
    TLameCoder coder;
    ApplyStoredRipperValues(ripper, &coder);
    const int count = ripper.GetNumCDROM();
    if (count == 0) return fail("no CD drive or disc image found");
    if (opts.drive >= count)
      return fail("there is no drive " + std::to_string(opts.drive) + " (drives 0 to " + std::to_string(count - 1) + ")");
    for (int i = 0; i < count; ++i) {
      ripper.SelectDrive(i);
      if (opts.list) std::cout << "Drive " << i << ": " << ripper.DriveName() << "\n";
    }
    ripper.SelectDrive(opts.drive);
    if (ripper.Tracks().Count() == 0)
      return fail("no readable disc in drive " + std::to_string(opts.drive) + " (" + ripper.DriveName() + ")");

    // Titles: the entry texts, then the names cdplayer.ini holds, then the options.
    std::vector<std::string> titles;
    for (int i = 0; i < ripper.Tracks().Count(); ++i) titles.push_back(ripper.Tracks().Strings(i));
    std::string artist, album, year, genre;
    std::vector<std::string> names;
    if (ReadCDInfo(ripper.DiscID(), artist, album, year, genre, names))
      for (size_t i = 0; i < names.size() && i < titles.size(); ++i) titles[i] = names[i];
    for (const auto& [n, text] : opts.titles) {
      if (n > static_cast<int>(titles.size()))
        usageError("--title " + std::to_string(n) + ": the disc has " + std::to_string(titles.size()) + " tracks");
      titles[static_cast<size_t>(n - 1)] = text;
    }

    if (opts.saveNames) {
      const TStoredAlbum stored = ReadStoredAlbum(ripper.DiscID());
      if (!WriteCDInfo(ripper.DiscID(), stored.Artist, stored.Album, stored.Year, stored.Genre, &titles))
        return fail("cannot save the track names to " + CDPlayerIniPath().string());
    }
    if (opts.list) return list(ripper, titles);
    if (opts.saveNames) return 0;
    return rip(ripper, coder, opts, titles);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}
