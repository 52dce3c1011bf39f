// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrip_image_source.h"

#include <FLAC++/decoder.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "cdrip_internal.h"

namespace cdrip_internal {

namespace fs = std::filesystem;

namespace {

constexpr int kSectorBytes = 2352;
constexpr int64_t kFramesPerSector = 588;

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool preadAll(int fd, void* buf, size_t n, int64_t at) {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    const ssize_t got = ::pread(fd, p, n, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
    at += got;
  }
  return true;
}

std::string msf(int64_t lsn) {
  char b[32];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", static_cast<int>(lsn / 4500), static_cast<int>((lsn / 75) % 60),
                static_cast<int>(lsn % 75));
  return b;
}

// A text as a cue sheet's quoted word can hold it.
std::string quotable(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '"' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) out += c;
  return out;
}

}  // namespace

// One stretch of the disc: silence, or consecutive sectors of one file.
struct DiscSource::Piece {
  int64_t lsn = 0, count = 0;
  int data = -1;        // index into data_; -1: silence
  int64_t start = 0;    // raw: byte offset of the first sector; decoded: its first sample frame
  int stride = kSectorBytes;  // raw: bytes per sector in the file
};

// A data file, read by sector. Only the file being read is open, so that a sheet of 99 files
// does not hold 99 descriptors.
struct DiscSource::Data {
  virtual ~Data() = default;
  virtual bool reopen() = 0;
  virtual void close() = 0;
  std::string path;
  // Sector `k` of the piece into out (2352 bytes); false when the file lacks it.
  virtual bool read(const Piece& piece, int64_t k, uint8_t* out) = 0;
  // Sectors the file holds (decoded kinds: whole or started sectors of sample frames).
  int64_t frames = 0;  // decoded kinds: sample frames
  int64_t bytes = 0;   // raw: the file's size
};

namespace {

struct Fd {
  int fd = -1;
  ~Fd() { close(); }
  bool open(const std::string& path) {
    close();
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd >= 0;
  }
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

struct RawData final : DiscSource::Data {
  Fd file;
  bool swap = false;  // MOTOROLA: big-endian samples
  bool reopen() override { return file.open(path); }
  void close() override { file.close(); }
  bool read(const DiscSource::Piece& p, int64_t k, uint8_t* out) override {
    const int64_t at = p.start + k * p.stride;
    const size_t n = static_cast<size_t>(std::min(p.stride, kSectorBytes));
    if (at + static_cast<int64_t>(n) > bytes || !preadAll(file.fd, out, n, at)) return false;
    if (swap)
      for (size_t i = 0; i + 1 < n; i += 2) std::swap(out[i], out[i + 1]);
    return true;
  }
};

// The samples of a RIFF WAVE file's data chunk.
struct RiffData final : DiscSource::Data {
  Fd file;
  int64_t dataOffset = 0;
  bool reopen() override { return file.open(path); }
  void close() override { file.close(); }
  bool read(const DiscSource::Piece& p, int64_t k, uint8_t* out) override {
    const int64_t first = p.start + k * kFramesPerSector;
    std::memset(out, 0, kSectorBytes);
    const int64_t n = std::min<int64_t>(kFramesPerSector, frames - first);
    if (n <= 0) return false;
    return preadAll(file.fd, out, static_cast<size_t>(n * 4), dataOffset + first * 4);
  }
};

// A FLAC file: decoded forward frame by frame, with a seek wherever a read does not follow on.
class FlacData final : public DiscSource::Data, public FLAC::Decoder::File {
 public:
  std::string problem;
  bool reopen() override {
    const int64_t known = frames;
    buf_.clear();
    bufStart_ = -1;
    info_ = false;
    return init(path) == FLAC__STREAM_DECODER_INIT_STATUS_OK && process_until_end_of_metadata() && info_ &&
           frames == known;
  }
  void close() override { finish(); }
  bool start() {
    set_md5_checking(false);
    if (init(path) != FLAC__STREAM_DECODER_INIT_STATUS_OK || !process_until_end_of_metadata() || !info_) {
      problem = "is not a FLAC file libFLAC can read";
      return false;
    }
    if (channels_ != 2 || bits_ != 16 || rate_ != 44100) {
      problem = "is FLAC of " + std::to_string(channels_) + " channel(s), " + std::to_string(bits_) + "-bit, " +
                std::to_string(rate_) + " Hz; a CD image holds 16-bit stereo at 44100 Hz";
      return false;
    }
    if (frames == 0) {
      problem = "is a FLAC file that does not say how long it is";
      return false;
    }
    return true;
  }
  bool read(const DiscSource::Piece& p, int64_t k, uint8_t* out) override {
    std::memset(out, 0, kSectorBytes);
    int64_t want = p.start + k * kFramesPerSector;
    const int64_t end = std::min<int64_t>(want + kFramesPerSector, frames);
    if (want >= end) return false;
    uint8_t* at = out;
    // A stream whose frames do not say where they are could keep a seek from ever arriving.
    for (int steps = 0; want < end; ++steps) {
      if (steps > 64) return recover();
      if (want >= bufStart_ && want < bufStart_ + bufFrames()) {
        const int64_t n = std::min(end, bufStart_ + bufFrames()) - want;
        std::memcpy(at, buf_.data() + (want - bufStart_) * 2, static_cast<size_t>(n) * 4);
        at += n * 4;
        want += n;
        continue;
      }
      failed_ = false;
      const auto state = get_state();
      if (want == bufStart_ + bufFrames() && (state == FLAC__STREAM_DECODER_READ_FRAME ||
                                               state == FLAC__STREAM_DECODER_SEARCH_FOR_FRAME_SYNC)) {
        bufStart_ += bufFrames();
        buf_.clear();
        if (!process_single() || failed_ || buf_.empty()) return recover();
      } else {
        buf_.clear();
        bufStart_ = want;
        if (!seek_absolute(static_cast<FLAC__uint64>(want)) || failed_ || buf_.empty()) return recover();
      }
    }
    return true;
  }

