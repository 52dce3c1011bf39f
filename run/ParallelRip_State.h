// The inside of TParallelRun, shared by its parts: the run and its reporter (ParallelRip.cpp),
// the reader (ParallelRip_Reader.cpp) and the encoders (ParallelRip_Encoder.cpp). Not for
// other users.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "run/ParallelRip.h"
#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "flac/FlacCoder.h"
#include "lame/LameCoder.h"
#include "platform/output_file.h"
#include "platform/unique_fd.h"
#include "run/RunProof.h"
#include "verify/TrackProof.h"

namespace parallel_rip {


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
  std::vector<uint8_t> fileHead;  // the bytes the file starts with, before the encoder's (a tag)
  std::vector<std::string> comments;  // a FLAC file's Vorbis comments
  uint64_t expectedFrames = 0;        // a FLAC stream's length hint: the track's samples per channel
  int trackNum = 0;
  TReadReport report;      // the reader's
  bool spilling = false;   // the reader's: the rest of the track goes to the spill file
  bool spillAllowed = true;  // the reader's: the spill may still take this track's parts
  uint64_t handed = 0;     // the reader's: the track's bytes handed to the encoder
  // The reader's, then the reporter's once read: the offset's shift and the checksums.
  std::optional<verify::TTrackProof> proof;
  bool ripBegun = false;   // its track was begun: a failure from here on has a log row
  bool tagFailed = false;  // the encoder's: the failure is the tag's, which comes after the rip

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
  uint64_t spillFreed = 0;  // its encoder's: the front of the spill file given back to the disk

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

}  // namespace parallel_rip

struct TParallelRun::State {
  using Job = parallel_rip::Job;
  using Segment = parallel_rip::Segment;

  State(TExtractionHost& h, TCDRIP& r, TMP3Settings& st, int n) : host(h), ripper(r), settings(st), jobs(std::max(1, n)) {}

  TExtractionHost& host;
  TCDRIP& ripper;
  TLameCoder coder;  // the settings each encoder copies
  TMP3Settings& settings;
  TRunOutput output = TRunOutput::Mp3;  // MP3 or FLAC files
  int flacLevel = 5;
  int32_t offset = 0;      // the drive's read offset, samples
  bool offsetKnown = false, image = false;
  int jobs;          // encoder threads, lowered to what the open-file limit allows
  size_t window = 0;  // rows whose files are not yet placed, at most: each holds an open file
  TFormatShape shape{2, 44100};

  std::mutex m;
  std::condition_variable workCv;  // encoders wait here for a track or its next part
  std::condition_variable mainCv;  // the reader waits here for a buffer, an encoder or a row
  uint64_t events = 0;             // counts what mainCv is told, so that no telling is missed
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<int> freeBuffers;
  std::vector<Job*> ready;         // tracks waiting for an encoder, oldest first
  TRunProof runProof;              // the reader's and reporter's
  int idleEncoders = 0;
  uint64_t spillHeld = 0;          // bytes the spill files hold on the disk (not yet freed)
  bool spillWorks = true;
  uint64_t spillLimit = 0;         // spillHeld at most (0: not yet set)
  std::string spillFolder;         // where the spill files are made, once found
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
  std::function<void(const std::string&)> notice;
  const TReadReport* rowReport = nullptr;
  bool followReading = false;
  size_t displayed = SIZE_MAX;    // the row the status line and the bar follow
  int displayedPercent = -1;
  bool readingOver = false;       // the reader read its last row
  std::chrono::steady_clock::time_point eventsRun{};
  TReadReport noReport;

  void fitOpenFiles();
  void startEncoders();
  void stopEncoders(bool abort);
  void encoderMain();
  void encodeTrack(Job& j, TLameCoder& coder, TFlacCoder& flac, std::vector<uint8_t>& out,
                   std::vector<int16_t>& block, std::vector<uint8_t>& staging);

  void readRows(int total);
  void readTrack(Job& j, bool moreRows);
  int takeBuffer(Job& j, bool moreRows, bool spillAllowed);
  int nextTarget(Job& j, bool moreRows);
  bool handOn(Job& j, int b, size_t bytes, bool moreRows);
  bool handSilence(Job& j, uint64_t bytes, bool moreRows);
  bool spillChunk(Job& j, size_t bytes);
  bool spillHasRoom(size_t bytes);
  void freeSpill(Job& j, uint64_t end);
  void addMark(Job& j, uint64_t bytesRead, int percent);
  void report();
  void showFollowed();
  void finishRow(Job& j);
  uint64_t seen();
  void waitMain(uint64_t seen);
  bool cancelled();
  bool pendingName(const std::string& name, size_t before) const;
  void releaseReported();
  void dropSpill(Job& j);
  void markDone(Job& j, std::exception_ptr failure);
};
