// SPDX-License-Identifier: GPL-3.0-or-later
#include "FlacVerifier.h"

#include <FLAC++/decoder.h>
#include <openssl/evp.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {
// Input samples kept for the decoder at most (2 MB, about 12 s of stereo audio). Smaller, the
// encoder was measured waiting for a decoder that sleeps between its batches of the stream.
constexpr size_t kMaxPendingSamples = 1 << 20;
// The decoder sleeps until this much of the stream has come (or the encoder waits for it, or
// has finished): a wake-up per frame would cost the encoder's thread more than the decoding.
constexpr size_t kWakeBytes = 64 * 1024;
}  // namespace

struct TFlacVerifier::Md5Context {
  Md5Context() : ctx(EVP_MD_CTX_new()) { ok = ctx && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) == 1; }
  ~Md5Context() { EVP_MD_CTX_free(ctx); }
  Md5Context(const Md5Context&) = delete;
  Md5Context& operator=(const Md5Context&) = delete;
  EVP_MD_CTX* ctx;
  bool ok = false;
};

class TFlacVerifier::Decoder : public FLAC::Decoder::Stream {
 public:
  explicit Decoder(TFlacVerifier& v) : v_(v) {}

 protected:
  FLAC__StreamDecoderReadStatus read_callback(FLAC__byte buffer[], size_t* bytes) override {
    bool end = false;
    *bytes = v_.takeBytes(buffer, *bytes, end);
    if (*bytes > 0) return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    return end ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_ABORT;
  }
  FLAC__StreamDecoderWriteStatus write_callback(const FLAC__Frame* frame, const FLAC__int32* const buffer[]) override {
    if (frame->header.channels != static_cast<uint32_t>(v_.channels_)) {
      v_.fail("a frame of " + std::to_string(frame->header.channels) + " channels");
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    return v_.compare(buffer, frame->header.blocksize) ? FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE
                                                       : FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  void error_callback(FLAC__StreamDecoderErrorStatus status) override {
    v_.fail(std::string("the stream does not decode (") + FLAC__StreamDecoderErrorStatusString[status] + ")");
  }

 private:
  TFlacVerifier& v_;
};

TFlacVerifier::TFlacVerifier(int channels)
    : channels_(channels == 1 ? 1 : 2), md5_(std::make_unique<Md5Context>()), thread_([this] { run(); }) {}

TFlacVerifier::~TFlacVerifier() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void TFlacVerifier::Input(const uint8_t* pcm, size_t bytes) {
  const size_t n = bytes / 2 / static_cast<size_t>(channels_) * static_cast<size_t>(channels_);
  if (n == 0) return;
  std::vector<int16_t> piece(n);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(piece.data(), pcm, n * 2);
  } else {
    for (size_t i = 0; i < n; ++i, pcm += 2) piece[i] = static_cast<int16_t>(static_cast<uint16_t>(pcm[0] | (pcm[1] << 8)));
  }
  std::unique_lock lock(m_);
  if (pendingSamples_ >= kMaxPendingSamples) {
    inputWaiting_ = true;
    cv_.notify_all();  // a decoder waiting for more of the stream takes what there is
    cv_.wait(lock, [&] { return pendingSamples_ < kMaxPendingSamples || failed_ || done_ || stop_; });
    inputWaiting_ = false;
  }
  if (failed_ || done_) return;  // nobody compares any more
  pendingSamples_ += n;
  samples_.push_back(std::move(piece));
}

void TFlacVerifier::Encoded(const uint8_t* data, size_t bytes) {
  if (bytes == 0) return;
  std::lock_guard lock(m_);
  if (failed_ || done_) return;
  bytes_.emplace_back(data, data + bytes);
  pendingBytes_ += bytes;
  if (decoderWaiting_ && pendingBytes_ >= kWakeBytes) cv_.notify_all();
}

bool TFlacVerifier::Failed() const {
  std::lock_guard lock(m_);
  return failed_;
}

bool TFlacVerifier::Finish() {
  std::unique_lock lock(m_);
  finished_ = true;
  cv_.notify_all();
  cv_.wait(lock, [&] { return done_; });
  // Input the stream never gave back: frames lost between the encoder and the file.
  if (!failed_ && pendingSamples_ > 0) {
    failed_ = true;
    problem_ = "verify: " + std::to_string(pendingSamples_ / static_cast<size_t>(channels_)) +
               " samples were not in the stream (from sample " + std::to_string(compared_) + ")";
  }
  return !failed_;
}

std::array<uint8_t, 16> TFlacVerifier::Md5() const {
  std::lock_guard lock(m_);
  return digest_;
}

std::string TFlacVerifier::Problem() const {
  std::lock_guard lock(m_);
  return problem_;
}

void TFlacVerifier::fail(const std::string& why) {
  std::lock_guard lock(m_);
  if (!failed_) problem_ = "verify: " + why;
  failed_ = true;
  cv_.notify_all();
}

size_t TFlacVerifier::takeBytes(uint8_t* to, size_t max, bool& end) {
  std::unique_lock lock(m_);
  decoderWaiting_ = true;
  cv_.wait(lock, [&] {
    return (!bytes_.empty() && (pendingBytes_ >= kWakeBytes || inputWaiting_)) || finished_ || stop_ || failed_;
  });
  decoderWaiting_ = false;
  size_t given = 0;
  while (given < max && !bytes_.empty() && !failed_) {
    const std::vector<uint8_t>& front = bytes_.front();
    const size_t n = std::min(max - given, front.size() - bytesAt_);
    std::memcpy(to + given, front.data() + bytesAt_, n);
    given += n;
    bytesAt_ += n;
    pendingBytes_ -= n;
    if (bytesAt_ == front.size()) {
      bytes_.pop_front();
      bytesAt_ = 0;
    }
  }
  // The end: every byte taken once the encoder has finished; a stop or a failure aborts.
  end = given == 0 && finished_ && !stop_ && !failed_;
  return given;
}

bool TFlacVerifier::compare(const int32_t* const channels[], uint32_t frames) {
  const size_t ch = static_cast<size_t>(channels_);
  uint32_t done = 0;
  while (done < frames) {
    // The front piece is read without the lock: only this thread takes pieces away, and the
    // encoder's appends leave the elements where they are. Pieces hold whole frames.
    const std::vector<int16_t>* front;
    size_t at;
    {
      std::lock_guard lock(m_);
      if (samples_.empty()) {
        failed_ = true;
        problem_ = "verify: the stream holds more samples than were encoded (from sample " +
                   std::to_string(compared_) + ")";
        cv_.notify_all();
        return false;
      }
      front = &samples_.front();
      at = samplesAt_;
    }
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(frames - done, (front->size() - at) / ch));
    const int16_t* expected = front->data() + at;
    for (size_t c = 0; c < ch; ++c) {
      const int32_t* decoded = channels[c] + done;
      for (uint32_t j = 0; j < n; ++j) {
        if (decoded[j] != expected[j * ch + c]) {
          fail("mismatch in audio data at sample " + std::to_string(compared_ + j) + ", channel " + std::to_string(c) +
               ": " + std::to_string(decoded[j]) + " decoded, " + std::to_string(expected[j * ch + c]) + " encoded");
          return false;
        }
      }
    }
    if (!hash(expected, n * ch)) return false;
    std::lock_guard lock(m_);
    samplesAt_ += n * ch;
    if (samplesAt_ == front->size()) {
      samples_.pop_front();
      samplesAt_ = 0;
    }
    pendingSamples_ -= n * ch;
    compared_ += n;
    done += n;
    if (inputWaiting_ && pendingSamples_ < kMaxPendingSamples) cv_.notify_all();
  }
  return true;
}

