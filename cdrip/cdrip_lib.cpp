// SPDX-License-Identifier: GPL-3.0-or-later
// The CD library's extraction over libcdio-paranoia: CR_OpenRipper ... CR_CloseRipper of
// CdRip_dll.h, on the drive cdrip_lib_drives.cpp selected. One extraction is open at a time; an
// image's sectors are read directly, a drive's through paranoia with a verified start, retries
// bounded and damaged sectors counted. Formats other than 44100 Hz stereo are made here
// (downmix, then libsoxr for the rate).
#include "CdRip_dll.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cdrip_internal.h"

using namespace cdrip_internal;

namespace {

constexpr int kSectorBytes = CDIO_CD_FRAMESIZE_RAW;  // 2352
constexpr int kChunkSectors = 27;                     // about a third of a second per chunk

void clearSuspectTarget();

// One reading of a range's first sectors by a paranoia of its own (see startVerified).
struct Attempt {
  Attempt() = default;
  Attempt(const Attempt&) = delete;
  Attempt& operator=(const Attempt&) = delete;
  ~Attempt() {
    if (paranoia) cdio_paranoia_free(paranoia);
  }
  cdrom_paranoia_t* paranoia = nullptr;
  std::vector<int16_t> pcm;   // the sectors paranoia returned, stereo
  std::vector<bool> lost;     // per sector: nothing came back
  std::set<int32_t> suspect;  // sectors paranoia skipped or could not read, in the range
};

// One open extraction.
struct Ripper {
  Ripper() = default;
  Ripper(const Ripper&) = delete;
  Ripper& operator=(const Ripper&) = delete;
  ~Ripper() {
    if (soxr) soxr_delete(soxr);
    if (paranoia) cdio_paranoia_free(paranoia);
    clearSuspectTarget();
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
  // Sectors of the range paranoia reported trouble in and has not returned yet.
  std::set<int32_t> suspect;
  // Sectors of the range that came back unread or unverified: how many, the first, the last.
  int32_t damaged = 0, damagedFirst = -1, damagedLast = -1;
  // The range's first sectors, read and cross-checked when the ripper was opened.
  std::vector<int16_t> lead;
  std::vector<bool> leadLost;
  bool inDoubt = false;         // since a skip, until paranoia agrees with the drive again
  std::vector<int16_t> direct;  // sectors read past paranoia while in doubt
  bool aborted = false;  // the abort callback ended a read: the range is over
};

std::unique_ptr<Ripper> g_ripper;

// Paranoia reports through a plain function pointer, so its findings land here.
std::set<int32_t>* g_suspect = nullptr;  // the reading's set of troubled sectors
void clearSuspectTarget() { g_suspect = nullptr; }
int32_t g_jitterCount = 0;
int32_t g_lastJitterFirst = 0, g_lastJitterSecond = 0;
bool g_jitterInChunk = false;

// Retries per sector before paranoia gives a sector up (CR_SetReadRetries).
int32_t g_retries = 20;
// Asked while a chunk is read (CR_SetAbortCallback); non-zero ends the read.
CR_ABORTCALLBACK g_abortCallback = nullptr;
void* g_abortUser = nullptr;
bool g_abort = false;
std::chrono::steady_clock::time_point g_lastAsked;
// The cdda layer's own reader, which the abortable one below wraps.
long (*g_cddaRead)(cdrom_drive_t*, void*, lsn_t, long) = nullptr;

// Paranoia calls back on every read, retry and repair: the place to hear a cancel while a
// sector is retried for many seconds.
void askAbort() {
  if (g_abort || !g_abortCallback) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - g_lastAsked < std::chrono::milliseconds(40)) return;
  g_lastAsked = now;
  if (g_abortCallback(g_abortUser) != 0) g_abort = true;
}

// Reads of the drive that failed since paranoia last returned a sector.
int32_t g_failedReads = 0;
// Sectors of this extraction the drive could not read once the retries were spent: not read
// again, only the range's own checks (readDirect) ask the drive for them once more.
std::set<int32_t> g_givenUp;
// Set while readDirect reads: the drive is asked as it is.
bool g_passThrough = false;

void noteSuspect(int32_t sector);

// Paranoia retries a failing read for as long as it makes progress elsewhere, and a read
// covering a bad sector near a range's start keeps it busy for ever. Once the retries are
// spent the span is read sector by sector instead; a sector that still fails is given up, left
// silent, and judged as damaged when paranoia returns it.
long readAround(cdrom_drive_t* d, void* p, lsn_t begin, long sectors) {
  auto* out = static_cast<uint8_t*>(p);
  for (long i = 0; i < sectors; ++i) {
    const auto sector = static_cast<int32_t>(begin + i);
    uint8_t* at = out + i * kSectorBytes;
    if (!g_givenUp.count(sector)) {
      askAbort();
      if (g_abort) {
        errno = ENOMEDIUM;
        return -1;
      }
      if (g_cddaRead(d, at, sector, 1) == 1) continue;
      g_givenUp.insert(sector);
    }
    std::memset(at, 0, kSectorBytes);
    noteSuspect(sector);
  }
  return sectors;
}

// Once aborted, every read fails with "no medium", the one error paranoia gives up on at
// once, so the read in progress returns without further retries.
long abortableRead(cdrom_drive_t* d, void* p, lsn_t begin, long sectors) {
  askAbort();
  if (g_abort) {
    errno = ENOMEDIUM;
    return -1;
  }
  if (!g_passThrough) {
    const auto known = g_givenUp.lower_bound(static_cast<int32_t>(begin));
    if (g_failedReads > g_retries || (known != g_givenUp.end() && *known < begin + sectors))
      return readAround(d, p, begin, sectors);
  }
  errno = 0;
  const long got = g_cddaRead(d, p, begin, sectors);
  if (got < 0 && !g_passThrough) ++g_failedReads;
  return got;
}

// One sector from paranoia, its reads bounded by the retries.
const int16_t* readLimited(cdrom_paranoia_t* p, void (*callback)(long, paranoia_cb_mode_t)) {
  g_failedReads = 0;
  const int16_t* data = cdio_paranoia_read_limited(p, callback, g_retries);
  g_failedReads = 0;
  return data;
}

// Reads ahead of the range, beyond it and cache flushes come back here too: only sectors
// inside the range are noted, and they are judged when paranoia returns them (deliver).
void paranoiaCallback(long inpos, paranoia_cb_mode_t function) {
  askAbort();
  // A read error paranoia recovers from by reading again is no damage; a skip is: paranoia
  // gave up there and filled in what it had.
  if (function != PARANOIA_CB_SKIP) return;
  const int32_t sector = static_cast<int32_t>(inpos / CD_FRAMEWORDS);
  noteSuspect(sector);
}

void noteSuspect(int32_t sector) {
  if (g_suspect && g_ripper && sector >= g_ripper->first && sector <= g_ripper->last) g_suspect->insert(sector);
}

// Paranoia keeps its messages in a buffer; they are dropped, the callback told what matters.
void drainMessages(cdrom_drive_t* d) {
  if (char* m = cdio_cddap_messages(d)) cdio_cddap_free_messages(m);
  if (char* e = cdio_cddap_errors(d)) cdio_cddap_free_messages(e);
}

// A sector of the range that came back unread, unverified or missing: counted once, with its
// place.
void damagedSector(Ripper& r, int32_t sector) {
  ++r.damaged;
  if (r.damagedFirst < 0) r.damagedFirst = sector;
  r.damagedLast = sector;
  g_jitterCount = r.damaged;
  g_jitterInChunk = true;
  g_lastJitterFirst = sector;
  g_lastJitterSecond = sector - r.first;
}

// Reads one sector past paranoia; false when the drive cannot read it.
bool readDirect(Ripper& r, int32_t sector, int16_t* out) {
  g_passThrough = true;
  const bool ok = cdio_cddap_read(r.cdda, out, sector, 1) == 1;
  g_passThrough = false;
  return ok && !g_abort;
}

// Paranoia's sector `sector` (null: nothing came back) as it goes into the output. After a
// skip paranoia fills in a stretch it could not verify, longer than the sectors that were
// really unreadable, and does not say how long: from the skip on, each sector is read again
// directly until paranoia's data agrees with the drive's. A sector two direct reads agree on
// is taken from them; one the drive cannot read, or that reads differently every time, is
// damaged: counted once, with its place.
const int16_t* deliver(Ripper& r, std::set<int32_t>& suspect, int32_t sector, const int16_t* data) {
  if (!suspect.empty() && *suspect.begin() <= sector) {
    if (!r.inDoubt) r.inDoubt = true;
    suspect.erase(suspect.begin(), suspect.upper_bound(sector));
  }
  static const int16_t silence[kSectorBytes / 2] = {};
  if (!r.inDoubt) {
    if (data) return data;
    damagedSector(r, sector);
    return silence;
  }
  constexpr size_t kWords = kSectorBytes / 2;
  constexpr int kReads = 4;
  r.direct.resize(kWords * kReads);
  int got = 0;
  for (int i = 0; i < kReads; ++i) {
    int16_t* at = r.direct.data() + static_cast<size_t>(got) * kWords;
    if (!readDirect(r, sector, at)) break;
    if (data && std::equal(at, at + kWords, data)) {
      r.inDoubt = false;  // paranoia is back on firm ground
      return data;
    }
    for (int j = 0; j < got; ++j)
      if (std::equal(at, at + kWords, r.direct.data() + static_cast<size_t>(j) * kWords)) return at;
    ++got;
  }
  damagedSector(r, sector);
  return data ? data : silence;
}

int paranoiaMode(const Drive& d) {
  // Full mode as cd-paranoia runs it: every check, but a hopeless sector is skipped and
  // reported rather than retried for ever.
  return d.params.bJitterCorrection ? PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP : PARANOIA_MODE_DISABLE;
}

// A fresh paranoia at the range's start that reads its first n sectors; false when aborted.
bool readStart(Ripper& r, const Drive& d, Attempt& a, int32_t n) {
  a.paranoia = cdio_paranoia_init(r.cdda);
  if (!a.paranoia) return false;
  cdio_paranoia_modeset(a.paranoia, paranoiaMode(d));
  cdio_paranoia_seek(a.paranoia, r.first, SEEK_SET);
  g_suspect = &a.suspect;
  static const int16_t silence[kSectorBytes / 2] = {};
  for (int32_t s = 0; s < n; ++s) {
    const int16_t* data = readLimited(a.paranoia, paranoiaCallback);
    drainMessages(r.cdda);
    if (g_abort) return false;
    a.lost.push_back(data == nullptr);
    if (!data) data = silence;
    a.pcm.insert(a.pcm.end(), data, data + kSectorBytes / 2);
  }
  return true;
}

// Two readings of a range's start agree when every sector both returned without trouble is
// the same in both; a sector either one lost or skipped says nothing about the position.
bool sameStart(const Attempt& a, const Attempt& b, int32_t first) {
  const size_t n = std::min(a.lost.size(), b.lost.size());
  constexpr size_t kWords = kSectorBytes / 2;
  for (size_t i = 0; i < n; ++i) {
    const int32_t sector = first + static_cast<int32_t>(i);
    if (a.lost[i] || b.lost[i] || a.suspect.count(sector) || b.suspect.count(sector)) continue;
    if (!std::equal(a.pcm.begin() + static_cast<long>(i * kWords), a.pcm.begin() + static_cast<long>((i + 1) * kWords),
                    b.pcm.begin() + static_cast<long>(i * kWords)))
      return false;
  }
  return true;
}

// Paranoia places everything it reads relative to the first stretch that two reads agree on,
// and takes that stretch's position from the read itself. When that read was off by a few
// frames, every sample of the range is off by as many, with nothing reported. So the range's
// first sectors are read by fresh paranoias until two agree, and reading goes on with one of
// those two. Without jitter correction paranoia verifies nothing, and one reading is taken.
bool startVerified(Ripper& r, const Drive& d) {
  const int32_t n = std::min<int32_t>(kChunkSectors, r.last - r.first + 1);
  constexpr int kMaxAttempts = 5;
  std::vector<std::unique_ptr<Attempt>> tries;
  const bool verify = d.params.bJitterCorrection != 0;
  size_t chosen = 0;
  bool agreed = !verify;
  while (tries.size() < (verify ? kMaxAttempts : 1)) {
    tries.push_back(std::make_unique<Attempt>());
    if (!readStart(r, d, *tries.back(), n)) {
      g_suspect = nullptr;
      if (!g_abort) return false;
      r.aborted = true;
      return true;
    }
    for (size_t i = 0; i + 1 < tries.size() && !agreed; ++i)
      if (sameStart(*tries[i], *tries.back(), r.first)) {
        chosen = i;
        agreed = true;
      }
    if (agreed) break;
  }
  Attempt& a = *tries[chosen];
  r.paranoia = std::exchange(a.paranoia, nullptr);
  r.lead = std::move(a.pcm);
  r.leadLost = std::move(a.lost);
  // Its skips reach beyond the sectors it returned: they stay with the range.
  r.suspect = std::move(a.suspect);
  // No two readings agreed: the start is not known to be right, and that is said.
  if (!agreed) r.suspect.insert(r.first);
  g_suspect = &r.suspect;
  return true;
}

// The cdda layer over a physical drive, and a verified start of the range.
bool openParanoia(Ripper& r, Drive& d) {
  // Messages are forgotten, not kept: the callback says what matters, and a log kept by the
  // cdda layer grows with every retry of a bad sector.
  r.cdda = cdio_cddap_identify_cdio(d.cdio.get(), CDDA_MESSAGE_FORGETIT, nullptr);
  if (!r.cdda) return false;
  // The cdda layer guesses the byte order from audio it reads at the tracks' starts, through
  // every retry of a bad sector there, and guesses again before every read while it cannot
  // tell. Drives deliver audio little-endian.
  r.cdda->bigendianp = 0;
  if (cdio_cddap_open(r.cdda) != 0) return false;
  cdio_cddap_verbose_set(r.cdda, CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
  g_cddaRead = r.cdda->read_audio;
  r.cdda->read_audio = abortableRead;
  return startVerified(r, d);
}

}  // namespace

namespace cdrip_internal {

bool ripperOpen() { return g_ripper != nullptr; }

void freeRipper() { g_ripper.reset(); }

std::string g_ripperProblem;

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

// An abort in the middle of a chunk: what the chunk added is dropped, and the range is over.
CDEX_ERR abortChunk(Ripper& r, size_t pendingBefore, int32_t chunkStart, int64_t deliveredBefore) {
  r.aborted = true;
  r.pending.resize(pendingBefore);
  r.framesDelivered = deliveredBefore;
  r.next = chunkStart;
  return CDEX_ERROR;
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

int32_t CR_GetRipperProblem(char* text, int32_t size) {
  if (text && size > 0) {
    std::strncpy(text, g_ripperProblem.c_str(), static_cast<size_t>(size) - 1);
    text[size - 1] = '\0';
  }
  return static_cast<int32_t>(g_ripperProblem.size());
}

CDEX_ERR CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector) {
  g_ripperProblem.clear();  // an earlier refusal's reason is not this one's
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
  if (refuseChangedDisc(*d) || !openCdio(*d)) return CDEX_ERROR;
  stopPlayback();  // the drive cannot play and be read at once

  g_ripper = std::make_unique<Ripper>();
  Ripper* r = g_ripper.get();
  r->first = startSector;
  r->last = endSector;
  r->next = startSector;
  g_abort = false;
  g_lastAsked = {};
  g_givenUp.clear();
  g_failedReads = 0;
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
      if (r->aborted) return CDEX_ERROR;
      // What this chunk adds is dropped again if the chunk is aborted half way.
      const size_t before = r->pending.size();
      const int32_t chunkStart = r->next;
      const int64_t deliveredBefore = r->framesDelivered;
      for (int32_t s = 0; s < n; ++s) {
        const size_t lead = static_cast<size_t>(r->next - r->first);
        if (lead < r->leadLost.size()) {
          // Read and cross-checked when the ripper was opened.
          const int16_t* data = r->lead.data() + lead * (kSectorBytes / 2);
          data = deliver(*r, r->suspect, r->next, r->leadLost[lead] ? nullptr : data);
          if (g_abort) return abortChunk(*r, before, chunkStart, deliveredBefore);
          convert(*r, data, 588);
          ++r->next;
          continue;
        }
        const int16_t* data = readLimited(r->paranoia, paranoiaCallback);
        drainMessages(r->cdda);
        if (g_abort) return abortChunk(*r, before, chunkStart, deliveredBefore);
        // Nothing back for this sector: counted as damaged and left silent.
        data = deliver(*r, r->suspect, r->next, data);
        if (g_abort) return abortChunk(*r, before, chunkStart, deliveredBefore);
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

int32_t CR_GetDamagedSectors(int32_t* first, int32_t* last) {
  const Ripper* r = g_ripper.get();
  if (first) *first = r ? r->damagedFirst : -1;
  if (last) *last = r ? r->damagedLast : -1;
  return r ? r->damaged : 0;
}

void CR_SetReadRetries(int32_t retries) { g_retries = std::clamp<int32_t>(retries, 0, 1000); }

void CR_SetAbortCallback(CR_ABORTCALLBACK callback, void* user) {
  g_abortCallback = callback;
  g_abortUser = user;
}

CDEX_ERR CR_CloseRipper(void) {
  if (!g_ripper) return CDEX_ERROR;
  freeRipper();
  return CDEX_OK;
}

}  // extern "C"
