// TCDRIP extraction: one track into one WAV, raw PCM or MP3 file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <random>
#include <vector>

#include "CDRIP.h"
#include "lame/LameCoder.h"
#include "platform/events.h"
#include "platform/unique_fd.h"

EFCreateError::EFCreateError(const std::string& fileName, std::string reason)
    : std::runtime_error("Cannot create file " + fileName), reason_(std::move(reason)) {}

namespace {

constexpr size_t kWavHeaderBytes = 44;
const char* const kTooLongForWav = "Track too long for a WAV file (over 4 GiB)";

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void wavHeader(uint8_t* h, const TFormatShape& shape, uint32_t dataSize) {
  const uint32_t byteRate = static_cast<uint32_t>(shape.Channels * shape.SampleRate * 2);
  std::memcpy(h, "RIFF", 4);
  put32(h + 4, dataSize + 36);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  put32(h + 16, 16);
  put16(h + 20, 1);
  put16(h + 22, static_cast<uint16_t>(shape.Channels));
  put32(h + 24, static_cast<uint32_t>(shape.SampleRate));
  put32(h + 28, byteRate);
  put16(h + 32, static_cast<uint16_t>(shape.Channels * 2));
  put16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  put32(h + 40, dataSize);
}

// The output file. It is written under a temporary name beside its own ("." + name +
// ".tessaly-" + six characters) and renamed over the name only when the track is closed, so a
// process killed in any way, a power loss or a second writer leaves the old file or a whole
// new one under the name, never a mixture. The writer holds a lock on its temporary file for
// as long as it lives; an unlocked one is a crashed writer's leftover, removed by the next rip
// of the same name. A symbolic link at the name is replaced, never written through.
class OutputFile {
 public:
  explicit OutputFile(const std::string& name) : name_(name) {
    const auto slash = name.rfind('/');
    folder_ = slash == std::string::npos ? "." : name.substr(0, slash + (slash == 0 ? 1 : 0));
    prefix_ = "." + name.substr(slash == std::string::npos ? 0 : slash + 1) + ".tessaly-";
    struct stat st {};
    mode_t keepMode = 0;
    if (::lstat(name.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) throw EFCreateError(name, std::strerror(EISDIR));
      if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        throw EFCreateError(name, "not a regular file");
      // A file the user made read-only is not replaced, as it could not be overwritten.
      if (S_ISREG(st.st_mode)) {
        if (::access(name.c_str(), W_OK) != 0) throw EFCreateError(name, std::strerror(errno));
        keepMode = st.st_mode & 07777;
      }
    }
    removeLeftovers();
    create();
    if (keepMode) ::fchmod(fd_->get(), keepMode);
  }
  ~OutputFile() {
    if (!placed_ && !tempName_.empty()) ::unlink(tempName_.c_str());
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Any write that stores fewer bytes than asked is a "Write error".
  void Write(const void* data, size_t n) {
    if (WriteSome(data, n) != n) throw ECDRIPError("Write error", Reason());
    written_ += n;
    // The disk starts on what was written while the rip goes on, so the flush at the close
    // finds little left to do.
    if (written_ - flushed_ >= kFlushStep) {
      ::sync_file_range(fd_->get(), static_cast<off_t>(flushed_), static_cast<off_t>(written_ - flushed_),
                        SYNC_FILE_RANGE_WRITE);
      flushed_ = written_;
    }
  }
  // Writes without a check, as the WAV header's first write is.
  void WriteUnchecked(const void* data, size_t n) { written_ += WriteSome(data, n); }
  void WriteAt(off_t offset, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::pwrite(fd_->get(), p + done, n - done, offset + static_cast<off_t>(done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        error_ = w < 0 ? errno : ENOSPC;
        throw ECDRIPError("Write error", Reason());
      }
      done += static_cast<size_t>(w);
    }
  }
  uint64_t Written() const { return written_; }
  // Why the last write or close that failed did, in the system's words.
  std::string Reason() const { return std::strerror(error_ ? error_ : EIO); }

  // Closes the file and puts it under its name. False when the audio may not have reached the
  // disk (a "Write error"); the file is placed all the same, as a file cut short by a write
  // error is. Raises EFCreateError when it cannot be given its name.
  bool Close() {
    bool ok = ::fsync(fd_->get()) == 0 || errno == EINVAL || errno == EROFS;
    if (!ok) error_ = errno;
    if (!fd_->Close() && ok) {
      error_ = errno;
      ok = false;
    }
    if (::rename(tempName_.c_str(), name_.c_str()) != 0) {
      const int err = errno;
      ::unlink(tempName_.c_str());
      tempName_.clear();
      throw EFCreateError(name_, std::strerror(err));
    }
    placed_ = true;
    platform::UniqueFd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
    return ok;
  }

 private:
  size_t WriteSome(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(fd_->get(), p + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        error_ = w < 0 ? errno : ENOSPC;  // a write that stores nothing: the disk is full
        break;
      }
      done += static_cast<size_t>(w);
    }
    return done;
  }

