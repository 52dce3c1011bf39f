// The reader of TParallelRun: the rows' names and questions, the tracks read through the CD
// library into the pool's buffers, and the read-ahead spill.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
      j.name = ChangeFileExt(name, ".mp3");
      if (MoreSettings.FullTags) j.fileHead = RenderId3v2(tags);
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
    // At its bound the spill takes no more of this track: the rest waits for the pool.
    if (j.spilling && !spillHasRoom(readerBuffer.size())) {
      j.spilling = false;
      spillAllowed = false;
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
      if (spillAllowed && spillWorks && spillHeld + readerBuffer.size() <= spillLimit &&
          (j.encoderWaiting || (idleEncoders > static_cast<int>(ready.size()) && moreRows)))
        return -1;
    }
    report();
    if (cancelled()) return -2;
    waitMain(before);
  }
}

