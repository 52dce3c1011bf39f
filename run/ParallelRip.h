// The extraction run to MP3 or FLAC files on several cores, for tessaly-rip.
//
// The calling thread is the one reader: it reads the ticked tracks one after the other, in row
// order, through the CD library (a drive is never read by two readers, and the library is
// only ever called from this thread). It hands each track's PCM to `jobs` encoder threads
// through a bounded pool of chunk buffers; each encoder thread turns one track at a time into
// its MP3 or FLAC file with an encoder stream of its own, so several tracks are encoded at once.
//
// The host sees what TExtractionRun::Perform(output) shows, row by row in row order:
// the status line, the path, the overwrite question, the progress (through the ripper's
// OnProgress, as the encoded part of the track grows), and the row's status. Every file is
// written under a temporary name and put under its own only when its row is reached in order,
// so a failure or a cancel leaves the files the single-threaded run leaves, and every file's
// bytes are the ones that run writes.
//
// While an encoder would wait, the reader puts the PCM it reads ahead aside in unnamed files
// of the temporary folder (TMPDIR, or /tmp when that is no folder), up to a bound; a spill
// that cannot be written only makes the reader wait for the encoders. The parallelism is
// lowered to what the open-file limit allows, and OnNotice says so.
//
// Usage: TParallelRun(host, ripper, coder, settings, jobs), SetReadOffset, Perform(output) once, on the thread the
// host lives on. Perform returns the modal result; an error that ends the run is raised after
// the end-of-run steps, as TExtractionRun does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/ExtractionRun.h"
#include "verify/RipLog.h"

class TCDRIP;
class TLameCoder;
struct TMP3Settings;

// What reading one track met: the CD library's count of read errors, and the jitter-log
// lines ("first second", as TCDRIP::JitterLog holds them) of its damaged chunks.
struct TReadReport {
  int JitterErrorCount = 0;
  std::vector<std::string> JitterLog;
  // The track's own sectors the library could not read (or repaired), -1 when none or unknown.
  int DamagedFirst = -1, DamagedLast = -1;
};

// The encoders [System] Jobs asks for: the number itself, or with 0 (or less) one per core
// this process may run on.
int RunJobs(int setting);

class TParallelRun {
 public:
  // coder: the encoder settings every track is encoded with (its stored values; the input
  // format is the ripper's output format). jobs: encoder threads, at least 1.
  TParallelRun(TExtractionHost& host, TCDRIP& ripper, const TLameCoder& coder, TMP3Settings& settings, int jobs);
  ~TParallelRun();
  TParallelRun(const TParallelRun&) = delete;
  TParallelRun& operator=(const TParallelRun&) = delete;

  // output: TRunOutput::Mp3 or TRunOutput::Flac (level MoreSettings.FlacLevel).
  int Perform(TRunOutput output = TRunOutput::Mp3);

  // As TExtractionRun::SetReadOffset, before Perform: the tracks are read through their proofs
  // (the offset's shift, the checksums) with an offset or MoreSettings.RipLog, and with the log
  // on the rows, the verifications and the summary go to the host and the log beside the files,
  // as the one-track run writes them.
  void SetReadOffset(int32_t samples, bool known, bool image);
  const verify::TRipLog& RipLog() const;
  const std::string& RipLogName() const;

  int LastAnswer() const;
  // The name of the last row the run reached, as TExtractionRun::LastName.
  const std::string& LastName() const;
  // The read report of the row whose status the host is being given.
  const TReadReport& RowReport() const;

  // The number of chunk buffers the reader may fill ahead of the encoders: what bounds the
  // run's memory, whatever the tracks' number and length.
  static int ChunkBuffers(int jobs);

  // The encoders and the rows in flight (each row not yet under its name holds its file open)
  // that `freeFiles` more open files allow for `jobs` encoders asked for: Jobs lower than
  // asked when even the fewest rows per encoder do not fit; at least one of each.
  struct TOpenFilePlan {
    int Jobs = 1;
    int Rows = 1;
  };
  static TOpenFilePlan PlanOpenFiles(int jobs, long freeFiles);

  // The PCM put aside for the encoders, at most, in bytes (before Perform; by default 256
  // MiB, and never more than half the free room of the temporary folder).
  void SetSpillLimit(uint64_t bytes);

  // The status line, the path and the progress follow the track being read (its reading
  // progress), and once every track is read the one the run waits for (its encoding
  // progress), as a window shows them; before Perform. Off (the default), they come row by
  // row in row order with each row's status, as a terminal prints them. The rows' statuses
  // come in row order either way.
  void FollowReading(bool on);

  // Told what the user should know about how the run goes (the parallelism it lowered); by
  // default a line on standard error under the program's name.
  std::function<void(const std::string&)> OnNotice;

 private:
  struct State;
  std::unique_ptr<State> s_;
};
