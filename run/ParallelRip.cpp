#include "ParallelRip.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <thread>

#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "mp3info/MP3Info.h"
#include "platform/output_file.h"
#include "platform/unique_fd.h"

namespace {

// The encoder library keeps its streams in one table: opening or closing a stream changes it,
// encoding only looks its stream up. So the encoder threads encode at once under the shared
// lock, and open and close streams under the lock alone (libmp3lame's start-up also fills
// tables that every stream reads).
std::shared_mutex g_encoderTable;

// Temporary PCM read ahead of the encoders, at most: beyond it the reader waits for them.
constexpr uint64_t kSpillLimit = uint64_t{512} << 20;


// Why a write to a track's file failed, as the one-track run reports it.
ECDRIPError writeError(const platform::OutputFile& file) { return ECDRIPError("Write error", file.Reason()); }

// A part of a track's PCM on its way to its encoder: a chunk buffer of the pool, or a range of
// the track's spill file.
struct Segment {
  int buffer = -1;  // the pool's buffer; -1: the spill file
  uint64_t offset = 0;
  size_t bytes = 0;
};

// A percentage of the library and where in the track's PCM it was reached.
struct Mark {
  uint64_t bytes = 0;  // the track's bytes read when the library gave it
  int percent = 0;
};

// One ticked row, from the reader that prepares and reads it through its encoder to the
// reporter that puts its file under its name and gives the row its status.
struct Job {
  explicit Job(size_t ringSize) : ring(ringSize) { marks.reserve(102); }

  int row = 0;
  std::string caption, statusLine, name;
  bool pathKnown = false;  // the name was built: its "To" line belongs to the row
  int trackNum = 0;
  TReadReport report;      // the reader's
  bool spilling = false;   // the reader's: the rest of the track goes to the spill file

  // Under the run's lock.
  // The parts waiting for the encoder, in order: a ring as large as the pool and one spill
  // range, which is all a track can have waiting (the spill range grows at its end).
  std::vector<Segment> ring;
  size_t head = 0, count = 0;
  std::vector<Mark> marks;      // each percentage once, in order (0 to 100: room reserved)
  size_t marksEncoded = 0;      // how many of them the encoded part has reached
  bool readDone = false;
  bool encoderWaiting = false;  // its encoder waits for the next part
  bool encoderGone = false;     // its encoder takes nothing more: parts go back at once
  bool done = false;            // nothing more happens to it: its row can be reported
  std::exception_ptr failure;
  bool stopped = false;         // the question was answered No
  // The file, made by the reader, written by the encoder, finished by it and put under its
  // name by the reporter when the row is reached: one at a time, handed on under the lock.
  std::unique_ptr<platform::OutputFile> file;
  // Where the reader puts the track's PCM when an encoder would otherwise wait; unnamed, so
  // it goes with its descriptor, crash or not.
  std::optional<platform::UniqueFd> spill;
  uint64_t spillSize = 0;

  // The reporter's.
  bool headerShown = false;
  size_t marksShown = 0;

  Segment& front() { return ring[head]; }
  Segment& back() { return ring[(head + count - 1) % ring.size()]; }
  void push(const Segment& s) { ring[(head + count++) % ring.size()] = s; }
  void pop() {
    head = (head + 1) % ring.size();
    --count;
  }
};

// Opens an unnamed temporary file in the folder, or in the system's temporary folder.
int openSpill(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::error_code ec;
    const std::string tmp = std::filesystem::temp_directory_path(ec).string();
    if (!ec) fd = ::open(tmp.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  }
  return fd;
}

}  // namespace

struct TParallelRun::State {
  State(TExtractionHost& h, TCDRIP& r, TMP3Settings& st, int n) : host(h), ripper(r), settings(st), jobs(std::max(1, n)) {}

  TExtractionHost& host;
  TCDRIP& ripper;
  TLameCoder coder;  // the settings each encoder copies
  TMP3Settings& settings;
  const int jobs;
  TFormatShape shape{2, 44100};

