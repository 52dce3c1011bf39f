#include "ParallelRip.h"

#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "platform/events.h"
#include "run/ParallelRip_State.h"

namespace {

// Files the run opens beside its rows' files, spills and tags: the folder of a file put under
// its name, the CD library's, the encoder library's, with room to spare.
constexpr long kSpareFiles = 8;

// The open files a run of `jobs` encoders and `rows` rows in flight needs at most: each row's
// file, a spill for each track being read or encoded, and the file each encoder tags.
long filesNeeded(int jobs, int rows) { return rows + 2L * jobs + 1 + kSpareFiles; }

// Descriptors this process has open now.
long openFiles() {
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return 16;
  long n = 0;
  while (const dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n - 1;  // the listing's own
}

}  // namespace

int RunJobs(int setting) {
  if (setting > 0) return setting;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

TParallelRun::TOpenFilePlan TParallelRun::PlanOpenFiles(int jobs, long freeFiles) {
  jobs = std::max(1, jobs);
  const int rows = 4 * jobs + 4;
  if (filesNeeded(jobs, rows) <= freeFiles) return {jobs, rows};
  // Fewer rows in flight first (less read ahead, the same parallelism); then fewer encoders,
  // each with one row and the reader with one more.
  if (filesNeeded(jobs, jobs + 1) > freeFiles) jobs = static_cast<int>(std::max(1L, (freeFiles - kSpareFiles - 2) / 3));
  const long fit = freeFiles - filesNeeded(jobs, 0);
  return {jobs, static_cast<int>(std::clamp<long>(fit, 1, 4L * jobs + 4))};
}

// The parallelism the open-file limit allows: the soft limit is raised as far as the hard one
// lets it when the asked one does not fit, and a lowered --jobs is told.
void TParallelRun::State::fitOpenFiles() {
  const int asked = jobs;
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) {
    window = static_cast<size_t>(4 * jobs + 4);
    return;
  }
  const long open = openFiles();
  const auto wanted = static_cast<rlim_t>(open + filesNeeded(jobs, 4 * jobs + 4));
  if (lim.rlim_cur < wanted && lim.rlim_cur < lim.rlim_max) {
    rlimit raised = lim;
    raised.rlim_cur = std::min(wanted, lim.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) lim = raised;
  }
  const TOpenFilePlan plan = PlanOpenFiles(jobs, static_cast<long>(lim.rlim_cur) - open);
  jobs = plan.Jobs;
  window = static_cast<size_t>(plan.Rows);
  if (jobs < asked && notice)
    notice("--jobs " + std::to_string(asked) + " lowered to " + std::to_string(jobs) + ": at most " +
           std::to_string(lim.rlim_cur) + " files may be open (ulimit -n)");
}

int TParallelRun::ChunkBuffers(int jobs) { return 8 + 8 * std::max(1, jobs); }

TParallelRun::TParallelRun(TExtractionHost& host, TCDRIP& ripper, const TLameCoder& coder, TMP3Settings& settings,
                           int jobs)
    : s_(std::make_unique<State>(host, ripper, settings, jobs)) {
  s_->coder.TakeValuesFrom(coder);
  s_->shape = FormatShape(ripper.OutputFormat());
  s_->coder.SetInputFormat(s_->shape.Channels, static_cast<uint32_t>(s_->shape.SampleRate));
  OnNotice = [](const std::string& text) { std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, text.c_str()); };
}

TParallelRun::~TParallelRun() = default;

int TParallelRun::LastAnswer() const { return s_->lastAnswer; }
const std::string& TParallelRun::LastName() const { return s_->lastName; }
const TReadReport& TParallelRun::RowReport() const { return s_->rowReport ? *s_->rowReport : s_->noReport; }
void TParallelRun::SetSpillLimit(uint64_t bytes) { s_->spillLimit = bytes; }
void TParallelRun::FollowReading(bool on) { s_->followReading = on; }
void TParallelRun::SetReadOffset(int32_t samples, bool known, bool image) {
  s_->offset = samples;
  s_->offsetKnown = known;
  s_->image = image;
}
const verify::TRipLog& TParallelRun::RipLog() const { return s_->runProof.Log(); }
const std::string& TParallelRun::RipLogName() const { return s_->runProof.LogName(); }

