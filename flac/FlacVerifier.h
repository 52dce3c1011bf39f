// SPDX-License-Identifier: GPL-3.0-or-later
// TFlacVerifier: decodes a FLAC stream while it is being written, on a thread of its own, and
// compares every decoded sample with the encoder's input. It is the check libFLAC's verify mode
// makes, moved off the encoder's thread: on a machine with a core to spare, a verified rip then
// takes no longer than an unverified one.
//
//   TFlacVerifier v(channels);
//   per call of the encoder: v.Input(pcm, bytes) first, then the encoder's frames in stream
//   order through v.Encoded(...) (not its metadata: STREAMINFO's sample count is only an
//   estimate while the stream is written, and the decoder would stop there);
//   v.Failed() may be asked at any time; v.Finish() once the encoder has finished: true when
//   every input sample was decoded back exactly, else Problem() says where it differed; then
//   Md5() is the MD5 of the input as STREAMINFO holds it, taken here so that the encoder's
//   thread need not.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TFlacVerifier {
 public:
  explicit TFlacVerifier(int channels);
  ~TFlacVerifier();  // stops the thread; an unfinished check is dropped
  TFlacVerifier(const TFlacVerifier&) = delete;
  TFlacVerifier& operator=(const TFlacVerifier&) = delete;

  // 16-bit little-endian interleaved PCM as given to the encoder (whole frames). Waits while
  // the decoder is far behind, so what is kept stays bounded.
  void Input(const uint8_t* pcm, size_t bytes);
  void Encoded(const uint8_t* data, size_t bytes);
  bool Failed() const;
  // Waits for the decoder to reach the stream's end.
  [[nodiscard]] bool Finish();
  std::string Problem() const;
  // The MD5 of every sample given (16-bit little-endian interleaved, FLAC's definition). Only
  // meaningful after Finish() returned true.
  std::array<uint8_t, 16> Md5() const;

 private:
  class Decoder;
  friend class Decoder;
  void run();
  // Called on the decoder's thread.
  size_t takeBytes(uint8_t* to, size_t max, bool& end);
  bool compare(const int32_t* const channels[], uint32_t frames);
  bool hash(const int16_t* samples, size_t count);
  void fail(const std::string& why);

  const int channels_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  // What the decoder has yet to take, in the pieces given; the front piece from its offset.
  std::deque<std::vector<uint8_t>> bytes_;
  size_t bytesAt_ = 0;
  std::deque<std::vector<int16_t>> samples_;
  size_t samplesAt_ = 0;
  size_t pendingSamples_ = 0;
  size_t pendingBytes_ = 0;
  // Who sleeps: each side wakes the other only when it must, not on every frame.
  bool decoderWaiting_ = false;
  bool inputWaiting_ = false;
  uint64_t compared_ = 0;  // samples per channel decoded back so far
  bool finished_ = false;
  bool failed_ = false;
  bool stop_ = false;
  bool done_ = false;
  std::string problem_;
  // The decoder's thread's: the input's MD5, summed as its samples are compared.
  struct Md5Context;
  std::unique_ptr<Md5Context> md5_;
  std::array<uint8_t, 16> digest_{};
  std::thread thread_;
};