  std::mutex m;
  std::condition_variable workCv;  // encoders wait here for a track or its next part
  std::condition_variable mainCv;  // the reader waits here for a buffer, an encoder or a row
  uint64_t events = 0;             // counts what mainCv is told, so that no telling is missed
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<int> freeBuffers;
  std::vector<Job*> ready;         // tracks waiting for an encoder, oldest first
  int idleEncoders = 0;
  uint64_t spillOutstanding = 0;   // spilled bytes not yet encoded
  bool spillWorks = true;
  bool quit = false;
  bool stopEncoding = false;       // cancel or the run's end: encoders stop after the part in hand
  bool encoderFailed = false;      // a track failed: the reader reads no further

  // The reader's and reporter's (the calling thread's).
  std::vector<std::unique_ptr<Job>> rows;
  size_t reported = 0;
  bool ended = false;              // a cancelled or refused row ended the run: nothing after it
  std::vector<uint8_t> readerBuffer;
  std::vector<std::thread> threads;
  int lastAnswer = oaNone;
  std::string lastName;
  const TReadReport* rowReport = nullptr;
  TReadReport noReport;

  void startEncoders();
  void stopEncoders(bool abort);
  void encoderMain();
  void encodeTrack(Job& j, TLameCoder& coder, std::vector<uint8_t>& out, std::vector<int16_t>& block,
                   std::vector<uint8_t>& staging);

  void readRows(int total);
  void readTrack(Job& j, bool moreRows);
  int takeBuffer(Job& j, bool moreRows, bool spillAllowed);
  bool spillChunk(Job& j, size_t bytes);
  void addMark(Job& j, uint64_t bytesRead, int percent);
  void report();
  void finishRow(Job& j);
  uint64_t seen();
  void waitMain(uint64_t seen);
  bool cancelled();
  bool pendingName(const std::string& name, size_t before) const;
  void releaseReported();
  void markDone(Job& j, std::exception_ptr failure);
};

int TParallelRun::ChunkBuffers(int jobs) { return 8 + 8 * std::max(1, jobs); }

TParallelRun::TParallelRun(TExtractionHost& host, TCDRIP& ripper, const TLameCoder& coder, TMP3Settings& settings,
                           int jobs)
    : s_(std::make_unique<State>(host, ripper, settings, jobs)) {
  s_->coder.TakeValuesFrom(coder);
  s_->shape = FormatShape(ripper.OutputFormat());
  s_->coder.SetInputFormat(s_->shape.Channels, static_cast<uint32_t>(s_->shape.SampleRate));
}

TParallelRun::~TParallelRun() = default;

int TParallelRun::LastAnswer() const { return s_->lastAnswer; }
const std::string& TParallelRun::LastName() const { return s_->lastName; }
const TReadReport& TParallelRun::RowReport() const { return s_->rowReport ? *s_->rowReport : s_->noReport; }