int TParallelRun::Perform(TRunOutput output) {
  State& s = *s_;
  if (output != TRunOutput::Mp3 && output != TRunOutput::Flac)
    throw std::invalid_argument("the parallel run writes MP3 or FLAC files");
  // As TExtractionRun: the question is asked again in every run; Encode follows the output.
  s.settings.AskOverwrite = true;
  s.output = output;
  s.flacLevel = MoreSettings.FlacLevel;
  s.ripper.Encode = true;
  s.ripper.EncodeFlac = output == TRunOutput::Flac;
  int total = 0;
  for (int row = 0; row < s.host.RowCount(); ++row)
    if (s.host.RowChecked(row)) ++total;
  s.lastAnswer = oaNone;
  s.lastName.clear();

  s.runProof.Start(s.host, s.ripper, output, s.offset, s.offsetKnown, s.image);

  s.notice = OnNotice;
  s.displayed = SIZE_MAX;
  s.readingOver = false;
  s.displayedPercent = -1;
  // A drive that retries a damaged sector keeps one read busy for long: the library asks
  // between its reads, so the front end's events go on and a Cancel ends the read at once.
  CR_SetAbortCallback(
      [](void* state) -> int32_t {
        platform::ProcessMessages();
        return static_cast<State*>(state)->host.Cancelled() ? 1 : 0;
      },
      &s);
  struct AbortCallbackReset {
    ~AbortCallbackReset() { CR_SetAbortCallback(nullptr, nullptr); }
  } abortCallbackReset;
  s.fitOpenFiles();
  s.startEncoders();
  std::exception_ptr failure;
  std::string failureText;
  try {
    s.readRows(total);
    s.readingOver = true;
    // The rows still being encoded, in order, as their encoders finish them.
    for (;;) {
      const uint64_t before = s.seen();
      s.report();
      s.releaseReported();
      if (s.ended || s.reported == s.rows.size()) break;
      s.waitMain(before);
    }
  } catch (const std::exception& e) {
    failure = std::current_exception();
    failureText = e.what();
  } catch (...) {
    failure = std::current_exception();
  }
  s.stopEncoders(failure != nullptr || s.ended);
  s.rows.clear();  // rows never reached leave no file

  // The log before the end steps, as one track at a time.
  try {
    s.runProof.Finish(s.host, s.settings.OutDir, failure != nullptr, failureText);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }

  // End of the run, however it ended.
  s.host.ResetProgress();
  std::error_code ec;
  if (s.settings.OpenWhenDone && !s.host.Cancelled() && s.lastAnswer != oaNo && !s.lastName.empty() &&
      std::filesystem::is_directory(FolderOf(s.lastName), ec))
    s.host.OpenFolder(FolderOf(s.lastName));
  const int result = s.host.Cancelled() ? 2 : 1;
  if (!s.runProof.LogName().empty()) s.host.RunSummary(s.runProof.Log().SummaryLine());
  s.host.Finish(result);
  if (failure) std::rethrow_exception(failure);
  return result;
}

void TParallelRun::State::startEncoders() {
  // Signals are the calling thread's to hear: the encoders block those sent to the process.
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGCHLD, SIGWINCH, SIGUSR1, SIGUSR2})
    sigaddset(&block, sig);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  ready.reserve(static_cast<size_t>(4 * jobs + 4));
  for (int i = 0; i < jobs; ++i) threads.emplace_back([this] { encoderMain(); });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void TParallelRun::State::stopEncoders(bool abort) {
  {
    std::lock_guard lock(m);
    quit = true;
    if (abort) stopEncoding = true;
  }
  workCv.notify_all();
  for (auto& t : threads) t.join();
  threads.clear();
}

bool TParallelRun::State::cancelled() {
  if (!host.Cancelled()) return false;
  {
    std::lock_guard lock(m);
    stopEncoding = true;
  }
  workCv.notify_all();
  return true;
}

uint64_t TParallelRun::State::seen() {
  std::lock_guard lock(m);
  return events;
}

// Waits for anything the reader and reporter were not told of before `before`: a part
// encoded, a row done, an encoder waiting. The time limit is for the host's Cancel, which
// nothing tells.
void TParallelRun::State::waitMain(uint64_t before) {
  std::unique_lock lock(m);
  mainCv.wait_for(lock, std::chrono::milliseconds(50), [&] { return events != before; });
}

void TParallelRun::State::markDone(Job& j, std::exception_ptr failure) {
  {
    std::lock_guard lock(m);
    if (failure && !j.failure) j.failure = failure;
    j.done = true;
    ++events;
  }
  mainCv.notify_all();
}

bool TParallelRun::State::pendingName(const std::string& name, size_t before) const {
  for (size_t i = reported; i < before; ++i)
    if (rows[i]->pathKnown && !rows[i]->stopped && rows[i]->name == name) return true;
  return false;
}

// --- the reporter ---

