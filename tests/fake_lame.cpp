// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_lame.h"

#include <cstring>

namespace fakelame {
namespace {
Script g_script;
}
Script& script() { return g_script; }
void reset() { g_script = Script{}; }
std::string outputFor(size_t i, uint32_t numSamples) {
  return "<" + std::to_string(i) + ":" + std::to_string(numSamples) + ">";
}
}  // namespace fakelame

using fakelame::g_script;

extern "C" {

void beVersion(BE_VERSION* v) {
  std::memset(v, 0, sizeof *v);
  v->byDLLMajorVersion = 9;
  v->byDLLMinorVersion = 8;
  v->byMajorVersion = 7;
  v->byMinorVersion = 6;
}

BE_ERR beInitStream(const BE_CONFIG* config, uint32_t* samples, uint32_t* bufferSize, HBE_STREAM* stream) {
  g_script.calls.emplace_back("beInitStream");
  g_script.lastConfig = *config;
  if (g_script.initResult != BE_ERR_SUCCESSFUL) return g_script.initResult;
  *samples = g_script.samples;
  *bufferSize = g_script.bufferSize;
  *stream = 42;
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM, uint32_t numSamples, const int16_t* input, uint8_t* output, uint32_t* outBytes) {
  g_script.calls.emplace_back("beEncodeChunk");
  const std::string out = fakelame::outputFor(g_script.encodeCounts.size(), numSamples);
  g_script.encodeCounts.push_back(numSamples);
  g_script.encodedBlocks.emplace_back(reinterpret_cast<const char*>(input), numSamples * 2);
  std::memcpy(output, out.data(), out.size());
  *outBytes = static_cast<uint32_t>(out.size());
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM, uint8_t* output, uint32_t* outBytes) {
  g_script.calls.emplace_back("beDeinitStream");
  std::memcpy(output, g_script.flush.data(), g_script.flush.size());
  *outBytes = static_cast<uint32_t>(g_script.flush.size());
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beGetInfoTag(HBE_STREAM, uint8_t* output, uint32_t bufferSize, uint32_t* outBytes) {
  g_script.calls.emplace_back("beGetInfoTag");
  if (g_script.infoTag.size() > bufferSize) return BE_ERR_BUFFER_TOO_SMALL;
  std::memcpy(output, g_script.infoTag.data(), g_script.infoTag.size());
  *outBytes = static_cast<uint32_t>(g_script.infoTag.size());
  return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM) {
  g_script.calls.emplace_back("beCloseStream");
  return BE_ERR_SUCCESSFUL;
}

}  // extern "C"
