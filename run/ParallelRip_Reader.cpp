// The reader of TParallelRun: the rows' names and questions, the tracks read through the CD
// library into the pool's buffers, and the read-ahead spill.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/events.h"
#include "run/ParallelRip_State.h"
#include "tags/NamePattern.h"
#include "tags/TrackTags.h"

namespace {

// Temporary PCM read ahead of the encoders, at most: beyond it the reader waits for them.
constexpr uint64_t kSpillLimit = uint64_t{256} << 20;  // 25 minutes of CD audio

// An unnamed file in the temporary folder (TMPDIR, else /tmp), gone with its descriptor,
// crash or not; -1 when none can be made. The output folder is never used: a spill that
// fills its disk would cost the files themselves.
int openSpill() {
  const char* tmpdir = std::getenv("TMPDIR");
  for (const char* folder : {tmpdir && *tmpdir ? tmpdir : nullptr, "/tmp"}) {
    if (!folder) continue;
    int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      // A file system without unnamed files: a named one, removed at once.
      std::string path = std::string(folder) + "/.tessaly-spill-XXXXXX";
      fd = ::mkostemp(path.data(), O_CLOEXEC);
      if (fd >= 0) ::unlink(path.c_str());
    }
    if (fd >= 0) return fd;
  }
  return -1;
}

}  // namespace

void TParallelRun::State::readRows(int total) {
  std::vector<int> ticked;
  for (int row = 0; row < host.RowCount(); ++row)
    if (host.RowChecked(row)) ticked.push_back(row);
  // Rows whose files are not yet placed, at most: each holds an open file.
  const size_t maxOpen = std::max<size_t>(window, 1);
  if (spillLimit == 0) spillLimit = kSpillLimit;

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
      const TTrackTags tags = RunTrackTags(host, ripper, row, trackIndex);
      std::string name = PatternOutputFileName(settings.OutDir, MoreSettings.NamePattern, tags, entryText);
      CreateRunFolders(RunOutputFolder(settings.OutDir), name);
      j.name = ChangeFileExt(name, RunOutputExtension(output));
      if (output == TRunOutput::Flac) j.comments = VorbisComments(tags, MoreSettings.FullTags);
      else if (MoreSettings.FullTags) j.fileHead = RenderId3v2(tags);
      j.pathKnown = true;
      j.trackNum = trackIndex + 1;
      // As the one-track loop hints it: the track's sectors, whatever the proof reads.
      const TTrack& t = ripper.Tracks().Objects(trackIndex);
      j.expectedFrames = static_cast<uint64_t>(std::max<int64_t>(0, int64_t{t.EndSector} - t.StartSector + 1)) *
                         588u * static_cast<uint64_t>(shape.SampleRate) / 44100u;
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

    j.proof = runProof.TrackProof(ripper, j.trackNum - 1);
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

// Whether the spill files may take `bytes` more.
bool TParallelRun::State::spillHasRoom(size_t bytes) {
  std::lock_guard lock(m);
  return spillWorks && spillHeld + bytes <= spillLimit;
}

// Appends the chunk in the reader's buffer to the track's spill file; false when the file
// cannot take it.
bool TParallelRun::State::spillChunk(Job& j, size_t bytes) {
  if (!j.spill) {
    j.spill.emplace(openSpill());
    // Never more than half the room the temporary folder has left.
    struct statvfs fs {};
    if (j.spill->valid() && ::fstatvfs(j.spill->get(), &fs) == 0) {
      std::lock_guard lock(m);
      const uint64_t room = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize / 2;
      spillLimit = std::min(spillLimit, spillHeld + room);
    }
  }
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
  }
  j.spillSize += bytes;
  spillHeld += bytes;
  return true;
}