int TParallelRun::Perform() {
  State& s = *s_;
  // As TExtractionRun: the question is asked again in every run; the output is MP3.
  s.settings.AskOverwrite = true;
  s.ripper.Encode = true;
  int total = 0;
  for (int row = 0; row < s.host.RowCount(); ++row)
    if (s.host.RowChecked(row)) ++total;
  s.lastAnswer = oaNone;
  s.lastName.clear();

  s.startEncoders();
  std::exception_ptr failure;
  try {
    s.readRows(total);
    // The rows still being encoded, in order, as their encoders finish them.
    for (;;) {
      const uint64_t before = s.seen();
      s.report();
      s.releaseReported();
      if (s.ended || s.reported == s.rows.size()) break;
      s.waitMain(before);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  s.stopEncoders(failure != nullptr || s.ended);
  s.rows.clear();  // rows never reached leave no file

  // End of the run, however it ended.
  s.host.ResetProgress();
  std::error_code ec;
  if (s.settings.OpenWhenDone && !s.host.Cancelled() && s.lastAnswer != oaNo && !s.lastName.empty() &&
      std::filesystem::is_directory(FolderOf(s.lastName), ec))
    s.host.OpenFolder(FolderOf(s.lastName));
  const int result = s.host.Cancelled() ? 2 : 1;
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

// --- the reader ---

void TParallelRun::State::readRows(int total) {
  std::vector<int> ticked;
  for (int row = 0; row < host.RowCount(); ++row)
    if (host.RowChecked(row)) ticked.push_back(row);
  // Rows whose files are not yet placed, at most: each holds an open file.
  const size_t maxOpen = static_cast<size_t>(4 * jobs + 4);

  int ordinal = 0;
  for (size_t t = 0; t < ticked.size(); ++t) {
    releaseReported();
    while (!ended && rows.size() - reported >= maxOpen) {
      const uint64_t before = seen();
      report();
      if (!ended && rows.size() - reported >= maxOpen) waitMain(before);
    }
    if (ended || cancelled()) return;
    {
      std::lock_guard lock(m);
      if (encoderFailed) return;
    }
    const int row = ticked[t];
    rows.push_back(std::make_unique<Job>(static_cast<size_t>(ChunkBuffers(jobs)) + 1));
    Job& j = *rows.back();
    const size_t index = rows.size() - 1;
    j.row = row;
    j.caption = host.RowCaption(row);
    j.statusLine = "Extract " + j.caption + " (" + std::to_string(++ordinal) + " of " + std::to_string(total) + ")...";

    // The name as TExtractionRun builds it; a failure is the row's, raised when it is reached.
    try {
      const int trackIndex = RowTrackIndexOf(host.RowTrackIndex(row));
      const std::string& entryText = ripper.Tracks().Strings(trackIndex);
      std::string name = RunOutputFileName(settings.OutDir, j.caption, entryText);
      CreateRunFolders(RunOutputFolder(settings.OutDir), name);
      j.name = ChangeFileExt(name, ".mp3");
      j.pathKnown = true;
      j.trackNum = trackIndex + 1;
    } catch (...) {
      markDone(j, std::current_exception());
      return;
    }

    // The question comes in its place: once every row before it is finished and shown, as
    // the files the question is about are then on the disk as the one-track-at-a-time run
    // leaves them. A name an earlier row of this run still writes is such a file too.
    if (settings.AskOverwrite && (OutputNameTaken(j.name) || pendingName(j.name, index))) {
      while (!ended && reported < index) {
        const uint64_t before = seen();
        report();
        if (!ended && reported < index) waitMain(before);
      }
      if (ended) return;
      report();  // this row's status and path lines
      if (OutputNameTaken(j.name)) {
        lastAnswer = host.AskOverwrite(j.name);
        if (lastAnswer == oaNo) {
          j.stopped = true;
          markDone(j, nullptr);
          return;
        }
        if (lastAnswer == oaYesToAll) settings.AskOverwrite = false;
      }
    }

    readTrack(j, t + 1 < ticked.size());
    std::lock_guard lock(m);
    if (j.failure || stopEncoding || encoderFailed) return;
  }
}

void TParallelRun::State::addMark(Job& j, uint64_t bytesRead, int percent) {
  std::lock_guard lock(m);
  if ((j.marks.empty() || j.marks.back().percent != percent) && j.marks.size() < j.marks.capacity())
    j.marks.push_back({bytesRead, percent});
}

// Appends the chunk in the reader's buffer to the track's spill file; false when the file
// cannot take it.
bool TParallelRun::State::spillChunk(Job& j, size_t bytes) {
  if (!j.spill) j.spill.emplace(openSpill(j.file->Folder()));
  if (!j.spill->valid()) return false;
  size_t done = 0;
  while (done < bytes) {
    const ssize_t w = ::pwrite(j.spill->get(), readerBuffer.data() + done, bytes - done,
                               static_cast<off_t>(j.spillSize + done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  std::lock_guard lock(m);
  if (!j.encoderGone) {
    if (j.count > 0 && j.back().buffer < 0 && j.back().offset + j.back().bytes == j.spillSize) j.back().bytes += bytes;
    else j.push({-1, j.spillSize, bytes});
    spillOutstanding += bytes;
  }
  j.spillSize += bytes;
  return true;
}

void TParallelRun::State::readTrack(Job& j, bool moreRows) {
  // As RipSectors: the parameters, then the ripper; a refused track has no file.
  if (!ripper.ApplyParameters()) {
    markDone(j, std::make_exception_ptr(ECDRIPError("Invalid CD-ROM parameters")));
    return;
  }
  const TTrack& track = ripper.Tracks().Objects(j.trackNum - 1);
  int32_t bufferSize = 0;
  if (CR_OpenRipper(&bufferSize, track.StartSector, track.EndSector) == CDEX_ERROR) {
    markDone(j, std::make_exception_ptr(ETrackNotRead("The drive refused to read track " + std::to_string(j.trackNum))));
    return;
  }
  // The ripper is closed on every way out, an earlier row's failure raised by report() too.
  struct Closer {
    State& s;
    Job& j;
    ~Closer() {
      const int errors = CR_GetNumberOfJitterErrors();
      CR_CloseRipper();
      j.report.JitterErrorCount = errors;
      {
        std::lock_guard lock(s.m);
        j.readDone = true;
      }
      s.workCv.notify_all();
    }
  } closer{*this, j};

  try {
    j.file = std::make_unique<platform::OutputFile>(j.name);
  } catch (const platform::OutputFileError& e) {
    markDone(j, std::make_exception_ptr(EFCreateError(e.name(), e.reason())));
    return;
  } catch (...) {
    markDone(j, std::current_exception());
    return;
  }

  // The pool, once for the run (a library that asks for more room gets it when every buffer
  // is back).
  const auto size = static_cast<size_t>(bufferSize);
  if (buffers.empty()) {
    buffers.resize(static_cast<size_t>(ChunkBuffers(jobs)));
    for (int i = 0; i < static_cast<int>(buffers.size()); ++i) freeBuffers.push_back(i);
  }
  if (buffers[0].size() < size) {
    for (;;) {
      const uint64_t before = seen();
      {
        std::lock_guard lock(m);
        if (freeBuffers.size() == buffers.size()) break;
      }
      report();
      waitMain(before);
    }
    for (auto& b : buffers) b.assign(size, 0);
  }
  if (readerBuffer.size() < size) readerBuffer.assign(size, 0);

  {
    std::lock_guard lock(m);
    ready.push_back(&j);
  }
  workCv.notify_all();

  uint64_t bytesRead = 0;
  bool spillAllowed = true;
  for (;;) {
    if (cancelled()) break;
    {
      std::lock_guard lock(m);
      if (stopEncoding || encoderFailed || j.encoderGone) break;
    }
    const int b = j.spilling ? -1 : takeBuffer(j, moreRows, spillAllowed);
    if (b == -2) break;  // the run stops
    if (b == -1) j.spilling = true;
    uint8_t* target = b >= 0 ? buffers[static_cast<size_t>(b)].data() : readerBuffer.data();
    int32_t numBytes = 0;
    const CDEX_ERR status = CR_RipChunk(target, &numBytes, -1);
    if (status == CDEX_JITTER_ERROR) {
      int32_t first = 0, second = 0;
      CR_GetLastJitterErrorPosition(&first, &second);
      j.report.JitterLog.push_back(std::to_string(static_cast<uint32_t>(first)) + " " +
                                   std::to_string(static_cast<uint32_t>(second)));
    }
    const int percent = CR_GetPercentCompleted();
    // A chunk of status 1 contributes nothing, as in the one-track loop.
    const auto bytes = status != CDEX_ERROR ? static_cast<size_t>(std::max(0, numBytes)) : 0;
    if (b >= 0) {
      std::lock_guard lock(m);
      if (bytes > 0 && !j.encoderGone) j.push({b, 0, bytes});
      else freeBuffers.push_back(b);
    } else if (bytes > 0 && !(spillWorks && spillChunk(j, bytes))) {
      // The spill file cannot take it: the rest of the track waits for buffers of the pool.
      {
        std::lock_guard lock(m);
        spillWorks = false;
      }
      spillAllowed = false;
      j.spilling = false;
      const int into = takeBuffer(j, moreRows, false);
      if (into == -2) break;
      std::memcpy(buffers[static_cast<size_t>(into)].data(), readerBuffer.data(), bytes);
      std::lock_guard lock(m);
      if (!j.encoderGone) j.push({into, 0, bytes});
      else freeBuffers.push_back(into);
    }
    bytesRead += bytes;
    addMark(j, bytesRead, percent);
    workCv.notify_all();
    report();
    if (status == CDEX_RIPPING_DONE) break;
  }
}

// A buffer of the pool for the next chunk; -1 to read the rest of the track into its spill
// file instead, which the reader does only when the pool is taken and an encoder would
// otherwise wait (for this track's next part, or idle with a later track to come); -2 when the
// run stops.
int TParallelRun::State::takeBuffer(Job& j, bool moreRows, bool spillAllowed) {
  for (;;) {
    uint64_t before;
    {
      std::lock_guard lock(m);
      before = events;
      if (stopEncoding || encoderFailed || j.encoderGone) return -2;
      if (!freeBuffers.empty()) {
        const int b = freeBuffers.back();
        freeBuffers.pop_back();
        return b;
      }
      // An encoder that will take the next track waiting in line is not idle.
      if (spillAllowed && spillWorks && spillOutstanding < kSpillLimit &&
          (j.encoderWaiting || (idleEncoders > static_cast<int>(ready.size()) && moreRows)))
        return -1;
    }
    report();
    if (cancelled()) return -2;
    waitMain(before);
  }
}

// --- the reporter ---

void TParallelRun::State::report() {
  cancelled();  // a Cancel stops the encoders, whatever the reader is doing
  // A read-ahead copy goes as soon as neither its reader nor its encoder needs it.
  for (size_t i = reported; i < rows.size(); ++i) {
    Job& j = *rows[i];
    if (!j.spill) continue;
    std::lock_guard lock(m);
    if (j.readDone && j.encoderGone) j.spill.reset();
  }
  while (!ended && reported < rows.size()) {
    Job& j = *rows[reported];
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

// Rows reported are done with: their memory goes, so that it stays flat over a disc. Called
// where the reader holds no row.
void TParallelRun::State::releaseReported() {
  for (size_t i = 0; i < reported; ++i) rows[i].reset();
}

void TParallelRun::State::finishRow(Job& j) {
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
    std::rethrow_exception(j.failure);
  }
  rowReport = &j.report;
  const bool cancel = host.Cancelled();
  host.SetRowStatus(j.row, cancel ? "Cancelled" : "OK", j.name);
  rowReport = nullptr;
  if (cancel) {
    ended = true;
    cancelled();
  }
}

// --- the encoders ---

void TParallelRun::State::encoderMain() {
  TLameCoder own;
  own.TakeValuesFrom(coder);
  own.SetInputFormat(shape.Channels, static_cast<uint32_t>(shape.SampleRate));
  std::vector<uint8_t> out, staging;
  std::vector<int16_t> block;
  for (;;) {
    Job* j = nullptr;
    {
      std::unique_lock lock(m);
      ++idleEncoders;
      ++events;
      mainCv.notify_all();
      workCv.wait(lock, [&] { return quit || !ready.empty(); });
      --idleEncoders;
      if (ready.empty()) return;
      j = ready.front();
      ready.erase(ready.begin());
    }
    encodeTrack(*j, own, out, block, staging);
  }
}

void TParallelRun::State::encodeTrack(Job& j, TLameCoder& enc, std::vector<uint8_t>& out,
                                      std::vector<int16_t>& block, std::vector<uint8_t>& staging) {
  std::exception_ptr failure;
  bool streamOpen = false;
  size_t blockBytes = 0, carry = 0;
  uint64_t encoded = 0;  // the track's bytes handed to the encoder
  auto* staged = reinterpret_cast<uint8_t*>(block.data());
  // The track's PCM in blocks of the stream's size, as one stream of bytes, whatever the parts.
  auto feed = [&](const uint8_t* p, size_t n) {
    encoded += n;
    while (n > 0) {
      const size_t take = std::min(blockBytes - carry, n);
      std::memcpy(staged + carry, p, take);
      carry += take;
      p += take;
      n -= take;
      if (carry == blockBytes) {
        uint32_t written = 0;
        {
          std::shared_lock shared(g_encoderTable);
          enc.EncodeChunk(block.data(), out.data(), written);
        }
        if (!j.file->Write(out.data(), written)) throw writeError(*j.file);
        carry = 0;
      }
    }
  };
  // The percentages the encoded part has reached (under the lock).
  auto reached = [&] {
    while (j.marksEncoded < j.marks.size() && j.marks[j.marksEncoded].bytes <= encoded) ++j.marksEncoded;
    ++events;
  };

  try {
    uint32_t init;
    {
      std::unique_lock alone(g_encoderTable);
      init = enc.InitStream();
    }
    // Without a stream there is no block size to cut by, and the file would stay empty
    // while looking like a success.
    if (init != BE_ERR_SUCCESSFUL || enc.SamplesPerChunk() == 0) throw ECDRIPError("Unable to start the MP3 encoder");
    streamOpen = true;
    out.resize(enc.OutputBufferSize());
    block.assign(enc.SamplesPerChunk(), 0);
    staged = reinterpret_cast<uint8_t*>(block.data());
    blockBytes = 2 * static_cast<size_t>(enc.SamplesPerChunk());

    for (;;) {
      Segment seg;
      {
        std::unique_lock lock(m);
        reached();
        mainCv.notify_all();
        if (j.count == 0 && !j.readDone && !stopEncoding) {
          j.encoderWaiting = true;
          ++events;
          mainCv.notify_all();
          workCv.wait(lock, [&] { return stopEncoding || j.count > 0 || j.readDone; });
          j.encoderWaiting = false;
        }
        // Cancel takes effect at the next part, as the one-track loop's at the next chunk.
        if (stopEncoding || j.count == 0) break;
        seg = j.front();
        if (seg.buffer >= 0) {
          j.pop();
        } else {
          // The spill range is taken a chunk's worth at a time from its front.
          seg.bytes = std::min(seg.bytes, buffers.empty() ? size_t{65536} : buffers[0].size());
          j.front().offset += seg.bytes;
          j.front().bytes -= seg.bytes;
          if (j.front().bytes == 0) j.pop();
          spillOutstanding -= seg.bytes;
        }
      }
      if (seg.buffer >= 0) {
        try {
          feed(buffers[static_cast<size_t>(seg.buffer)].data(), seg.bytes);
        } catch (...) {
          std::lock_guard lock(m);
          freeBuffers.push_back(seg.buffer);
          throw;
        }
        std::lock_guard lock(m);
        freeBuffers.push_back(seg.buffer);
      } else {
        if (staging.size() < seg.bytes) staging.resize(seg.bytes);
        size_t got = 0;
        while (got < seg.bytes) {
          const ssize_t r = ::pread(j.spill->get(), staging.data() + got, seg.bytes - got,
                                    static_cast<off_t>(seg.offset + got));
          if (r < 0 && errno == EINTR) continue;
          if (r <= 0) break;
          got += static_cast<size_t>(r);
        }
        if (got != seg.bytes) throw ECDRIPError("Read error", "the read-ahead copy of the track could not be read back");
        feed(staging.data(), seg.bytes);
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }

  // The closing steps of the one-track loop: the last partial block, the flush, the final
  // header frame over the placeholder at the start.
  if (streamOpen) {
    try {
      uint32_t n = 0;
      if (carry > 0) {
        {
          std::shared_lock shared(g_encoderTable);
          enc.EncodeLastChunk(block.data(), static_cast<uint32_t>(carry / 2), out.data(), n);
        }
        if (!j.file->Write(out.data(), n)) throw writeError(*j.file);
      }
      {
        std::shared_lock shared(g_encoderTable);
        enc.DeinitStream(out.data(), n);
      }
      if (!j.file->Write(out.data(), n)) throw writeError(*j.file);
      // The final header frame goes where the placeholder is; out serves, as it is free now.
      {
        std::shared_lock shared(g_encoderTable);
        enc.FinalHeaderFrame(out.data(), static_cast<uint32_t>(out.size()), n);
      }
      if (n > 0 && n <= j.file->Written() && !j.file->WriteAt(0, out.data(), n)) throw writeError(*j.file);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    std::unique_lock alone(g_encoderTable);
    enc.CloseStream();
  }
  {
    std::lock_guard lock(m);
    reached();
    j.encoderGone = true;
    for (; j.count > 0; j.pop()) {
      if (j.front().buffer >= 0) freeBuffers.push_back(j.front().buffer);
      else spillOutstanding -= j.front().bytes;
    }
    if (failure) encoderFailed = true;
  }
  mainCv.notify_all();

  // The tag, into the file before it is put under its name: a cancelled partial file gets
  // one too. A file that could not be finished gets none, as one track at a time.
  if (!failure) {
    try {
      TMP3Info tagger;
      tagger.SetFilename(j.file->TempName());
      tagger.SetTitle(j.caption);
      tagger.Save();
      if (!tagger.Saved()) throw ETagNotWritten("Cannot write the ID3 tag into " + j.name);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (!j.file->Finish() && !failure) failure = std::make_exception_ptr(writeError(*j.file));
  if (failure) {
    std::lock_guard lock(m);
    encoderFailed = true;
  }
  markDone(j, failure);
}
