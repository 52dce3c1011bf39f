// SPDX-License-Identifier: GPL-3.0-or-later
// TFlacCoder: one FLAC stream at a time over libFLAC++, written into a platform::OutputFile.
//
// Set Level and Comments, then per track: InitStream(file, channels, rate, expected frames),
// Encode with the 16-bit little-endian PCM as read (whole frames), Finish (the
// last frames; STREAMINFO's sample count, frame sizes and MD5 written over the stream's head).
// Every frame is decoded again and compared with its input, as libFLAC's verify mode does, but
// on a thread beside the encoder's (TFlacVerifier), which also sums the MD5 STREAMINFO gets.
// A coder belongs to one thread at a time; coders on several threads are independent. A stream
// still open when the coder goes is finished then, so its file must outlive an open stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class OutputFile;
}

class TFlacCoder {
 public:
  TFlacCoder();
  ~TFlacCoder();
  TFlacCoder(const TFlacCoder&) = delete;
  TFlacCoder& operator=(const TFlacCoder&) = delete;

  // Compression level 0..8; a value outside keeps the previous level (5 at creation).
  int Level() const { return level_; }
  void SetLevel(int level);
  // The Vorbis comments of the next stream, "NAME=value" in UTF-8 (VorbisComments of tags/).
  std::vector<std::string> Comments;

  // Opens a stream that starts at the file's current end. expectedFrames: the samples per
  // channel the track should give (0 when unknown); only a hint, the count in STREAMINFO is
  // the number encoded. False when the encoder refused the format or could not start (Problem).
  [[nodiscard]] bool InitStream(platform::OutputFile& file, int channels, uint32_t sampleRate,
                                uint64_t expectedFrames);
  // 16-bit little-endian interleaved PCM as read, `bytes` of it; a part of a frame at the end
  // is not encoded (the caller keeps it for the next call). False when the stream failed:
  // WriteFailed tells a failed write of the file (its Reason says why) from an encoder failure
  // (Problem).
  [[nodiscard]] bool Encode(const uint8_t* pcm, size_t bytes);
  // Ends the stream; the file is then a whole FLAC file of what was encoded, cancelled or
  // not. False as for Encode. The stream is closed whatever the result.
  [[nodiscard]] bool Finish();

  bool StreamOpen() const;
  bool WriteFailed() const;
  // What the encoder said about its failure ("verify mismatch", "refused the format").
  std::string Problem() const;
  // Frames (samples per channel) encoded in the current or last stream.
  uint64_t FramesEncoded() const;

 private:
  class Stream;
  int level_ = 5;
  std::unique_ptr<Stream> stream_;
};