void TParallelRun::State::readTrack(Job& j, bool moreRows) {
  j.ripBegun = true;
  // As RipSectors: the parameters, then the ripper; a refused track has no file.
  if (!ripper.ApplyParameters()) {
    markDone(j, std::make_exception_ptr(ECDRIPError("Invalid CD-ROM parameters")));
    return;
  }
  const TTrack& track = ripper.Tracks().Objects(j.trackNum - 1);
  // With a proof, its sectors are read: the track's, moved by the read offset. An offset that
  // moves the whole track off the disc reads nothing; the track is then all silence.
  verify::TTrackProof* const proof = j.proof ? &*j.proof : nullptr;
  const bool reads = !proof || proof->Reads();
  int32_t bufferSize = 0;
  // As the one-track run: the retries setting, and a cancel heard inside a chunk while the
  // drive retries a damaged sector (the front end's events run meanwhile). Nothing may be
  // thrown through the library, so a failure of the events waits until the read returns.
  struct Asker {
    State& s;
    std::exception_ptr failure;
    static int32_t ask(void* self) {
      auto& a = *static_cast<Asker*>(self);
      if (a.failure) return 1;
      try {
        platform::ProcessMessages();
        return a.s.cancelled() ? 1 : 0;
      } catch (...) {
        a.failure = std::current_exception();
        return 1;
      }
    }
    void rethrow() {
      if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
    }
    ~Asker() { CR_SetAbortCallback(nullptr, nullptr); }
  } asker{*this, nullptr};
  CR_SetReadRetries(ripper.ReadRetries);
  CR_SetAbortCallback(&Asker::ask, &asker);
  if (reads && CR_OpenRipper(&bufferSize, proof ? proof->FirstSector() : track.StartSector,
                             proof ? proof->LastSector() : track.EndSector) == CDEX_ERROR) {
    markDone(j, std::make_exception_ptr(ETrackNotRead("The drive refused to read track " + std::to_string(j.trackNum))));
    return;
  }
  // The ripper is closed on every way out, an earlier row's failure raised by report() too.
  struct Closer {
    State& s;
    Job& j;
    bool reads;
    ~Closer() {
      if (reads) {
        j.report.JitterErrorCount = CR_GetNumberOfJitterErrors();
        int32_t first = -1, last = -1;
        CR_GetDamagedSectors(&first, &last);
        j.report.DamagedFirst = first;
        j.report.DamagedLast = last;
        CR_CloseRipper();
      }
      {
        std::lock_guard lock(s.m);
        j.readDone = true;
      }
      s.workCv.notify_all();
    }
  } closer{*this, j, reads};

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
  // is back). A track read as silence alone asks for none: it gets the chunks of a second.
  const auto size = bufferSize > 0 ? static_cast<size_t>(bufferSize) : size_t{75 * 2352};
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

  // The silence before the track where the offset reaches in front of the disc.
  if (proof && !handSilence(j, proof->LeadingSilenceBytes(), moreRows)) return;
  bool ended = !reads;
  uint64_t readBytes = 0;
  while (reads) {
    if (cancelled()) break;
    {
      std::lock_guard lock(m);
      if (stopEncoding || encoderFailed || j.encoderGone) break;
    }
    const int b = nextTarget(j, moreRows);
    if (b == -2) break;  // the run stops
    uint8_t* target = b >= 0 ? buffers[static_cast<size_t>(b)].data() : readerBuffer.data();
    int32_t numBytes = 0;
    const CDEX_ERR status = CR_RipChunk(target, &numBytes, -1);
    asker.rethrow();
    if (status == CDEX_JITTER_ERROR) {
      int32_t first = 0, second = 0;
      CR_GetLastJitterErrorPosition(&first, &second);
      j.report.JitterLog.push_back(std::to_string(static_cast<uint32_t>(first)) + " " +
                                   std::to_string(static_cast<uint32_t>(second)));
    }
    const int percent = CR_GetPercentCompleted();
    // A chunk of status 1 contributes nothing, as in the one-track loop.
    auto bytes = status != CDEX_ERROR ? static_cast<size_t>(std::max(0, numBytes)) : 0;
    readBytes += bytes;
    if (proof && bytes > 0) bytes = proof->TakeInPlace({target, bytes});
    if (!handOn(j, b, bytes, moreRows)) break;
    addMark(j, j.handed, percent);
    workCv.notify_all();
    report();
    if (status == CDEX_RIPPING_DONE) {
      ended = true;
      break;
    }
  }
  // The silence where the disc ends, at a normal end only: a cancelled track stays short, and
  // so does one whose reads ended before its last sector, rather than look whole.
  const uint64_t wanted =
      proof && reads ? static_cast<uint64_t>(proof->LastSector() - proof->FirstSector() + 1) * 2352u : 0;
  if (proof && ended && !host.Cancelled() && readBytes >= wanted) {
    if (!handSilence(j, proof->FinishInPlace(), moreRows)) return;
    if (!reads) addMark(j, j.handed, 100);
    workCv.notify_all();
  }
}

// Where the next chunk is read: a buffer of the pool, -1 for the reader's buffer (the chunk
// goes to the spill file), -2 when the run stops.
int TParallelRun::State::nextTarget(Job& j, bool moreRows) {
  // At its bound the spill takes no more of this track: the rest waits for the pool.
  if (j.spilling && !spillHasRoom(readerBuffer.size())) {
    j.spilling = false;
    j.spillAllowed = false;
  }
  const int b = j.spilling ? -1 : takeBuffer(j, moreRows, j.spillAllowed);
  if (b == -1) j.spilling = true;
  return b;
}

// Hands the encoder the first `bytes` of the chunk read into buffer b (or into the reader's
// buffer when b is -1, for the spill file); false when the run stops.
bool TParallelRun::State::handOn(Job& j, int b, size_t bytes, bool moreRows) {
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
    j.spillAllowed = false;
    j.spilling = false;
    const int into = takeBuffer(j, moreRows, false);
    if (into == -2) return false;
    std::memcpy(buffers[static_cast<size_t>(into)].data(), readerBuffer.data(), bytes);
    std::lock_guard lock(m);
    if (!j.encoderGone) j.push({into, 0, bytes});
    else freeBuffers.push_back(into);
  }
  j.handed += bytes;
  return true;
}

// Hands the encoder `bytes` of silence, a chunk at a time; false when the run stops.
bool TParallelRun::State::handSilence(Job& j, uint64_t bytes, bool moreRows) {
  while (bytes > 0) {
    const int b = nextTarget(j, moreRows);
    if (b == -2) return false;
    uint8_t* target = b >= 0 ? buffers[static_cast<size_t>(b)].data() : readerBuffer.data();
    const auto n = static_cast<size_t>(std::min<uint64_t>(bytes, readerBuffer.size()));
    std::memset(target, 0, n);
    if (!handOn(j, b, n, moreRows)) return false;
    bytes -= n;
    workCv.notify_all();
    report();
  }
  return true;
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
      if (spillAllowed && spillWorks && spillHeld + readerBuffer.size() <= spillLimit &&
          (j.encoderWaiting || (idleEncoders > static_cast<int>(ready.size()) && moreRows)))
        return -1;
    }
    report();
    if (cancelled()) return -2;
    waitMain(before);
  }
}

