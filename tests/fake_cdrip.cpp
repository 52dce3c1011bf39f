// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_cdrip.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace fake {
namespace {
Script g_script;

void log(const char* name) { g_script.calls.emplace_back(name); }

Drive* activeDrive() {
  auto& s = g_script;
  if (s.active < 0 || s.active >= static_cast<int32_t>(s.drives.size())) return nullptr;
  return &s.drives[static_cast<size_t>(s.active)];
}
}  // namespace

Script& script() { return g_script; }
void reset() { g_script = Script{}; }
int count(const std::string& name) {
  return static_cast<int>(std::count(g_script.calls.begin(), g_script.calls.end(), name));
}

Drive driveWithTracks(const std::vector<uint32_t>& starts, uint32_t leadOut, const char* name) {
  Drive d;
  std::strncpy(d.params.lpszCDROMID, name, sizeof d.params.lpszCDROMID - 1);
  uint8_t n = 1;
  for (uint32_t s : starts) d.toc.push_back(TOCENTRY{s, CR_FLAG_AUDIO, n++, {}});
  d.toc.push_back(TOCENTRY{leadOut, CR_FLAG_DATA, 0xAA, {}});
  return d;
}

}  // namespace fake

using fake::g_script;

extern "C" {

CDEX_ERR CR_AddDrive(const char*) { return CDEX_OK; }
int32_t CR_FindDrive(const char* path) {
  for (size_t i = 0; i < g_script.drives.size(); ++i)
    if (path && !g_script.drives[i].path.empty() && g_script.drives[i].path == path) return static_cast<int32_t>(i);
  return -1;
}
CDEX_ERR CR_OpenImage(const char* path, char* reason, int32_t size) {
  fake::log("CR_OpenImage");
  g_script.openedImages.emplace_back(path ? path : "");
  if (reason && size > 0) {
    std::strncpy(reason, g_script.openImageReason.c_str(), static_cast<size_t>(size) - 1);
    reason[size - 1] = '\0';
  }
  if (!g_script.openImageReason.empty()) return CDEX_ERROR;
  if (CR_FindDrive(path) >= 0) return CDEX_OK;
  g_script.drives.push_back(g_script.image);
  g_script.drives.back().path = path ? path : "";
  return CDEX_OK;
}
void CR_DeInit(void) {}
int32_t CR_GetCDRipVersion(void) {
  fake::log("CR_GetCDRipVersion");
  return g_script.version;
}
CDEX_ERR CR_Init(void) {
  fake::log("CR_Init");
  return g_script.initStatus;
}
int32_t CR_GetNumCDROM(void) { return static_cast<int32_t>(g_script.drives.size()); }
int32_t CR_GetActiveCDROM(void) {
  fake::log("CR_GetActiveCDROM");
  return g_script.active;
}
CDEX_ERR CR_SetActiveCDROM(int32_t index) {
  fake::log("CR_SetActiveCDROM");
  if (index < 0 || index >= static_cast<int32_t>(g_script.drives.size())) return CDEX_ERROR;
  if (g_script.drives[static_cast<size_t>(index)].selectStatus == CDEX_ERROR) return CDEX_ERROR;
  g_script.active = index;
  return CDEX_OK;
}
CDEX_ERR CR_GetCDROMParameters(CDROMPARAMS* params) {
  fake::log("CR_GetCDROMParameters");
  fake::Drive* d = fake::activeDrive();
  if (!d || d->getParamsStatus == CDEX_ERROR) return CDEX_ERROR;
  *params = d->params;
  return CDEX_OK;
}
CDEX_ERR CR_SetCDROMParameters(const CDROMPARAMS* params) {
  fake::log("CR_SetCDROMParameters");
  if (g_script.setParamsThrows) throw std::runtime_error("library fault");
  g_script.lastSetParams = *params;
  return g_script.setParamsStatus;
}
CDEX_ERR CR_ReadToc(void) {
  fake::log("CR_ReadToc");
  fake::Drive* d = fake::activeDrive();
  return !d || d->tocStatus == CDEX_ERROR ? CDEX_ERROR : CDEX_OK;
}
int32_t CR_GetNumTocEntries(void) {
  fake::Drive* d = fake::activeDrive();
  return d && !d->toc.empty() ? static_cast<int32_t>(d->toc.size()) - 1 : 0;
}
TOCENTRY CR_GetTocEntry(int32_t index) {
  fake::Drive* d = fake::activeDrive();
  if (!d || index < 0 || index >= static_cast<int32_t>(d->toc.size())) return TOCENTRY{};
  return d->toc[static_cast<size_t>(index)];
}
CDEX_ERR CR_OpenRipper(int32_t* bufferSize, int32_t, int32_t) {
  fake::log("CR_OpenRipper");
  *bufferSize = g_script.bufferSize;
  return g_script.openStatus;
}
CDEX_ERR CR_RipChunk(uint8_t* buffer, int32_t* numBytes, int32_t abort) {
  fake::log("CR_RipChunk");
  if (abort != -1) throw std::logic_error("CR_RipChunk must be called with abort -1");
  const size_t index = g_script.nextChunk++;
  if (g_script.onChunk) g_script.onChunk(index);
  if (index >= g_script.chunks.size()) {
    *numBytes = 0;
    g_script.percent = 100;
    return CDEX_RIPPING_DONE;
  }
  const fake::Chunk& c = g_script.chunks[index];
  if (c.data.size() > static_cast<size_t>(g_script.bufferSize))
    throw std::logic_error("scripted chunk larger than the buffer");
  std::copy(c.data.begin(), c.data.end(), buffer);
  *numBytes = static_cast<int32_t>(c.data.size());
  g_script.percent = c.percent;
  return c.status;
}
int32_t CR_GetPercentCompleted(void) { return g_script.percent; }
void CR_GetLastJitterErrorPosition(int32_t* first, int32_t* second) {
  fake::log("CR_GetLastJitterErrorPosition");
  const size_t i = g_script.nextChunk - 1;
  *first = i < g_script.chunks.size() ? g_script.chunks[i].jitterFirst : 0;
  *second = i < g_script.chunks.size() ? g_script.chunks[i].jitterSecond : 0;
}
int32_t CR_GetNumberOfJitterErrors(void) {
  fake::log("CR_GetNumberOfJitterErrors");
  return g_script.jitterErrors;
}
CDEX_ERR CR_CloseRipper(void) {
  fake::log("CR_CloseRipper");
  return CDEX_OK;
}
int32_t CR_GetDamagedSectors(int32_t* first, int32_t* last) {
  fake::log("CR_GetDamagedSectors");
  if (first) *first = g_script.damagedFirst;
  if (last) *last = g_script.damagedLast;
  return g_script.jitterErrors;
}
int32_t CR_GetRipperProblem(char* text, int32_t size) {
  if (text && size > 0) {
    std::strncpy(text, g_script.ripperProblem.c_str(), static_cast<size_t>(size) - 1);
    text[size - 1] = '\0';
  }
  return static_cast<int32_t>(g_script.ripperProblem.size());
}
void CR_SetReadRetries(int32_t retries) { g_script.retries = retries; }
void CR_SetAbortCallback(CR_ABORTCALLBACK callback, void* user) {
  g_script.abortCallback = callback;
  g_script.abortUser = user;
}
CDEX_ERR CR_PlayTrack(int32_t trackNum) {
  g_script.playArgs.push_back(trackNum);
  return CDEX_OK;
}
CDEX_ERR CR_StopPlayTrack(void) {
  fake::log("CR_StopPlayTrack");
  return CDEX_OK;
}
CDEX_ERR CR_PauseCD(int32_t pause) {
  g_script.pauseArgs.push_back(pause);
  return CDEX_OK;
}
CDEX_ERR CR_EjectCD(int32_t eject) {
  g_script.ejectArgs.push_back(eject);
  return CDEX_OK;
}
CDEX_ERR CR_GetPlayPosition(int32_t* first, int32_t* second) {
  *first = 1;
  const size_t i = g_script.nextPosition++;
  *second = i < g_script.playPositions.size() ? g_script.playPositions[i] : 0;
  return CDEX_OK;
}

}  // extern "C"

bool CR_ReadCdText(int, TCdTextInfo* out) {
  fake::log("CR_ReadCdText");
  if (out) *out = g_script.cdText;
  return g_script.cdText.present;
}
