// SPDX-License-Identifier: GPL-3.0-or-later
#include "FlacCoder.h"

#include <FLAC++/encoder.h>
#include <FLAC++/metadata.h>

#include <algorithm>

#include "platform/output_file.h"

namespace {
// Frames converted to libFLAC's 32-bit samples per call: the conversion buffer is set up once
// per stream, whatever the callers' chunks.
constexpr size_t kFramesPerCall = 4096;
// Room after the tags, as the flac tool leaves it, so a tag editor can change them in place.
constexpr unsigned kPaddingBytes = 8192;
}  // namespace

// The encoder over one file. Positions are the stream's own (0 = "fLaC"); the stream starts
// at base_ in the file. libFLAC writes forward, then at the end seeks back once to write the
// final STREAMINFO over the first one: those bytes go over the written ones, never past them.
class TFlacCoder::Stream : public FLAC::Encoder::Stream {
 public:
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

 protected:
  FLAC__StreamEncoderWriteStatus write_callback(const FLAC__byte buffer[], size_t bytes, uint32_t,
                                                uint32_t) override {
    const bool ok = base_ + pos_ == file_.Written()
                        ? file_.Write(buffer, bytes)
                        : file_.WriteAt(static_cast<off_t>(base_ + pos_), buffer, bytes);
    if (!ok) {
      writeFailed_ = true;
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    pos_ += bytes;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
  FLAC__StreamEncoderSeekStatus seek_callback(FLAC__uint64 offset) override {
    // Only ever back over what was written: the head's STREAMINFO.
    if (base_ + offset > file_.Written()) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
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
  bool ok = s.set_verify(true) && s.set_compression_level(static_cast<uint32_t>(level_)) &&
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
  s.buffer_.resize(kFramesPerCall * static_cast<size_t>(s.channels_));
  return true;
}

bool TFlacCoder::Encode(const uint8_t* pcm, size_t bytes) {
  if (!StreamOpen()) return false;
  Stream& s = *stream_;
  const size_t ch = static_cast<size_t>(s.channels_);
  size_t frames = bytes / (2 * ch);
  while (frames > 0) {
    const size_t n = std::min(frames, kFramesPerCall);
    FLAC__int32* out = s.buffer_.data();
    for (size_t i = 0; i < n * ch; ++i, pcm += 2)
      out[i] = static_cast<int16_t>(static_cast<uint16_t>(pcm[0] | (pcm[1] << 8)));
    if (!s.process_interleaved(s.buffer_.data(), static_cast<uint32_t>(n))) return false;
    s.frames_ += n;
    frames -= n;
  }
  return true;
}

bool TFlacCoder::Finish() {
  if (!StreamOpen()) return false;
  Stream& s = *stream_;
  s.open_ = false;
  const bool ok = s.finish();
  if (!ok && s.problem_.empty()) s.problem_ = s.get_state().resolved_as_cstring(s);
  return ok && !s.writeFailed_;
}