bool TFlacVerifier::hash(const int16_t* samples, size_t count) {
  bool ok = md5_->ok;
  if constexpr (std::endian::native == std::endian::little) {
    ok = ok && EVP_DigestUpdate(md5_->ctx, samples, count * 2) == 1;
  } else {
    std::vector<uint8_t> le(count * 2);
    for (size_t i = 0; i < count; ++i) {
      le[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) & 0xff);
      le[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) >> 8);
    }
    ok = ok && EVP_DigestUpdate(md5_->ctx, le.data(), le.size()) == 1;
  }
  if (!ok) fail("the MD5 of the audio could not be computed");
  return ok;
}

void TFlacVerifier::run() {
  Decoder decoder(*this);
  if (decoder.init() != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    fail("the decoder could not start");
  } else if (!decoder.process_until_end_of_stream() &&
             decoder.get_state() != FLAC__STREAM_DECODER_END_OF_STREAM) {
    bool stopped;
    {
      std::lock_guard lock(m_);
      stopped = stop_;
    }
    if (!stopped) fail(std::string("the stream does not decode (") + decoder.get_state().as_cstring() + ")");
  }
  decoder.finish();
  std::array<uint8_t, 16> digest{};
  unsigned length = 0;
  const bool summed = md5_->ok && EVP_DigestFinal_ex(md5_->ctx, digest.data(), &length) == 1 && length == 16;
  if (!summed) fail("the MD5 of the audio could not be computed");
  std::lock_guard lock(m_);
  digest_ = digest;
  done_ = true;
  cv_.notify_all();
}