void TParallelRun::State::report() {
  // The front end's events (a window's repaints and its Cancel), a few dozen times a second.
  const auto now = std::chrono::steady_clock::now();
  if (now - eventsRun >= std::chrono::milliseconds(20)) {
    eventsRun = now;
    platform::ProcessMessages();
  }
  cancelled();  // a Cancel stops the encoders, whatever the reader is doing
  // A read-ahead copy goes as soon as neither its reader nor its encoder needs it.
  for (size_t i = reported; i < rows.size(); ++i) {
    Job& j = *rows[i];
    if (!j.spill) continue;
    std::lock_guard lock(m);
    if (j.readDone && j.encoderGone) dropSpill(j);
  }
  if (followReading) showFollowed();
  while (!ended && reported < rows.size()) {
    Job& j = *rows[reported];
    if (followReading) {
      // The labels and the bar are showFollowed's; the last name is the row reached, as
      // one track at a time.
      if (!j.headerShown && j.pathKnown) lastName = j.name;
      j.headerShown = true;
      bool done;
      {
        std::lock_guard lock(m);
        done = j.done;
      }
      if (!done) return;
      ++reported;
      finishRow(j);
      if (!ended) showFollowed();
      continue;
    }
    if (!j.headerShown) {
      j.headerShown = true;
      host.ShowStatus(j.row, j.statusLine);
      if (j.pathKnown) {
        lastName = j.name;
        host.ShowPath("To " + j.name);
      }
    }
    // Every percentage the track passed, in order, as the one-track loop reports them: a row
    // reached after its track was encoded shows the same progress lines.
    bool done;
    size_t upTo;
    {
      std::lock_guard lock(m);
      done = j.done;
      upTo = j.marksEncoded;
    }
    for (; j.marksShown < upTo; ++j.marksShown)
      if (ripper.OnProgress) ripper.OnProgress(ripper, static_cast<uint16_t>(j.marks[j.marksShown].percent));
    if (!done) return;
    ++reported;
    finishRow(j);
  }
}

// The row the labels and the bar follow: the newest row while the reader still reads (its
// reading progress), else the first one not yet reported (its encoding progress).
void TParallelRun::State::showFollowed() {
  if (ended || reported >= rows.size()) return;
  const size_t index = readingOver ? reported : rows.size() - 1;
  int percent = 0;
  {
    std::lock_guard lock(m);
    const Job& f = *rows[index];
    if (!readingOver) percent = f.marks.empty() ? 0 : f.marks.back().percent;
    else if (f.marksEncoded > 0) percent = f.marks[f.marksEncoded - 1].percent;
  }
  Job& j = *rows[index];
  if (index != displayed) {
    displayed = index;
    displayedPercent = -1;
    host.ShowStatus(j.row, j.statusLine);
    if (j.pathKnown) host.ShowPath("To " + j.name);
  }
  if (percent != displayedPercent && ripper.OnProgress) {
    displayedPercent = percent;
    ripper.OnProgress(ripper, static_cast<uint16_t>(percent));
  }
}

// Closes a track's spill file, under the lock: what it held is the disk's again.
void TParallelRun::State::dropSpill(Job& j) {
  spillHeld -= j.spillSize - j.spillFreed;
  j.spill.reset();
}

// Rows reported are done with: their memory goes, so that it stays flat over a disc. Called
// where the reader holds no row.
void TParallelRun::State::releaseReported() {
  for (size_t i = 0; i < reported; ++i) rows[i].reset();
}

void TParallelRun::State::finishRow(Job& j) {
  if (j.spill) {
    std::lock_guard lock(m);
    dropSpill(j);
  }
  if (j.stopped) {  // No: the run ends here, as it does one track at a time
    ended = true;
    return;
  }
  // The file goes under its name whatever ended its track, a cancel or a write error
  // included, as one track at a time it does.
  if (j.file) {
    try {
      j.file->Place();
    } catch (const platform::OutputFileError& e) {
      if (!j.failure) j.failure = std::make_exception_ptr(EFCreateError(e.name(), e.reason()));
    } catch (...) {
      if (!j.failure) j.failure = std::current_exception();
    }
    j.file.reset();
  }
  if (j.failure) {
    ended = true;
    // A track begun whose rip failed has its row in the log, as one track at a time: not one
    // the drive would not open, nor one whose tag could not be written after the rip.
    try {
      std::rethrow_exception(j.failure);
    } catch (const ETrackNotRead&) {
    } catch (const std::exception& e) {
      if (j.ripBegun && !j.tagFailed)
        runProof.AddRow(ripper, j.trackNum - 1, j.proof ? &*j.proof : nullptr, j.name, e.what(),
                        j.report.JitterErrorCount, j.report.JitterLog);
    } catch (...) {
    }
    std::rethrow_exception(j.failure);
  }
  rowReport = &j.report;
  const bool cancel = host.Cancelled();
  const std::string status = cancel ? "Cancelled" : "OK";
  host.SetRowStatus(j.row, status, j.name);
  rowReport = nullptr;
  runProof.AddRow(ripper, j.trackNum - 1, j.proof ? &*j.proof : nullptr, j.name, status, j.report.JitterErrorCount,
                  j.report.JitterLog);
  if (runProof.LogOn()) host.TrackVerified(j.row, runProof.Verification());
  if (cancel) {
    ended = true;
    cancelled();
  }
}

