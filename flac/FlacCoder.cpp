// SPDX-License-Identifier: GPL-3.0-or-later
#include "FlacCoder.h"

#include <FLAC++/encoder.h>
#include <FLAC++/metadata.h>

#include <algorithm>
#include <array>

#include "flac/FlacVerifier.h"
#include "platform/output_file.h"

namespace {
// Frames converted to libFLAC's 32-bit samples per call: the conversion buffer is set up once
// per stream, whatever the callers' chunks.
constexpr size_t kFramesPerCall = 4096;
// Room after the tags, as the flac tool leaves it, so a tag editor can change them in place.
constexpr unsigned kPaddingBytes = 8192;
// Frames gathered per write of the file.
constexpr size_t kWriteBytes = 256 * 1024;
// Where STREAMINFO's MD5 lies in the stream: after "fLaC", the block's header and 18 bytes.
constexpr uint64_t kMd5Offset = 4 + 4 + 18;
}  // namespace

// Exported by libFLAC (its own test programs use it) but left out of its public headers. The
// MD5 of the input costs the encoder's thread about a tenth of its time; the verifier's thread
// sums it instead, and it is written into STREAMINFO at the end.
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder* encoder, FLAC__bool value);

// The encoder over one file. Positions are the stream's own (0 = "fLaC"); the stream starts
// at base_ in the file. libFLAC writes forward, then at the end seeks back once to write the
// final STREAMINFO over the first one: those bytes go over the written ones, never past them.
class TFlacCoder::Stream : public FLAC::Encoder::Stream {
 public:
  bool leaveMd5ToVerifier() { return FLAC__stream_encoder_set_do_md5(encoder_, false) != 0; }
  explicit Stream(platform::OutputFile& file) : file_(file), base_(file.Written()) {}

  platform::OutputFile& file_;
  const uint64_t base_;
  uint64_t pos_ = 0;
  bool writeFailed_ = false;
  bool open_ = false;
  uint64_t frames_ = 0;
  int channels_ = 2;
  std::vector<FLAC__int32> buffer_;
  FLAC::Metadata::VorbisComment comments_;
  FLAC::Metadata::Padding padding_{kPaddingBytes};
  std::string problem_;
  // Every frame decoded again and compared with its input, beside the encoder.
  std::unique_ptr<TFlacVerifier> verifier_;
  // Written forward, not yet in the file.
  std::vector<uint8_t> pending_;

  bool Flush() {
    if (pending_.empty()) return true;
    const bool ok = file_.Write(pending_.data(), pending_.size());
    pending_.clear();
    if (!ok) writeFailed_ = true;
    return ok;
  }

