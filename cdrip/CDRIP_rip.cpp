// SPDX-License-Identifier: GPL-3.0-or-later
// TCDRIP extraction: one track into one WAV, raw PCM or MP3 file.
#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <span>
#include <vector>

#include "CDRIP.h"
#include "flac/FlacCoder.h"
#include "lame/LameCoder.h"
#include "platform/events.h"
#include "platform/output_file.h"
#include "verify/TrackProof.h"

EFCreateError::EFCreateError(const std::string& fileName, std::string reason)
    : std::runtime_error("Cannot create file " + fileName), reason_(std::move(reason)) {}

namespace {

constexpr size_t kWavHeaderBytes = 44;
const char* const kTooLongForWav = "Track too long for a WAV file (over 4 GiB)";

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void wavHeader(uint8_t* h, const TFormatShape& shape, uint32_t dataSize) {
  const uint32_t byteRate = static_cast<uint32_t>(shape.Channels * shape.SampleRate * 2);
  std::memcpy(h, "RIFF", 4);
  put32(h + 4, dataSize + 36);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  put32(h + 16, 16);
  put16(h + 20, 1);
  put16(h + 22, static_cast<uint16_t>(shape.Channels));
  put32(h + 24, static_cast<uint32_t>(shape.SampleRate));
  put32(h + 28, byteRate);
  put16(h + 32, static_cast<uint16_t>(shape.Channels * 2));
  put16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  put32(h + 40, dataSize);
}

// Why a write to the output file failed, as the extraction reports it.
ECDRIPError writeError(const platform::OutputFile& file) { return ECDRIPError("Write error", file.Reason()); }

// Why the FLAC stream failed: the file's write, or the encoder itself (a verify mismatch).
ECDRIPError flacError(const TFlacCoder& coder, const platform::OutputFile& file) {
  return coder.WriteFailed() ? writeError(file) : ECDRIPError("FLAC encoder error", coder.Problem());
}

}  // namespace

void TCDRIP::RipTrack(int trackNum, const std::string& fileName) {
  if (OnBeginTrack) OnBeginTrack(*this, static_cast<uint16_t>(trackNum));
  const TTrack& t = tracks_.Objects(trackNum - 1);
  RipSectors(t.StartSector, t.EndSector, fileName);
  if (OnEndTrack) OnEndTrack(*this, static_cast<uint16_t>(trackNum));
}

void TCDRIP::AttachCoder(TLameCoder* value) {
  coder_ = value;
  UpdateCoder();
}

void TCDRIP::UpdateCoder() {
  if (!coder_) return;
  const TFormatShape shape = FormatShape(outputFormat_);
  coder_->SetMode(shape.Channels == 1 ? MONO : STEREO);
  coder_->SetSampleRate(static_cast<uint32_t>(shape.SampleRate));
  coder_->SetInputFormat(shape.Channels, static_cast<uint32_t>(shape.SampleRate));
}

int32_t TCDRIP::AbortAsked(void* self) {
  platform::ProcessMessages();
  return static_cast<TCDRIP*>(self)->cancel_ ? 1 : 0;
}

