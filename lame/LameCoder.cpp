// SPDX-License-Identifier: GPL-3.0-or-later
#include "LameCoder.h"

#include <cstring>

TLameVersion::TLameVersion() { beVersion(&record_); }

void TLameVersion::TakeValuesFrom(const TLameVersion& source) {
  std::memcpy(&record_, &source.record_, 4);
}

TLameCoder::TLameCoder() = default;

void TLameCoder::SetMode(int32_t ordinal) {
  if (ordinal >= STEREO && ordinal <= MONO) mode_ = ordinal;
}

void TLameCoder::SetEnableVBR(bool v) {
  enableVBR_ = v ? -1 : 0;
  writeVBRHeader_ = enableVBR_;
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return name + ext;
  return name.substr(0, dot) + ext;
}

void TLameCoder::SetInputFiles(const std::vector<std::string>& names) {
  inputFiles_ = names;
  outputFiles_.clear();
  for (const auto& n : names) outputFiles_.push_back(ChangeFileExt(n, DefaultExt));
}

void TLameCoder::TakeValuesFrom(const TLameCoder& s) {
  sampleRate_ = s.sampleRate_;
  mode_ = s.mode_;
  bitrate_ = s.bitrate_;
  maxBitrate_ = s.maxBitrate_;
  quality_ = s.quality_;
  private_ = s.private_;
  crc_ = s.crc_;
  copyright_ = s.copyright_;
  original_ = s.original_;
  writeVBRHeader_ = s.writeVBRHeader_;
  enableVBR_ = s.enableVBR_;
  vbrQuality_ = s.vbrQuality_;
}

void TLameCoder::SetInputFormat(int channels, uint32_t sampleRate) {
  inputChannels_ = channels == 1 ? 1 : 2;
  inputRate_ = sampleRate;
}

uint32_t TLameCoder::InitStream() {
  config_ = BE_CONFIG{};
  config_.dwConfig = BE_CONFIG_LAME;
  config_.dwStructVersion = 1;
  config_.dwStructSize = sizeof(BE_CONFIG);
  // The encoder is told the PCM it is really given; the settings' rate and mode are the MP3
  // file's, so a differing rate means resampling and MONO a downmix.
  config_.dwSampleRate = inputRate_;
  config_.dwReSampleRate = sampleRate_ == inputRate_ ? 0 : sampleRate_;
  config_.nMode = mode_;
  config_.dwBitrate = bitrate_;
  config_.dwMaxBitrate = maxBitrate_;
  config_.nQuality = quality_;
  config_.dwMpegVersion = 1;
  config_.bPrivate = private_;
  config_.bCRC = crc_;
  config_.bCopyright = copyright_;
  config_.bOriginal = original_;
  config_.bWriteVBRHeader = writeVBRHeader_;
  config_.bEnableVBR = enableVBR_;
  config_.nVBRQuality = vbrQuality_;
  config_.dwInChannels = inputChannels_ == 1 ? 1 : 0;
  return beInitStream(&config_, &samplesPerChunk_, &outputBufferSize_, &stream_);
}

uint32_t TLameCoder::EncodeChunk(const int16_t* input, uint8_t* output, uint32_t& outBytes) {
  return beEncodeChunk(stream_, samplesPerChunk_, input, output, &outBytes);
}

uint32_t TLameCoder::EncodeLastChunk(const int16_t* input, uint32_t numSamples, uint8_t* output,
                                     uint32_t& outBytes) {
  return beEncodeChunk(stream_, numSamples, input, output, &outBytes);
}

uint32_t TLameCoder::DeinitStream(uint8_t* output, uint32_t& outBytes) {
  return beDeinitStream(stream_, output, &outBytes);
}

uint32_t TLameCoder::FinalHeaderFrame(uint8_t* output, uint32_t size, uint32_t& outBytes) {
  return beGetInfoTag(stream_, output, size, &outBytes);
}

uint32_t TLameCoder::CloseStream() { return beCloseStream(stream_); }
