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
#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "run/CoderSettings.h"
#include "mp3info/MP3Info.h"
#include "platform/events.h"

using namespace cli;

namespace {

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
  // The encoders: --jobs, else the settings' [System] Jobs, as the window takes them.
  const int jobs = RunJobs(o.jobs > 0 ? o.jobs : MoreSettings.Jobs);
  std::unique_ptr<TParallelRun> parallel;
  std::unique_ptr<TExtractionRun> single;
  if ((output == TRunOutput::Mp3 || output == TRunOutput::Flac) && jobs > 1) {
    parallel = std::make_unique<TParallelRun>(host, ripper, coder, Settings, jobs);
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
