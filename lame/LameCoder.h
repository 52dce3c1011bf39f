// SPDX-License-Identifier: GPL-3.0-or-later
// TLameCoder: the MP3 encoder settings and one encoder stream at a time.
//
// Set the properties (the CD component tells the true input format through UpdateCoder);
// then per track: InitStream, EncodeChunk once per whole block of SamplesPerChunk values,
// EncodeLastChunk for a shorter final block, DeinitStream (the flush), FinalHeaderFrame (to be
// written over the stream's first frame) and CloseStream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Lame_dll.h"

enum TLameMode : int32_t { STEREO = 0, JSTEREO = 1, DUALCHANNEL = 2, MONO = 3 };

class TLameCoder;

class TLameVersion {
 public:
  TLameVersion();  // asks the library
  uint8_t DLLMajorVersion() const { return record_.byDLLMajorVersion; }
  uint8_t DLLMinorVersion() const { return record_.byDLLMinorVersion; }
  uint8_t MajorVersion() const { return record_.byMajorVersion; }
  uint8_t MinorVersion() const { return record_.byMinorVersion; }
  void TakeValuesFrom(const TLameVersion& source);

 private:
  BE_VERSION record_{};
};

using TNotifyEvent = std::function<void(TLameCoder& sender)>;
using TProcessFileEvent = std::function<void(TLameCoder& sender, uint16_t num, const std::string& fileName)>;
using TCoderProgressEvent = std::function<void(TLameCoder& sender, uint16_t percentComplete)>;

class TLameCoder {
 public:
  TLameCoder();
  TLameCoder(const TLameCoder&) = delete;
  TLameCoder& operator=(const TLameCoder&) = delete;

  uint32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(uint32_t v) { sampleRate_ = v; }
  uint32_t Bitrate() const { return bitrate_; }
  void SetBitrate(uint32_t v) { bitrate_ = v; }
  uint32_t MaxBitrate() const { return maxBitrate_; }
  void SetMaxBitrate(uint32_t v) { maxBitrate_ = v; }
  uint8_t Quality() const { return quality_; }
  void SetQuality(uint8_t v) { quality_ = v; }  // any byte, passed on unchanged
  int32_t Private() const { return private_; }
  void SetPrivate(bool v) { private_ = v ? -1 : 0; }
  int32_t CRC() const { return crc_; }
  void SetCRC(bool v) { crc_ = v ? -1 : 0; }
  TLameMode Mode() const { return static_cast<TLameMode>(mode_); }
  void SetMode(int32_t ordinal);  // outside 0..3: ignored
  int32_t Copyright() const { return copyright_; }
  void SetCopyright(bool v) { copyright_ = v ? -1 : 0; }
  int32_t Original() const { return original_; }
  void SetOriginal(bool v) { original_ = v ? -1 : 0; }
  int32_t WriteVBRHeader() const { return writeVBRHeader_; }
  void SetWriteVBRHeader(bool v) { writeVBRHeader_ = v ? -1 : 0; }
  int32_t EnableVBR() const { return enableVBR_; }
  void SetEnableVBR(bool v);  // also sets WriteVBRHeader to the same value
  int32_t VBRQuality() const { return vbrQuality_; }
  void SetVBRQuality(int32_t v) { vbrQuality_ = v; }

  const std::vector<std::string>& InputFiles() const { return inputFiles_; }
  void SetInputFiles(const std::vector<std::string>& names);  // and derives OutputFiles
  const std::vector<std::string>& OutputFiles() const { return outputFiles_; }
  void SetOutputFiles(const std::vector<std::string>& names) { outputFiles_ = names; }
  const TLameVersion& LameVersion() const { return version_; }
  std::string DefaultExt = ".mp3";
  std::string Mp3FileName;
  TNotifyEvent OnBeginProcess;
  TProcessFileEvent OnBeginFile;
  TProcessFileEvent OnEndFile;
  TNotifyEvent OnEndProcess;
  TCoderProgressEvent OnProgress;

  // Copies the stored settings of another coder, without setter side effects.
  void TakeValuesFrom(const TLameCoder& source);

  // The PCM the stream will be fed: the CD component's output format.
  void SetInputFormat(int channels, uint32_t sampleRate);

  uint32_t InitStream();
  uint32_t EncodeChunk(const int16_t* input, uint8_t* output, uint32_t& outBytes);
  uint32_t EncodeLastChunk(const int16_t* input, uint32_t numSamples, uint8_t* output, uint32_t& outBytes);
  uint32_t DeinitStream(uint8_t* output, uint32_t& outBytes);
  uint32_t FinalHeaderFrame(uint8_t* output, uint32_t size, uint32_t& outBytes);
  uint32_t CloseStream();
  uint32_t SamplesPerChunk() const { return samplesPerChunk_; }
  uint32_t OutputBufferSize() const { return outputBufferSize_; }
  const BE_CONFIG& Config() const { return config_; }

 private:
  uint32_t sampleRate_ = 44100;
  uint32_t bitrate_ = 128;
  uint32_t maxBitrate_ = 320;
  uint8_t quality_ = NORMAL_QUALITY;
  int32_t private_ = 0;
  int32_t crc_ = -1;
  int32_t mode_ = STEREO;
  int32_t copyright_ = 0;
  int32_t original_ = 0;
  int32_t writeVBRHeader_ = 0;
  int32_t enableVBR_ = 0;
  int32_t vbrQuality_ = 4;
  std::vector<std::string> inputFiles_, outputFiles_;
  TLameVersion version_;
  int inputChannels_ = 2;
  uint32_t inputRate_ = 44100;
  BE_CONFIG config_{};
  HBE_STREAM stream_ = 0;
  uint32_t samplesPerChunk_ = 0;
  uint32_t outputBufferSize_ = 0;
};

// Name with its extension replaced by ext: the extension starts at the last full stop that no
// "/" follows; a name without one gets ext appended.
std::string ChangeFileExt(const std::string& name, const std::string& ext);
