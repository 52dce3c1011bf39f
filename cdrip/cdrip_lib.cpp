// The CD library over libcdio and libcdio-paranoia: the CR_* calls of CdRip_dll.h.
// Drives are the devices libcdio finds, then every path offered with CR_AddDrive (disc images
// or devices). One extraction is open at a time; formats other than 44100 Hz stereo are made
// here (downmix, then libsoxr for the rate).
#include "CdRip_dll.h"

#include <cdio/cdio.h>
#include <cdio/audio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <soxr.h>
#include <stdlib.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cdrip_internal.h"

using namespace cdrip_internal;

namespace {

constexpr int32_t kVersion = 115;
constexpr int kSectorBytes = CDIO_CD_FRAMESIZE_RAW;  // 2352
constexpr int kChunkSectors = 27;                     // about a third of a second per chunk

// One open extraction.
struct Ripper {
  Ripper() = default;
  Ripper(const Ripper&) = delete;
  Ripper& operator=(const Ripper&) = delete;
  ~Ripper() {
    if (soxr) soxr_delete(soxr);
    if (paranoia) cdio_paranoia_free(paranoia);
    // The cdio handle belongs to the drive, so only the cdda layer goes here.
    if (cdda) cdio_cddap_close_no_free_cdio(cdda);
  }
  cdrom_drive_t* cdda = nullptr;
  cdrom_paranoia_t* paranoia = nullptr;
  CdIo_t* image = nullptr;      // an image's handle, read directly; the drive owns it
  std::vector<int16_t> raw;     // one chunk of an image's sectors
  soxr_t soxr = nullptr;
  int32_t first = 0, last = 0;  // inclusive range
  int32_t next = 0;             // next sector to read
  TFormatShape shape{2, 44100};
  int64_t framesExpected = 0;   // output sample frames the whole range yields
  int64_t framesDelivered = 0;  // output sample frames placed in the pending buffer so far
  bool sourceDone = false;
  std::vector<int16_t> mixed;    // one chunk of input, downmixed when mono
  std::vector<int16_t> pending;  // converted samples not yet delivered
  size_t pendingPos = 0;         // in samples
  int32_t bufferSize = 0;
};

std::vector<std::string> g_added;
std::vector<Drive> g_drives;
int32_t g_active = 0;
bool g_initialised = false;
std::unique_ptr<Ripper> g_ripper;

// Paranoia reports through a plain function pointer, so its findings land here.
int32_t g_jitterCount = 0;
int32_t g_lastJitterFirst = 0, g_lastJitterSecond = 0;
bool g_jitterInChunk = false;


bool isImagePath(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

void setText(CDROMPARAMS& p, const std::string& text) {
  std::memset(p.lpszCDROMID, 0, sizeof p.lpszCDROMID);
  std::strncpy(p.lpszCDROMID, text.c_str(), sizeof p.lpszCDROMID - 1);
}

std::string identify(Drive& d) {
  if (d.image) return "Disc image " + std::filesystem::path(d.path).filename().string();
  std::string text = d.path;
  if (CdIo_t* p = cdio_open(d.path.c_str(), DRIVER_DEVICE)) {
    cdio_hwinfo_t hw{};
    if (cdio_get_hwinfo(p, &hw)) {
      text = std::string(hw.psz_vendor) + " " + hw.psz_model + " " + hw.psz_revision;
      // The fields come blank-padded from the drive's inquiry data.
      std::string squeezed;
      for (char c : text)
        if (!(c == ' ' && (squeezed.empty() || squeezed.back() == ' '))) squeezed += c;
      while (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
      text = squeezed;
    }
    cdio_destroy(p);
  }
  return text;
}

void addDrive(const std::string& path, bool image) {
  Drive d;
  d.path = path;
  d.image = image;
  d.params.nSpeed = 0;
  d.params.bJitterCorrection = CR_TRUE;
  d.params.bAtapi = image ? CR_FALSE : CR_TRUE;
  d.params.nOutputFormat = STEREO44100;
  setText(d.params, identify(d));
  g_drives.push_back(std::move(d));
}

void paranoiaCallback(long inpos, paranoia_cb_mode_t function) {
  if (function != PARANOIA_CB_SKIP && function != PARANOIA_CB_READERR) return;
  ++g_jitterCount;
  g_jitterInChunk = true;
  const int32_t sector = static_cast<int32_t>(inpos / CD_FRAMEWORDS);
  g_lastJitterFirst = sector;
  g_lastJitterSecond = g_ripper ? sector - g_ripper->first : 0;
}

// Paranoia keeps its messages in a buffer; an error text there is a read that went wrong.
void drainMessages(cdrom_drive_t* d, int32_t sector, int32_t rangeStart) {
  if (char* m = cdio_cddap_messages(d)) cdio_cddap_free_messages(m);
  if (char* e = cdio_cddap_errors(d)) {
    cdio_cddap_free_messages(e);
    ++g_jitterCount;
    g_jitterInChunk = true;
    g_lastJitterFirst = sector;
    g_lastJitterSecond = sector - rangeStart;
  }
}

void freeRipper() { g_ripper.reset(); }

// The cdda layer and paranoia over a physical drive, positioned at the range's start.
bool openParanoia(Ripper& r, Drive& d) {
  r.cdda = cdio_cddap_identify_cdio(d.cdio.get(), CDDA_MESSAGE_LOGIT, nullptr);
  if (!r.cdda || cdio_cddap_open(r.cdda) != 0) return false;
  if (char* m = cdio_cddap_messages(r.cdda)) cdio_cddap_free_messages(m);
  if (char* e = cdio_cddap_errors(r.cdda)) cdio_cddap_free_messages(e);
  r.paranoia = cdio_paranoia_init(r.cdda);
  if (!r.paranoia) return false;
  // Full mode as cd-paranoia runs it: every check, but a hopeless sector is skipped and
  // reported rather than retried for ever.
  cdio_paranoia_modeset(r.paranoia, d.params.bJitterCorrection ? PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP
                                                                : PARANOIA_MODE_DISABLE);
  cdio_paranoia_seek(r.paranoia, r.first, SEEK_SET);
  return true;
}

// A sector that could not be read: counted as damaged, with its place.
void damagedSector(const Ripper& r, int32_t sector) {
  ++g_jitterCount;
  g_jitterInChunk = true;
  g_lastJitterFirst = sector;
  g_lastJitterSecond = sector - r.first;
}

// Why the selected drive's last CR_ReadToc found no readable disc; empty when nothing more is
// known.
std::string g_tocProblem;

// libcdio's own handler ends the process on an error message (exit) and on an assertion
// (abort): a bad sector or a bad image would take the program down in the middle of a file.
// Errors are counted and the caller's status says what failed.
void logHandler(cdio_log_level_t level, const char* message) {
  if (level < CDIO_LOG_ERROR) return;
  g_openProblem = message ? message : "";
  // In the child that reads an image's table of contents, an assertion means a reader gone
  // astray: end there, so the image is refused.
  if (level == CDIO_LOG_ASSERT && g_inProbeChild) _exit(3);
}

}  // namespace

namespace cdrip_internal {

Drive* active() {
  if (g_active < 0 || g_active >= static_cast<int32_t>(g_drives.size())) return nullptr;
  return &g_drives[static_cast<size_t>(g_active)];
}

void closeCdio(Drive& d) { d.cdio.reset(); }

bool ripperOpen() { return g_ripper != nullptr; }

CdIo_t* openDriveHandle(Drive& d) {
  if (d.trayOpen) return nullptr;
  g_openProblem.clear();
  return d.image ? openImage(d) : cdio_open(d.path.c_str(), DRIVER_DEVICE);
}

bool openCdio(Drive& d) {
  if (d.trayOpen) return false;
  if (!d.cdio) d.cdio.reset(openDriveHandle(d));
  return d.cdio != nullptr;
}

}  // namespace cdrip_internal

namespace {

// Appends converted output for `frames` stereo input frames held in `in`.
void convert(Ripper& r, const int16_t* in, size_t frames) {
  const int ch = r.shape.Channels;
  const int16_t* src = in;
  if (ch == 1) {
    r.mixed.resize(frames);
    for (size_t i = 0; i < frames; ++i)
      r.mixed[i] = static_cast<int16_t>((in[2 * i] + in[2 * i + 1]) / 2);
    src = r.mixed.data();
  }
  if (!r.soxr) {
    r.pending.insert(r.pending.end(), src, src + frames * static_cast<size_t>(ch));
    r.framesDelivered += static_cast<int64_t>(frames);
    return;
  }
  // Resample in slices into the pending buffer's free tail.
  size_t done = 0;
  bool flushing = frames == 0;
  for (;;) {
    const size_t room = 4096;
    const size_t old = r.pending.size();
    r.pending.resize(old + room * static_cast<size_t>(ch));
    size_t idone = 0, odone = 0;
    soxr_process(r.soxr, flushing ? nullptr : src + done * static_cast<size_t>(ch),
                 flushing ? 0 : frames - done, &idone, r.pending.data() + old, room, &odone);
    // Never deliver more than the range yields, whatever the resampler's tail holds.
    const int64_t allowed = std::max<int64_t>(0, r.framesExpected - r.framesDelivered);
    odone = std::min<size_t>(odone, static_cast<size_t>(allowed));
    r.pending.resize(old + odone * static_cast<size_t>(ch));
    r.framesDelivered += static_cast<int64_t>(odone);
    done += idone;
    if (!flushing && done >= frames && odone == 0) break;
    if (flushing && odone == 0) break;
  }
}

void finishSource(Ripper& r) {
  r.sourceDone = true;
  if (r.soxr) convert(r, nullptr, 0);
  // A resampler that came up short is padded so that the duration is exact.
  if (r.framesDelivered < r.framesExpected) {
    r.pending.resize(r.pending.size() +
                     static_cast<size_t>(r.framesExpected - r.framesDelivered) *
                         static_cast<size_t>(r.shape.Channels));
    r.framesDelivered = r.framesExpected;
  }
}

}  // namespace

extern "C" {

CDEX_ERR CR_AddDrive(const char* path) {
  if (g_initialised || !path || !*path) return CDEX_ERROR;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return CDEX_ERROR;
  g_added.emplace_back(path);
  return CDEX_OK;
}

void CR_DeInit(void) {
  stopPlayback();
  freeRipper();
  for (auto& d : g_drives) closeCdio(d);
  g_drives.clear();
  g_added.clear();
  forgetImages();
  g_tocProblem.clear();
  g_active = 0;
  g_initialised = false;
}

int32_t CR_GetCDRipVersion(void) { return kVersion; }

CDEX_ERR CR_Init(void) {
  if (g_initialised) return CDEX_OK;
  cdio_loglevel_default = CDIO_LOG_ERROR;
  cdio_log_set_handler(logHandler);
  if (char** devs = cdio_get_devices(DRIVER_DEVICE)) {
    for (char** p = devs; *p; ++p) addDrive(*p, false);
    cdio_free_device_list(devs);
  }
  for (const auto& path : g_added) {
    const bool known = std::any_of(g_drives.begin(), g_drives.end(),
                                   [&](const Drive& d) { return d.path == path; });
    if (!known) addDrive(path, isImagePath(path));
  }
  g_active = 0;
  g_initialised = true;
  return g_drives.empty() ? CDEX_ERROR : CDEX_OK;
}

int32_t CR_GetNumCDROM(void) { return static_cast<int32_t>(g_drives.size()); }
int32_t CR_GetActiveCDROM(void) { return g_active; }

CDEX_ERR CR_SetActiveCDROM(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(g_drives.size()) || g_ripper) return CDEX_ERROR;
  if (index != g_active) stopPlayback();
  g_active = index;
  return CDEX_OK;
}

CDEX_ERR CR_GetCDROMParameters(CDROMPARAMS* params) {
  Drive* d = active();
  if (!d || !params) return CDEX_ERROR;
  *params = d->params;
  return CDEX_OK;
}

CDEX_ERR CR_SetCDROMParameters(const CDROMPARAMS* params) {
  Drive* d = active();
  if (!d || !params || params->nOutputFormat > MONO11025) return CDEX_ERROR;
  d->params = *params;
  if (!d->image && params->nSpeed > 0 && openCdio(*d)) cdio_set_speed(d->cdio.get(), params->nSpeed);
  return CDEX_OK;
}

CDEX_ERR CR_ReadToc(void) {
  Drive* d = active();
  if (!d) return CDEX_ERROR;
  d->toc.clear();
  g_tocProblem.clear();
  if (g_ripper) return CDEX_ERROR;
  // A device may have had its disc changed since the last look: open it afresh.
  if (!d->image) closeCdio(*d);
  if (!openCdio(*d)) {
    if (d->image && !d->trayOpen) g_tocProblem = g_openProblem;
    return CDEX_ERROR;
  }
  std::vector<TOCENTRY> toc = readTocEntries(d->cdio.get());
  if (toc.empty()) {
    closeCdio(*d);
    return CDEX_ERROR;
  }
  // A table of nonsense is no disc, and says why.
  if (std::string why = implausibleToc(toc); !why.empty()) {
    g_tocProblem = std::move(why);
    closeCdio(*d);
    return CDEX_ERROR;
  }
  d->toc = std::move(toc);
  return CDEX_OK;
}

int32_t CR_GetTocProblem(char* text, int32_t size) {
  if (text && size > 0) {
    std::strncpy(text, g_tocProblem.c_str(), static_cast<size_t>(size) - 1);
    text[size - 1] = '\0';
  }
  return static_cast<int32_t>(g_tocProblem.size());
}

int32_t CR_GetImageDataFile(char* path, int32_t size) {
  const Drive* d = active();
  std::string file;
  if (d && d->image) {
    const auto it = g_dataFiles.find(d->path);
    if (it != g_dataFiles.end()) file = it->second;
  }
  if (path && size > 0) {
    std::strncpy(path, file.c_str(), static_cast<size_t>(size) - 1);
    path[size - 1] = '\0';
  }
  return static_cast<int32_t>(file.size());
}

int32_t CR_GetNumTocEntries(void) {
  Drive* d = active();
  return d && !d->toc.empty() ? static_cast<int32_t>(d->toc.size()) - 1 : 0;
}

TOCENTRY CR_GetTocEntry(int32_t index) {
  Drive* d = active();
  if (!d || index < 0 || index >= static_cast<int32_t>(d->toc.size())) return TOCENTRY{};
  return d->toc[static_cast<size_t>(index)];
}

CDEX_ERR CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector) {
  Drive* d = active();
  if (!d || !bufferSize || g_ripper || d->toc.empty()) return CDEX_ERROR;
  const int32_t leadOut = static_cast<int32_t>(d->toc.back().dwStartSector);
  if (startSector < 0 || endSector < startSector || endSector >= leadOut) return CDEX_ERROR;
  // A data track read as audio is noise, and paranoia keeps retrying its sectors: refused.
  for (size_t i = 0; i + 1 < d->toc.size(); ++i) {
    const auto first = static_cast<int32_t>(d->toc[i].dwStartSector);
    const auto last = static_cast<int32_t>(d->toc[i + 1].dwStartSector) - 1;
    if (d->toc[i].btFlag != CR_FLAG_AUDIO && first <= endSector && startSector <= last) return CDEX_ERROR;
  }
  if (!openCdio(*d)) return CDEX_ERROR;
  stopPlayback();  // the drive cannot play and be read at once

  g_ripper = std::make_unique<Ripper>();
  Ripper* r = g_ripper.get();
  r->first = startSector;
  r->last = endSector;
  r->next = startSector;
  if (d->image) {
    // An image cannot jitter: its sectors are read directly, whatever the jitter flag says,
    // and paranoia's verification (most of a rip's time) is left to physical drives.
    r->image = d->cdio.get();
    r->raw.resize(static_cast<size_t>(kChunkSectors) * kSectorBytes / 2);
  } else if (!openParanoia(*r, *d)) {
    freeRipper();
    return CDEX_ERROR;
  }
  r->shape = FormatShape(d->params.nOutputFormat);
  const int64_t inFrames = static_cast<int64_t>(endSector - startSector + 1) * 588;
  r->framesExpected = inFrames * static_cast<int64_t>(r->shape.SampleRate) / 44100;
  if (r->shape.SampleRate != 44100) {
    soxr_error_t err = nullptr;
    // No dither: soxr seeds its dither anew in every run, so the same track ripped twice
    // would give different bytes, and a rip could not be checked against another.
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    r->soxr = soxr_create(44100, r->shape.SampleRate, static_cast<unsigned>(r->shape.Channels), &err,
                          &io, &q, nullptr);
    if (!r->soxr || err) {
      freeRipper();
      return CDEX_ERROR;
    }
  }
  r->bufferSize = kChunkSectors * kSectorBytes;
  r->pending.reserve(static_cast<size_t>(r->bufferSize) * 2);
  r->mixed.reserve(static_cast<size_t>(kChunkSectors) * 588);
  g_jitterCount = 0;
  g_lastJitterFirst = g_lastJitterSecond = 0;
  *bufferSize = r->bufferSize;
  return CDEX_OK;
}

CDEX_ERR CR_RipChunk(uint8_t* buffer, int32_t* numBytes, int32_t /*abort*/) {
  if (numBytes) *numBytes = 0;
  Ripper* r = g_ripper.get();
  if (!r || !buffer || !numBytes) return CDEX_ERROR;
  g_jitterInChunk = false;

  // Read one chunk of sectors unless enough converted output is already waiting.
  const size_t sampleBytes = sizeof(int16_t);
  const size_t waiting = (r->pending.size() - r->pendingPos) * sampleBytes;
  if (!r->sourceDone && waiting < static_cast<size_t>(r->bufferSize)) {
    // Compact first so the buffer does not grow over the range.
    r->pending.erase(r->pending.begin(), r->pending.begin() + static_cast<long>(r->pendingPos));
    r->pendingPos = 0;
    const int32_t n = std::min(kChunkSectors, r->last - r->next + 1);
    if (r->image) {
      // Sector by sector: libcdio's image readers report a read that comes up short as a
      // success, so only a sector read alone says whether the image has it. A sector the
      // image lacks is left silent.
      int16_t* raw = r->raw.data();
      for (int32_t s = 0; s < n; ++s) {
        int16_t* at = raw + static_cast<size_t>(s) * (kSectorBytes / 2);
        std::memset(at, 0, kSectorBytes);
        if (readAudioSectors(r->image, at, r->next + s, 1) != DRIVER_OP_SUCCESS) damagedSector(*r, r->next + s);
      }
      convert(*r, raw, static_cast<size_t>(n) * 588);
      r->next += n;
    } else {
      for (int32_t s = 0; s < n; ++s) {
        const int16_t* data = cdio_paranoia_read(r->paranoia, paranoiaCallback);
        drainMessages(r->cdda, r->next, r->first);
        static const int16_t silence[kSectorBytes / 2] = {};
        if (!data) {
          // Nothing came back for this sector: it is counted as damaged and left silent.
          damagedSector(*r, r->next);
          data = silence;
        }
        convert(*r, data, 588);
        ++r->next;
      }
    }
    if (r->next > r->last) finishSource(*r);
  }

  const size_t avail = (r->pending.size() - r->pendingPos) * sampleBytes;
  const size_t give = std::min(avail, static_cast<size_t>(r->bufferSize));
  std::memcpy(buffer, r->pending.data() + r->pendingPos, give);
  r->pendingPos += give / sampleBytes;
  *numBytes = static_cast<int32_t>(give);

  // A damaged last chunk reports its damage first; the next call then ends the range.
  if (g_jitterInChunk) return CDEX_JITTER_ERROR;
  if (r->sourceDone && r->pendingPos == r->pending.size()) return CDEX_RIPPING_DONE;
  return CDEX_OK;
}

int32_t CR_GetPercentCompleted(void) {
  const Ripper* r = g_ripper.get();
  if (!r) return 0;
  const int64_t total = r->last - r->first + 1;
  const int64_t done = r->next - r->first;
  return static_cast<int32_t>(std::clamp<int64_t>(done * 100 / total, 0, 100));
}

void CR_GetLastJitterErrorPosition(int32_t* first, int32_t* second) {
  if (first) *first = g_lastJitterFirst;
  if (second) *second = g_lastJitterSecond;
}

int32_t CR_GetNumberOfJitterErrors(void) { return g_jitterCount; }

CDEX_ERR CR_CloseRipper(void) {
  if (!g_ripper) return CDEX_ERROR;
  freeRipper();
  return CDEX_OK;
}

}  // extern "C"