 protected:
  FLAC__StreamEncoderWriteStatus write_callback(const FLAC__byte buffer[], size_t bytes, uint32_t samples,
                                                uint32_t) override {
    // Frames (the writes that carry samples) go to the check as the file gets them.
    if (samples > 0 && verifier_) verifier_->Encoded(buffer, bytes);
    bool ok;
    if (base_ + pos_ == file_.Written() + pending_.size()) {
      // Forward writes are gathered: one system call per frame cost more than the rest of
      // the writing.
      pending_.insert(pending_.end(), buffer, buffer + bytes);
      ok = pending_.size() < kWriteBytes || Flush();
    } else {
      ok = Flush() && file_.WriteAt(static_cast<off_t>(base_ + pos_), buffer, bytes);
    }
    if (!ok) {
      writeFailed_ = true;
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    pos_ += bytes;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
  FLAC__StreamEncoderSeekStatus seek_callback(FLAC__uint64 offset) override {
    // Only ever back over what was written: the head's STREAMINFO.
    if (!Flush() || base_ + offset > file_.Written()) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    pos_ = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }
  FLAC__StreamEncoderTellStatus tell_callback(FLAC__uint64* offset) override {
    *offset = pos_;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }
};

TFlacCoder::TFlacCoder() = default;
TFlacCoder::~TFlacCoder() {
  // A stream left open (an exception between InitStream and Finish) is ended, so the file it
  // wrote into still gets a whole stream's head.
  if (stream_ && stream_->open_) (void)Finish();
}

void TFlacCoder::SetLevel(int level) {
  if (level >= 0 && level <= 8) level_ = level;
}

bool TFlacCoder::StreamOpen() const { return stream_ && stream_->open_; }
bool TFlacCoder::WriteFailed() const { return stream_ && stream_->writeFailed_; }
uint64_t TFlacCoder::FramesEncoded() const { return stream_ ? stream_->frames_ : 0; }

std::string TFlacCoder::Problem() const {
  if (!stream_) return {};
  if (!stream_->problem_.empty()) return stream_->problem_;
  return stream_->get_state().resolved_as_cstring(*stream_);
}

bool TFlacCoder::InitStream(platform::OutputFile& file, int channels, uint32_t sampleRate, uint64_t expectedFrames) {
  if (StreamOpen()) (void)Finish();
  stream_ = std::make_unique<Stream>(file);
  Stream& s = *stream_;
  s.channels_ = channels == 1 ? 1 : 2;
  // libFLAC's own verify mode would decode on this thread; the verifier does it beside it.
  bool ok = s.set_verify(false) && s.leaveMd5ToVerifier() && s.set_compression_level(static_cast<uint32_t>(level_)) &&
            s.set_channels(static_cast<uint32_t>(s.channels_)) && s.set_bits_per_sample(16) &&
            s.set_sample_rate(sampleRate) && s.set_total_samples_estimate(expectedFrames);
  for (const std::string& c : Comments) {
    const auto eq = c.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    FLAC::Metadata::VorbisComment::Entry entry(c.substr(0, eq).c_str(), c.c_str() + eq + 1,
                                                 static_cast<uint32_t>(c.size() - eq - 1));
    if (entry.is_valid()) s.comments_.append_comment(entry);
  }
  FLAC::Metadata::Prototype* blocks[] = {&s.comments_, &s.padding_};
  ok = ok && s.set_metadata(blocks, 2);
  if (!ok) {
    s.problem_ = "the encoder refused its settings";
    return false;
  }
  const FLAC__StreamEncoderInitStatus init = s.init();
  if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    s.problem_ = FLAC__StreamEncoderInitStatusString[init];
    if (init == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR) s.problem_ = Problem();
    return false;
  }
  s.open_ = true;
  s.pending_.reserve(2 * kWriteBytes);
  s.buffer_.resize(kFramesPerCall * static_cast<size_t>(s.channels_));
  s.verifier_ = std::make_unique<TFlacVerifier>(s.channels_);
  return true;
}

bool TFlacCoder::Encode(const uint8_t* pcm, size_t bytes) {
  if (!StreamOpen()) return false;
  Stream& s = *stream_;
  const size_t ch = static_cast<size_t>(s.channels_);
  size_t frames = bytes / (2 * ch);
  while (frames > 0) {
    const size_t n = std::min(frames, kFramesPerCall);
    if (s.verifier_->Failed()) {
      s.problem_ = s.verifier_->Problem();
      return false;
    }
    s.verifier_->Input(pcm, n * ch * 2);
    // Split into the channels as converted: libFLAC's interleaved entry would split them again.
    FLAC__int32* left = s.buffer_.data();
    FLAC__int32* right = left + kFramesPerCall;
    auto sample = [](const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))); };
    if (ch == 2) {
      for (size_t i = 0; i < n; ++i, pcm += 4) {
        left[i] = sample(pcm);
        right[i] = sample(pcm + 2);
      }
    } else {
      for (size_t i = 0; i < n; ++i, pcm += 2) left[i] = sample(pcm);
    }
    const FLAC__int32* const channels[2] = {left, right};
    if (!s.process(channels, static_cast<uint32_t>(n))) return false;
    s.frames_ += n;
    frames -= n;
  }
  return true;
}

bool TFlacCoder::Finish() {
  if (!StreamOpen()) return false;
  Stream& s = *stream_;
  s.open_ = false;
  bool ok = s.finish();
  ok = s.Flush() && ok;  // libFLAC seeks back at its end, but a stream it could not finish may not
  if (!ok && s.problem_.empty()) s.problem_ = s.get_state().resolved_as_cstring(s);
  if (s.verifier_ && !s.verifier_->Finish()) {
    if (s.problem_.empty()) s.problem_ = s.verifier_->Problem();
    ok = false;
  }
  // libFLAC wrote STREAMINFO with no MD5 (all zero: "unknown"); the verified input's goes in.
  if (ok && s.verifier_ && !s.writeFailed_) {
    const std::array<uint8_t, 16> md5 = s.verifier_->Md5();
    if (!s.file_.WriteAt(static_cast<off_t>(s.base_ + kMd5Offset), md5.data(), md5.size())) s.writeFailed_ = true;
  }
  s.verifier_.reset();
  return ok && !s.writeFailed_;
}
