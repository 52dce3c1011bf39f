// The encoders of TParallelRun: each turns one track at a time into its MP3 file (and tags
// it) or its FLAC file, from the parts the reader hands it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <shared_mutex>

#include "platform/events.h"
#include "run/ParallelRip_State.h"
#include "mp3info/MP3Info.h"

namespace {

// The encoder library keeps its streams in one table: opening or closing a stream changes it,
// encoding only looks its stream up. So the encoder threads encode at once under the shared
// lock, and open and close streams under the lock alone (libmp3lame's start-up also fills
// tables that every stream reads).
std::shared_mutex g_encoderTable;

// Why a write to a track's file failed, as the one-track run reports it.
ECDRIPError writeError(const platform::OutputFile& file) { return ECDRIPError("Write error", file.Reason()); }

// Why the FLAC stream failed: the file's write, or the encoder itself (a verify mismatch).
ECDRIPError flacError(const TFlacCoder& coder, const platform::OutputFile& file) {
  return coder.WriteFailed() ? writeError(file) : ECDRIPError("FLAC encoder error", coder.Problem());
}

}  // namespace

// Gives the disk back the spill file's front up to `end`, read by now: what the spill holds
// is then what the encoder has still to take, whatever the track's length. From the block
// the last range ended in, which it could not give back whole.
void TParallelRun::State::freeSpill(Job& j, uint64_t end) {
  constexpr uint64_t kBlock = 4096;
  const uint64_t from = j.spillFreed / kBlock * kBlock;
  if (::fallocate(j.spill->get(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                  static_cast<off_t>(end - from)) != 0)
    return;  // kept until the file goes
  std::lock_guard lock(m);
  spillHeld -= end - j.spillFreed;
  j.spillFreed = end;
}

void TParallelRun::State::encoderMain() {
  // A thread starts with its creator's registers: a window's thread may have left them as
  // SSE code runs slowly with.
  platform::ClearUpperVectorState();
  TLameCoder own;
  own.TakeValuesFrom(coder);
  own.SetInputFormat(shape.Channels, static_cast<uint32_t>(shape.SampleRate));
  TFlacCoder flac;
  flac.SetLevel(flacLevel);
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
    encodeTrack(*j, own, flac, out, block, staging);
  }
}

void TParallelRun::State::encodeTrack(Job& j, TLameCoder& enc, TFlacCoder& flac, std::vector<uint8_t>& out,
                                      std::vector<int16_t>& block, std::vector<uint8_t>& staging) {
  std::exception_ptr failure;
  const bool toFlac = output == TRunOutput::Flac;
  bool streamOpen = false, flacOpen = false;
  size_t blockBytes = 0, carry = 0;
  uint64_t encoded = 0;  // the track's bytes handed to the encoder
  auto* staged = reinterpret_cast<uint8_t*>(block.data());
  // The track's PCM in blocks of the stream's size, as one stream of bytes, whatever the parts.
  auto feed = [&](const uint8_t* p, size_t n) {
    encoded += n;
    if (toFlac) {
      // Whole frames straight from the part; a part of a frame waits for the next part.
      if (carry > 0) {
        const size_t take = std::min(blockBytes - carry, n);
        std::memcpy(staged + carry, p, take);
        carry += take;
        p += take;
        n -= take;
        if (carry < blockBytes) return;
        if (!flac.Encode(staged, carry)) throw flacError(flac, *j.file);
        carry = 0;
      }
      const size_t whole = n - n % blockBytes;
      if (whole > 0 && !flac.Encode(p, whole)) throw flacError(flac, *j.file);
      carry = n - whole;
      std::memcpy(staged, p + whole, carry);
      return;
    }
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
    if (toFlac) {
      flac.Comments = j.comments;
      if (!flac.InitStream(*j.file, shape.Channels, static_cast<uint32_t>(shape.SampleRate), j.expectedFrames)) {
        // The stream's head is written as it starts: a full disk shows here first.
        if (flac.WriteFailed()) throw writeError(*j.file);
        throw ECDRIPError("Unable to start the FLAC encoder", flac.Problem());
      }
      flacOpen = true;
      blockBytes = 2 * static_cast<size_t>(shape.Channels);  // one frame
      block.assign(blockBytes / 2, 0);
      staged = reinterpret_cast<uint8_t*>(block.data());
    } else {
      if (!j.fileHead.empty() && !j.file->Write(j.fileHead.data(), j.fileHead.size())) throw writeError(*j.file);
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
    }

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
        freeSpill(j, seg.offset + seg.bytes);
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
      const size_t at = j.fileHead.size();  // the placeholder follows the file's head
      if (n > 0 && at + n <= j.file->Written() && !j.file->WriteAt(static_cast<off_t>(at), out.data(), n))
        throw writeError(*j.file);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    std::unique_lock alone(g_encoderTable);
    enc.CloseStream();
  }
  // A cancelled or failed FLAC stream is finished too: STREAMINFO then counts what it holds
  // (a part of a frame left over is dropped, as one track at a time).
  if (flacOpen && !flac.Finish() && !failure) failure = std::make_exception_ptr(flacError(flac, *j.file));
  {
    std::lock_guard lock(m);
    reached();
    j.encoderGone = true;
    for (; j.count > 0; j.pop()) {
      if (j.front().buffer >= 0) freeBuffers.push_back(j.front().buffer);
    }
    if (failure) encoderFailed = true;
  }
  mainCv.notify_all();

  // The tag, into the file before it is put under its name: a cancelled partial file gets
  // one too. A file that could not be finished gets none, as one track at a time, where
  // the flush that fails comes before the tag.
  if (!failure && !j.file->Sync()) failure = std::make_exception_ptr(writeError(*j.file));
  if (!failure && !toFlac) {
    try {
      TMP3Info tagger;
      tagger.SetFilename(j.file->TempName());
      tagger.SetTitle(j.caption);
      tagger.Save();
      if (!tagger.Saved()) throw ETagNotWritten("Cannot write the ID3 tag into " + j.name);
    } catch (...) {
      failure = std::current_exception();
      j.tagFailed = true;
    }
  }
  if (!j.file->Finish() && !failure) failure = std::make_exception_ptr(writeError(*j.file));
  if (failure) {
    std::lock_guard lock(m);
    encoderFailed = true;
  }
  markDone(j, failure);
}