  bool isOurTemporaryName(const char* entry) const {
    const size_t len = std::strlen(entry);
    if (len != prefix_.size() + kSuffixLength || std::strncmp(entry, prefix_.c_str(), prefix_.size()) != 0)
      return false;
    for (size_t i = prefix_.size(); i < len; ++i)
      if (!std::isalnum(static_cast<unsigned char>(entry[i]))) return false;
    return true;
  }

  // Removes the temporary files of this name that no living writer holds.
  void removeLeftovers() const {
    DIR* dir = ::opendir(folder_.c_str());
    if (!dir) return;  // creating the file reports why
    const int dfd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
      if (!isOurTemporaryName(e->d_name)) continue;
      struct stat st {};
      if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      platform::UniqueFd f(::openat(dfd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      if (!f.valid() || ::flock(f.get(), LOCK_EX | LOCK_NB) != 0) continue;  // a writer lives
      struct stat held {};
      if (::fstat(f.get(), &held) == 0 && held.st_ino == st.st_ino && held.st_dev == st.st_dev)
        ::unlinkat(dfd, e->d_name, 0);
    }
    ::closedir(dir);
  }

  void create() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string temp = (folder_ == "/" ? "/" : folder_ + "/") + prefix_;
      for (size_t i = 0; i < kSuffixLength; ++i) temp += kAlphabet[rd() % (sizeof kAlphabet - 1)];
      fd_.emplace(::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
      if (!fd_->valid()) {
        lastError = errno;
        if (errno == EEXIST) continue;
        break;
      }
      // Locked, then checked to be still there: a cleaner that took it for a leftover in
      // between has removed it, and another name is tried.
      struct stat held {}, now {};
      if (::flock(fd_->get(), LOCK_EX) != 0 || ::fstat(fd_->get(), &held) != 0 ||
          ::lstat(temp.c_str(), &now) != 0 || now.st_ino != held.st_ino || now.st_dev != held.st_dev)
        continue;
      tempName_ = std::move(temp);
      return;
    }
    throw EFCreateError(name_, std::strerror(lastError));
  }

  static constexpr size_t kSuffixLength = 6;
  static constexpr uint64_t kFlushStep = 4 << 20;
  std::string name_, folder_, prefix_, tempName_;
  std::optional<platform::UniqueFd> fd_;
  uint64_t written_ = 0;
  uint64_t flushed_ = 0;  // bytes the disk was asked to start on
  int error_ = 0;         // errno of the last failed write or close
  bool placed_ = false;
};

}  // namespace

void TCDRIP::RipTrack(int trackNum, const std::string& fileName) {
  if (OnBeginTrack) OnBeginTrack(*this, static_cast<uint16_t>(trackNum));
  const TTrack& t = tracks_.Objects(trackNum - 1);
  RipSectors(t.StartSector, t.EndSector, fileName);
  if (OnEndTrack) OnEndTrack(*this, static_cast<uint16_t>(trackNum));
}

void TCDRIP::AttachCoder(TLameCoder* value) {
  coder_ = value;
  UpdateCoder();
}

void TCDRIP::UpdateCoder() {
  if (!coder_) return;
  const TFormatShape shape = FormatShape(outputFormat_);
  coder_->SetMode(shape.Channels == 1 ? MONO : STEREO);
  coder_->SetSampleRate(static_cast<uint32_t>(shape.SampleRate));
  coder_->SetInputFormat(shape.Channels, static_cast<uint32_t>(shape.SampleRate));
}