 protected:
  FLAC__StreamDecoderWriteStatus write_callback(const ::FLAC__Frame* frame, const FLAC__int32* const buffer[]) override {
    if (frame->header.channels != 2 || frame->header.bits_per_sample != 16) {
      failed_ = true;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    if (frame->header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER)
      bufStart_ = static_cast<int64_t>(frame->header.number.sample_number);
    buf_.resize(static_cast<size_t>(frame->header.blocksize) * 2);
    for (uint32_t i = 0; i < frame->header.blocksize; ++i) {
      buf_[2 * i] = static_cast<int16_t>(buffer[0][i]);
      buf_[2 * i + 1] = static_cast<int16_t>(buffer[1][i]);
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  void metadata_callback(const ::FLAC__StreamMetadata* m) override {
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    info_ = true;
    channels_ = m->data.stream_info.channels;
    bits_ = m->data.stream_info.bits_per_sample;
    rate_ = m->data.stream_info.sample_rate;
    frames = static_cast<int64_t>(m->data.stream_info.total_samples);
  }
  void error_callback(::FLAC__StreamDecoderErrorStatus) override { failed_ = true; }

 private:
  int64_t bufFrames() const { return static_cast<int64_t>(buf_.size() / 2); }
  // After a damaged frame or a failed seek the decoder is set going again for the next read.
  bool recover() {
    buf_.clear();
    bufStart_ = -1;
    if (get_state() == FLAC__STREAM_DECODER_SEEK_ERROR || get_state() == FLAC__STREAM_DECODER_ABORTED) flush();
    return false;
  }
  bool info_ = false, failed_ = false;
  unsigned channels_ = 0, bits_ = 0, rate_ = 0;
  std::vector<int16_t> buf_;  // the last frame decoded, interleaved
  int64_t bufStart_ = -1;     // its first sample frame
};

// The 16-bit stereo 44100 Hz PCM of a RIFF WAVE file; null with the reason otherwise.
std::unique_ptr<RiffData> openRiff(const fs::path& path, std::string& problem) {
  auto d = std::make_unique<RiffData>();
  struct stat st {};
  if (!d->file.open(path) || ::fstat(d->file.fd, &st) != 0) {
    problem = std::strerror(errno);
    return nullptr;
  }
  const int64_t size = st.st_size;
  uint8_t head[12];
  if (!preadAll(d->file.fd, head, 12, 0) || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    problem = "is not a RIFF WAVE file";
    return nullptr;
  }
  bool haveFormat = false;
  int64_t dataAt = -1, dataBytes = 0;
  int64_t at = 12;
  for (int chunks = 0; at + 8 <= size && chunks < 4096 && (!haveFormat || dataAt < 0); ++chunks) {
    uint8_t ch[8];
    if (!preadAll(d->file.fd, ch, 8, at)) break;
    const int64_t len = le32(ch + 4);
    if (std::memcmp(ch, "fmt ", 4) == 0) {
      uint8_t f[40] = {};
      if (len < 16 || !preadAll(d->file.fd, f, static_cast<size_t>(std::min<int64_t>(len, 40)), at + 8)) {
        problem = "is a WAVE file with a damaged format chunk";
        return nullptr;
      }
      unsigned tag = le16(f);
      if (tag == 0xFFFE && len >= 40) tag = le16(f + 24);  // WAVE_FORMAT_EXTENSIBLE: its sub-format
      const unsigned channels = le16(f + 2), rate = le32(f + 4), bits = le16(f + 14);
      if (tag != 1) {
        problem = "is a WAVE file that is not PCM (format " + std::to_string(tag) + ")";
        return nullptr;
      }
      if (channels != 2 || rate != 44100 || bits != 16 || le16(f + 12) != 4) {
        problem = "is a WAVE file of " + std::to_string(channels) + " channel(s), " + std::to_string(bits) + "-bit, " +
                  std::to_string(rate) + " Hz; a CD image holds 16-bit stereo at 44100 Hz";
        return nullptr;
      }
      haveFormat = true;
    } else if (std::memcmp(ch, "data", 4) == 0 && dataAt < 0) {
      dataAt = at + 8;
      // A writer that never came back to fill in the length leaves 0 or all bits set.
      dataBytes = std::min(len == 0 || len == 0xFFFFFFFF ? size : len, size - dataAt);
    }
    at += 8 + len + (len & 1);
  }
  if (!haveFormat || dataAt < 0) {
    problem = haveFormat ? "is a WAVE file without a data chunk" : "is a WAVE file without a format chunk";
    return nullptr;
  }
  d->dataOffset = dataAt;
  d->frames = std::max<int64_t>(0, dataBytes) / 4;
  return d;
}

}  // namespace

DataKind sniffDataFile(const fs::path& file) {
  uint8_t head[12] = {};
  Fd f;
  f.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (f.fd < 0 || !preadAll(f.fd, head, sizeof head, 0)) return DataKind::Raw;
  if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) return DataKind::Riff;
  if (std::memcmp(head, "fLaC", 4) == 0) return DataKind::Flac;
  // An ID3v2 tag ahead of the stream, as some taggers write; libFLAC skips it.
  if (std::memcmp(head, "ID3", 3) == 0 && head[3] < 5) {
    const int64_t tag = 10 + ((head[6] & 0x7f) << 21 | (head[7] & 0x7f) << 14 | (head[8] & 0x7f) << 7 | (head[9] & 0x7f));
    uint8_t magic[4] = {};
    if (preadAll(f.fd, magic, 4, tag) && std::memcmp(magic, "fLaC", 4) == 0) return DataKind::Flac;
  }
  return DataKind::Raw;
}

DiscSource::~DiscSource() = default;

std::shared_ptr<DiscSource> DiscSource::open(const cue::Sheet& sheet, const Locator& locate,
                                             std::string& problem) {
  std::shared_ptr<DiscSource> src(new DiscSource);
  src->texts_ = sheet;
  int64_t lsn = 0;
  auto silence = [&](int64_t n) {
    if (n > 0) src->pieces_.push_back(Piece{lsn, n, -1, 0, kSectorBytes});
    lsn += n;
  };
  for (const cue::File& f : sheet.files) {
    if (f.tracks.empty()) continue;  // a FILE line no track uses
    const fs::path path = locate(f.name);
    if (path.empty()) {
      problem = "the data file " + f.name + " is missing";
      return nullptr;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      problem = "the data file " + path.string() + (::stat(path.c_str(), &st) != 0 ? " is missing" : " is not a regular file");
      return nullptr;
    }
    const int index = static_cast<int>(src->data_.size());
    const DataKind kind = sniffDataFile(path);
    std::unique_ptr<Data> data;
    std::string why;
    if (kind == DataKind::Riff) {
      data = openRiff(path, why);
    } else if (kind == DataKind::Flac) {
      auto flac = std::make_unique<FlacData>();
      flac->path = path.string();
      if (flac->start()) data = std::move(flac);
      else why = flac->problem;
    } else if (f.type == "BINARY" || f.type == "MOTOROLA") {
      auto raw = std::make_unique<RawData>();
      raw->swap = f.type == "MOTOROLA";
      raw->bytes = st.st_size;
      if (raw->file.open(path.string())) data = std::move(raw);
      else why = std::strerror(errno);
    } else {
      why = "is neither a RIFF WAVE nor a FLAC file (the sheet calls it " + f.type + ")";
    }
    if (!data) {
      problem = "the data file " + path.string() + " " + why;
      return nullptr;
    }
    const bool decoded = kind != DataKind::Raw;
    for (const cue::Track& t : f.tracks)
      if (decoded && t.sectorBytes != kSectorBytes) {
        problem = "track " + std::to_string(t.number) + " is a data track in the audio file " + path.string();
        return nullptr;
      }
    // Walks the file: `cur` is the next file sector not yet laid on the disc, `byte` where it
    // starts (raw files, whose tracks may differ in sector size), `stride` its sector size.
    int64_t cur = 0, byte = 0;
    int stride = f.tracks.front().sectorBytes;
    const int64_t fileSectors = decoded ? (data->frames + kFramesPerSector - 1) / kFramesPerSector : -1;
    auto lay = [&](int64_t upTo) {  // file sectors [cur, upTo) onto the disc
      const int64_t n = upTo - cur;
      if (n <= 0) return;
      src->pieces_.push_back(Piece{lsn, n, index, decoded ? cur * kFramesPerSector : byte, stride});
      lsn += n;
      byte += n * stride;
      cur = upTo;
    };
    int32_t postgap = 0;
    for (const cue::Track& t : f.tracks) {
      lay(t.index0 >= 0 ? t.index0 : t.index1);  // the end of the track before
      silence(postgap);
      stride = t.sectorBytes;
      lay(t.index1);  // this track's INDEX 00 stretch, heard before it on a disc
      silence(t.pregap);
      if (decoded ? t.index1 >= fileSectors : byte >= data->bytes) {
        problem = "track " + std::to_string(t.number) + " starts past the end of " + path.string();
        return nullptr;
      }
      TOCENTRY e{};
      e.dwStartSector = static_cast<uint32_t>(lsn);
      e.btFlag = t.audio ? CR_FLAG_AUDIO : CR_FLAG_DATA;
      e.btTrackNumber = static_cast<uint8_t>(src->toc_.size() + 1);
      src->toc_.push_back(e);
      postgap = t.postgap;
      if (lsn > kMaxLeadOut) break;
    }
    lay(decoded ? fileSectors : cur + (data->bytes - byte) / stride);
    silence(postgap);
    data->path = path.string();
    data->close();  // opened again when read
    src->data_.push_back(std::move(data));
    src->paths_.push_back(path.string());
    if (lsn > kMaxLeadOut) {
      problem = "the image claims more than a CD holds (past 99:59:74)";
      return nullptr;
    }
  }
  for (size_t i = 0; i < src->toc_.size(); ++i) {
    const int64_t end = i + 1 < src->toc_.size() ? src->toc_[i + 1].dwStartSector : lsn;
    if (end <= src->toc_[i].dwStartSector) {
      problem = "track " + std::to_string(i + 1) + " holds no sector";
      return nullptr;
    }
  }
  TOCENTRY lead{};
  lead.dwStartSector = static_cast<uint32_t>(lsn);
  lead.btFlag = CR_FLAG_DATA;
  lead.btTrackNumber = 0xAA;
  src->toc_.push_back(lead);
  return src;
}

std::string DiscSource::tocSheet(const std::string& binName) const {
  std::string s;
  auto text = [&](const char* indent, const char* key, const std::string& value) {
    if (!quotable(value).empty()) s += std::string(indent) + key + " \"" + quotable(value) + "\"\n";
  };
  text("", "TITLE", texts_.title);
  text("", "PERFORMER", texts_.performer);
  text("", "SONGWRITER", texts_.songwriter);
  s += "FILE \"" + binName + "\" BINARY\n";
  std::vector<const cue::Track*> tracks;
  for (const cue::File& f : texts_.files)
    for (const cue::Track& t : f.tracks) tracks.push_back(&t);
  for (size_t i = 0; i + 1 < toc_.size() && i < tracks.size(); ++i) {
    char num[8];
    std::snprintf(num, sizeof num, "%02u", static_cast<unsigned>(i + 1));
    s += std::string("  TRACK ") + num + (toc_[i].btFlag == CR_FLAG_AUDIO ? " AUDIO\n" : " MODE1/2352\n");
    text("    ", "TITLE", tracks[i]->title);
    text("    ", "PERFORMER", tracks[i]->performer);
    text("    ", "SONGWRITER", tracks[i]->songwriter);
    s += "    INDEX 01 " + msf(toc_[i].dwStartSector) + "\n";
  }
  return s;
}

bool DiscSource::read(uint8_t* out, int32_t lsn, uint32_t n) {
  std::lock_guard<std::mutex> hold(lock_);
  bool ok = true;
  for (uint32_t s = 0; s < n; ++s, out += kSectorBytes) {
    const int64_t at = int64_t{lsn} + s;
    const auto it = std::upper_bound(pieces_.begin(), pieces_.end(), at,
                                      [](int64_t v, const Piece& p) { return v < p.lsn; });
    if (it == pieces_.begin() || at >= (it - 1)->lsn + (it - 1)->count) {
      std::memset(out, 0, kSectorBytes);
      ok = false;  // before the first track or past the lead-out
      continue;
    }
    const Piece& p = *(it - 1);
    if (p.data < 0) {
      std::memset(out, 0, kSectorBytes);
      continue;
    }
    if (p.stride < kSectorBytes) std::memset(out, 0, kSectorBytes);
    if (p.data != open_) {
      if (open_ >= 0) data_[static_cast<size_t>(open_)]->close();
      open_ = data_[static_cast<size_t>(p.data)]->reopen() ? p.data : -1;
    }
    if (open_ != p.data || !data_[static_cast<size_t>(p.data)]->read(p, at - p.lsn, out)) {
      std::memset(out, 0, kSectorBytes);
      ok = false;
    }
  }
  return ok;
}

}  // namespace cdrip_internal