void TCDRIP::RipSectors(int startSector, int endSector, const std::string& fileName) {
  // 1-3: parameters, cancel flag, the ripper. A refused open is silent: no file appears.
  if (!ApplyParameters()) throw ECDRIPError("Invalid CD-ROM parameters");
  cancel_ = false;
  outputFileName_.clear();
  const TFormatShape shape = FormatShape(outputFormat_);
  // A WAV header counts its sizes in 32 bits: a longer track would get one that wraps.
  const bool wav = WriteWAV && !Encode;
  const uint64_t expected = static_cast<uint64_t>(std::max<int64_t>(0, int64_t{endSector} - startSector + 1)) * 588u *
                            static_cast<uint64_t>(shape.SampleRate) / 44100u *
                            static_cast<uint64_t>(shape.Channels) * 2u;
  if (wav && expected + 36u > UINT32_MAX) throw ECDRIPError(kTooLongForWav);
  // With a proof, its sectors are read: the track's, moved by the read offset. An offset that
  // moves the whole track off the disc reads nothing; the track is then all silence.
  verify::TTrackProof* const proof = TrackProof;
  const bool reads = !proof || proof->Reads();
  int32_t bufferSize = 0;
  // A drive that retries a damaged sector can keep one chunk busy for minutes: the library
  // asks between its reads, so the event loop runs and a cancel is heard inside the chunk.
  CR_SetReadRetries(ReadRetries);
  CR_SetAbortCallback(&TCDRIP::AbortAsked, this);
  struct AbortCallbackReset {
    ~AbortCallbackReset() { CR_SetAbortCallback(nullptr, nullptr); }
  } abortCallbackReset;
  damagedFirst_ = damagedLast_ = -1;
  if (reads && CR_OpenRipper(&bufferSize, proof ? proof->FirstSector() : startSector,
                             proof ? proof->LastSector() : endSector) == CDEX_ERROR)
    return;

  std::exception_ptr failure;
  std::string name;
  std::unique_ptr<platform::OutputFile> file;
  const bool flac = Encode && EncodeFlac;
  const bool encoding = Encode && !EncodeFlac && coder_;
  bool streamOpen = false;
  bool flacOpen = false;
  const size_t frameBytes = 2 * static_cast<size_t>(shape.Channels);
  size_t headBytes = 0;
  bool wavHeaderWritten = false;
  std::vector<uint8_t> ripBuffer, outBuffer;
  std::vector<int16_t> block;
  size_t blockBytes = 0;
  size_t carry = 0;

  try {
    // 4-7: the file, and the WAV header before any audio. Its sizes are the whole range's
    // here, so the file parses however it is cut short; they are set to what was really
    // written when the file is closed.
    name = Encode ? ChangeFileExt(fileName, EncodeFlac ? ".flac" : ".mp3") : fileName;
    // Written under a temporary name and renamed over the name when the track is closed, so
    // a killed rip or a second writer never leaves a mixture under the name.
    try {
      file = std::make_unique<platform::OutputFile>(name);
    } catch (const platform::OutputFileError& e) {
      throw EFCreateError(e.name(), e.reason());
    }
    if (wav) {
      uint8_t header[kWavHeaderBytes];
      wavHeader(header, shape, static_cast<uint32_t>(expected));
      file->WriteUnchecked(header, sizeof header);
      wavHeaderWritten = true;
    }

    // 8-9: the encoder stream and the buffers, once for the whole track.
    if (encoding && !FileHead.empty()) {
      if (!file->Write(FileHead.data(), FileHead.size())) throw writeError(*file);
      headBytes = FileHead.size();
    }
    if (flac) {
      if (!flacCoder_->InitStream(*file, shape.Channels, static_cast<uint32_t>(shape.SampleRate),
                                  expected / frameBytes)) {
        // The stream's head is written as it starts: a full disk shows here first.
        if (flacCoder_->WriteFailed()) throw writeError(*file);
        throw ECDRIPError("Unable to start the FLAC encoder", flacCoder_->Problem());
      }
      flacOpen = true;
      blockBytes = frameBytes;  // a part of a frame waits for the next chunk
    }
    if (encoding) {
      // Without a stream there is no block size to cut by, and the file would stay empty
      // while looking like a success.
      if (coder_->InitStream() != BE_ERR_SUCCESSFUL || coder_->SamplesPerChunk() == 0)
        throw ECDRIPError("Unable to start the MP3 encoder");
      streamOpen = true;
      outBuffer.resize(coder_->OutputBufferSize());
      block.resize(coder_->SamplesPerChunk());
      blockBytes = 2 * static_cast<size_t>(coder_->SamplesPerChunk());
    }
    ripBuffer.resize(static_cast<size_t>(bufferSize) + blockBytes);

    // The bytes at ripBuffer[carry, carry + numBytes) go to the file or the encoder.
    auto consume = [&](int32_t numBytes) {
      if (encoding) {
        const size_t total = carry + static_cast<size_t>(numBytes);
        size_t pos = 0;
        for (; pos + blockBytes <= total; pos += blockBytes) {
          std::memcpy(block.data(), ripBuffer.data() + pos, blockBytes);
          uint32_t n = 0;
          coder_->EncodeChunk(block.data(), outBuffer.data(), n);
          if (!file->Write(outBuffer.data(), n)) throw writeError(*file);
        }
        carry = total - pos;
        std::memmove(ripBuffer.data(), ripBuffer.data() + pos, carry);
      } else if (flac) {
        const size_t total = carry + static_cast<size_t>(numBytes);
        const size_t whole = total - total % frameBytes;
        if (!flacCoder_->Encode(ripBuffer.data(), whole)) throw flacError(*flacCoder_, *file);
        carry = total - whole;
        std::memmove(ripBuffer.data(), ripBuffer.data() + whole, carry);
      } else if (!Encode) {
        if (!file->Write(ripBuffer.data(), static_cast<size_t>(numBytes))) throw writeError(*file);
      }
    };
    // What the proof makes of bytes just read (or of the track's end): its bytes in their place.
    auto prove = [&](std::span<const uint8_t> out) {
      if (ripBuffer.size() < carry + out.size() + blockBytes) ripBuffer.resize(carry + out.size() + blockBytes);
      std::memmove(ripBuffer.data() + carry, out.data(), out.size());
      return static_cast<int32_t>(out.size());
    };

    // 10: the loop.
    bool ended = !reads;
    uint64_t readBytes = 0;
    // The first chunk is always asked for: a cancel heard while the ripper opened has ended
    // the range (status 1 at once), and its progress event tells that the track was opened
    // and cancelled, not refused.
    for (bool first = true; reads; first = false) {
      if (cancel_ && !first) break;
      int32_t numBytes = 0;
      const CDEX_ERR status = CR_RipChunk(ripBuffer.data() + carry, &numBytes, -1);
      if (status != CDEX_ERROR && numBytes > 0) {
        readBytes += static_cast<uint64_t>(numBytes);
        if (proof) numBytes = prove(proof->Take({ripBuffer.data() + carry, static_cast<size_t>(numBytes)}));
        if (numBytes > 0) consume(numBytes);
      }
      if (status == CDEX_JITTER_ERROR) {
        int32_t first = 0, second = 0;
        CR_GetLastJitterErrorPosition(&first, &second);
        jitterLog_.push_back(std::to_string(static_cast<uint32_t>(first)) + " " +
                             std::to_string(static_cast<uint32_t>(second)));
      }
      const int32_t percent = CR_GetPercentCompleted();
      if (OnProgress) OnProgress(*this, static_cast<uint16_t>(percent));
      platform::ProcessMessages();
      if (status == CDEX_RIPPING_DONE) {
        ended = true;
        break;
      }
    }
    // The silence where the disc ends, at a normal end only: a cancelled track stays short, and
    // so does one whose reads ended before its last sector, rather than look whole.
    const uint64_t wanted =
        proof && reads ? static_cast<uint64_t>(proof->LastSector() - proof->FirstSector() + 1) * 2352u : 0;
    if (proof && ended && !cancel_ && readBytes >= wanted) {
      if (const int32_t numBytes = prove(proof->Finish()); numBytes > 0) consume(numBytes);
      if (!reads && OnProgress) OnProgress(*this, 100);
    }
  } catch (...) {
    failure = std::current_exception();
  }

  // 11: closing steps, whatever ended the loop.
  if (streamOpen) {
    try {
      uint32_t n = 0;
      // The last partial block is audio too: encoded before the flush.
      if (carry > 0) {
        std::memcpy(block.data(), ripBuffer.data(), carry);
        coder_->EncodeLastChunk(block.data(), static_cast<uint32_t>(carry / 2), outBuffer.data(), n);
        if (!file->Write(outBuffer.data(), n)) throw writeError(*file);
      }
      coder_->DeinitStream(outBuffer.data(), n);
      if (!file->Write(outBuffer.data(), n)) throw writeError(*file);
      // The stream began with a placeholder header frame; fill it in now that the encoder
      // knows the length, so players show the duration and play gaplessly.
      std::vector<uint8_t> tag(outBuffer.size());
      coder_->FinalHeaderFrame(tag.data(), static_cast<uint32_t>(tag.size()), n);
      if (n > 0 && headBytes + n <= file->Written() && !file->WriteAt(static_cast<off_t>(headBytes), tag.data(), n))
        throw writeError(*file);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    coder_->CloseStream();
  }
  // A cancelled or failed FLAC stream is finished too: STREAMINFO then counts what it holds.
  if (flacOpen && !flacCoder_->Finish() && !failure) failure = std::make_exception_ptr(flacError(*flacCoder_, *file));
  if (reads) {
    jitterErrorCount_ = CR_GetNumberOfJitterErrors();
    CR_GetDamagedSectors(&damagedFirst_, &damagedLast_);
    CR_CloseRipper();
  } else {
    jitterErrorCount_ = 0;
  }
  if (wavHeaderWritten && file) {
    try {
      const uint64_t data = file->Written() >= kWavHeaderBytes ? file->Written() - kWavHeaderBytes : 0;
      uint8_t sizes[4];
      put32(sizes, static_cast<uint32_t>(data + 36));
      if (!file->WriteAt(4, sizes, 4)) throw writeError(*file);
      put32(sizes, static_cast<uint32_t>(data));
      if (!file->WriteAt(40, sizes, 4)) throw writeError(*file);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  // The file goes under its name whatever ended the loop, a cancel or a write error included:
  // the partial file stays, as described. A close that fails may have lost buffered audio:
  // that is a write error too.
  if (file) {
    try {
      const bool closed = file->Close();
      outputFileName_ = name;
      if (!closed && !failure) failure = std::make_exception_ptr(writeError(*file));
    } catch (const platform::OutputFileError& e) {
      if (!failure) failure = std::make_exception_ptr(EFCreateError(e.name(), e.reason()));
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}