void TCDRIP::RipSectors(int startSector, int endSector, const std::string& fileName) {
  // 1-3: parameters, cancel flag, the ripper. A refused open is silent: no file appears.
  if (!ApplyParameters()) throw ECDRIPError("Invalid CD-ROM parameters");
  cancel_ = false;
  outputFileName_.clear();
  const TFormatShape shape = FormatShape(outputFormat_);
  // A WAV header counts its sizes in 32 bits: a longer track would get one that wraps.
  const bool wav = WriteWAV && !Encode;
  const uint64_t expected = static_cast<uint64_t>(std::max<int64_t>(0, int64_t{endSector} - startSector + 1)) * 588u *
                            static_cast<uint64_t>(shape.SampleRate) / 44100u *
                            static_cast<uint64_t>(shape.Channels) * 2u;
  if (wav && expected + 36u > UINT32_MAX) throw ECDRIPError(kTooLongForWav);
  int32_t bufferSize = 0;
  if (CR_OpenRipper(&bufferSize, startSector, endSector) == CDEX_ERROR) return;

  std::exception_ptr failure;
  std::string name;
  std::unique_ptr<OutputFile> file;
  const bool encoding = Encode && coder_;
  bool streamOpen = false;
  bool wavHeaderWritten = false;
  std::vector<uint8_t> ripBuffer, outBuffer;
  std::vector<int16_t> block;
  size_t blockBytes = 0;
  size_t carry = 0;

  try {
    // 4-7: the file, and the WAV header before any audio. Its sizes are the whole range's
    // here, so the file parses however it is cut short; they are set to what was really
    // written when the file is closed.
    name = Encode ? ChangeFileExt(fileName, ".mp3") : fileName;
    file = std::make_unique<OutputFile>(name);
    if (wav) {
      uint8_t header[kWavHeaderBytes];
      wavHeader(header, shape, static_cast<uint32_t>(expected));
      file->WriteUnchecked(header, sizeof header);
      wavHeaderWritten = true;
    }

    // 8-9: the encoder stream and the buffers, once for the whole track.
    if (encoding) {
      // Without a stream there is no block size to cut by, and the file would stay empty
      // while looking like a success.
      if (coder_->InitStream() != BE_ERR_SUCCESSFUL || coder_->SamplesPerChunk() == 0)
        throw ECDRIPError("Unable to start the MP3 encoder");
      streamOpen = true;
      outBuffer.resize(coder_->OutputBufferSize());
      block.resize(coder_->SamplesPerChunk());
      blockBytes = 2 * static_cast<size_t>(coder_->SamplesPerChunk());
    }
    ripBuffer.resize(static_cast<size_t>(bufferSize) + blockBytes);

    // 10: the loop.
    for (;;) {
      if (cancel_) break;
      int32_t numBytes = 0;
      const CDEX_ERR status = CR_RipChunk(ripBuffer.data() + carry, &numBytes, -1);
      if (status != CDEX_ERROR && numBytes > 0) {
        if (encoding) {
          const size_t total = carry + static_cast<size_t>(numBytes);
          size_t pos = 0;
          for (; pos + blockBytes <= total; pos += blockBytes) {
            std::memcpy(block.data(), ripBuffer.data() + pos, blockBytes);
            uint32_t n = 0;
            coder_->EncodeChunk(block.data(), outBuffer.data(), n);
            file->Write(outBuffer.data(), n);
          }
          carry = total - pos;
          std::memmove(ripBuffer.data(), ripBuffer.data() + pos, carry);
        } else if (!Encode) {
          file->Write(ripBuffer.data(), static_cast<size_t>(numBytes));
        }
      }
      if (status == CDEX_JITTER_ERROR) {
        int32_t first = 0, second = 0;
        CR_GetLastJitterErrorPosition(&first, &second);
        jitterLog_.push_back(std::to_string(static_cast<uint32_t>(first)) + " " +
                             std::to_string(static_cast<uint32_t>(second)));
      }
      const int32_t percent = CR_GetPercentCompleted();
      if (OnProgress) OnProgress(*this, static_cast<uint16_t>(percent));
      platform::ProcessMessages();
      if (status == CDEX_RIPPING_DONE) break;
    }
  } catch (...) {
    failure = std::current_exception();
  }

  // 11: closing steps, whatever ended the loop.
  if (streamOpen) {
    try {
      uint32_t n = 0;
      // The last partial block is audio too: encoded before the flush.
      if (carry > 0) {
        std::memcpy(block.data(), ripBuffer.data(), carry);
        coder_->EncodeLastChunk(block.data(), static_cast<uint32_t>(carry / 2), outBuffer.data(), n);
        file->Write(outBuffer.data(), n);
      }
      coder_->DeinitStream(outBuffer.data(), n);
      file->Write(outBuffer.data(), n);
      // The stream began with a placeholder header frame; fill it in now that the encoder
      // knows the length, so players show the duration and play gaplessly.
      std::vector<uint8_t> tag(outBuffer.size());
      coder_->FinalHeaderFrame(tag.data(), static_cast<uint32_t>(tag.size()), n);
      if (n > 0 && n <= file->Written()) file->WriteAt(0, tag.data(), n);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    coder_->CloseStream();
  }
  jitterErrorCount_ = CR_GetNumberOfJitterErrors();
  CR_CloseRipper();
  if (wavHeaderWritten && file) {
    try {
      const uint64_t data = file->Written() >= kWavHeaderBytes ? file->Written() - kWavHeaderBytes : 0;
      uint8_t sizes[4];
      put32(sizes, static_cast<uint32_t>(data + 36));
      file->WriteAt(4, sizes, 4);
      put32(sizes, static_cast<uint32_t>(data));
      file->WriteAt(40, sizes, 4);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  // The file goes under its name whatever ended the loop, a cancel or a write error included:
  // the partial file stays, as described. A close that fails may have lost buffered audio:
  // that is a write error too.
  if (file) {
    try {
      const bool closed = file->Close();
      outputFileName_ = name;
      if (!closed && !failure) failure = std::make_exception_ptr(ECDRIPError("Write error", file->Reason()));
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}
