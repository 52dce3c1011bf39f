// SPDX-License-Identifier: GPL-3.0-or-later
#include "output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

namespace platform {

namespace {

// The longest file name the folder's file system takes.
size_t nameMax(const std::string& folder) {
  const long n = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<size_t>(n) : NAME_MAX;
}

}  // namespace

std::string OutputFile::TemporaryStem(const std::string& base, size_t nameMax) {
  const size_t room = nameMax > kDecorationLength ? nameMax - kDecorationLength : 1;
  if (base.size() <= room) return base;
  // Cut before a UTF-8 continuation byte never: the stem stays valid text.
  size_t cut = room;
  while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
  return base.substr(0, cut);
}

OutputFile::OutputFile(const std::string& name) : name_(name) {
  const auto slash = name.rfind('/');
  folder_ = slash == std::string::npos ? "." : name.substr(0, slash + (slash == 0 ? 1 : 0));
  prefix_ = "." + TemporaryStem(name.substr(slash == std::string::npos ? 0 : slash + 1), nameMax(folder_)) + ".tessaly-";
  struct stat st {};
  mode_t keepMode = 0;
  if (::lstat(name.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw OutputFileError(name, std::strerror(EISDIR));
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) throw OutputFileError(name, "not a regular file");
    // A file the user made read-only is not replaced, as it could not be overwritten. Its
    // owner's write bit says so whoever runs the rip (root may write anything); access() adds
    // the files of others that this user may not write.
    if (S_ISREG(st.st_mode)) {
      if ((st.st_mode & S_IWUSR) == 0) throw OutputFileError(name, std::strerror(EACCES));
      if (::access(name.c_str(), W_OK) != 0) throw OutputFileError(name, std::strerror(errno));
      keepMode = st.st_mode & 07777;
    }
  }
  removeLeftovers();
  create();
  if (keepMode) ::fchmod(fd_->get(), keepMode);
}

OutputFile::~OutputFile() {
  if (!placed_ && !tempName_.empty()) ::unlink(tempName_.c_str());
}

std::string OutputFile::Reason() const { return std::strerror(error_ ? error_ : EIO); }

bool OutputFile::Write(const void* data, size_t n) {
  if (writeSome(data, n) != n) return false;
  written_ += n;
  // The disk starts on what was written while the writer goes on, so the flush at the close
  // finds little left to do.
  if (written_ - flushed_ >= kFlushStep) {
    ::sync_file_range(fd_->get(), static_cast<off_t>(flushed_), static_cast<off_t>(written_ - flushed_),
                      SYNC_FILE_RANGE_WRITE);
    flushed_ = written_;
  }
  return true;
}

void OutputFile::WriteUnchecked(const void* data, size_t n) { written_ += writeSome(data, n); }

bool OutputFile::WriteAt(off_t offset, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::pwrite(fd_->get(), p + done, n - done, offset + static_cast<off_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      error_ = w < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

bool OutputFile::Sync() {
  // A file system that cannot flush (EINVAL) or is read-only has nothing waiting to be lost.
  if (fd_->valid() && (::fsync(fd_->get()) == 0 || errno == EINVAL || errno == EROFS)) return true;
  error_ = fd_->valid() ? errno : EBADF;
  return false;
}

bool OutputFile::Finish() {
  if (!fd_->valid()) return error_ == 0;
  bool ok = Sync();
  // A copy of the descriptor keeps the lock until the file has its name: a finished file
  // waiting for its turn is no crashed writer's leftover. Closing the first still reports
  // what the file system says at a close.
  lock_ = UniqueFd(::dup(fd_->get()));
  if (!lock_.valid()) {
    lock_ = std::move(*fd_);
    return ok;
  }
  if (!fd_->Close() && ok) {
    error_ = errno;
    ok = false;
  }
  return ok;
}

void OutputFile::Place() {
  if (::rename(tempName_.c_str(), name_.c_str()) != 0) {
    const int err = errno;
    ::unlink(tempName_.c_str());
    tempName_.clear();
    lock_.Close();
    throw OutputFileError(name_, std::strerror(err));
  }
  placed_ = true;
  lock_.Close();
  UniqueFd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
}

bool OutputFile::Close() {
  const bool ok = Finish();
  Place();
  return ok;
}

size_t OutputFile::writeSome(const void* data, size_t n) {
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

bool OutputFile::isOurTemporaryName(const char* entry) const {
  const size_t len = std::strlen(entry);
  if (len != prefix_.size() + kSuffixLength || std::strncmp(entry, prefix_.c_str(), prefix_.size()) != 0)
    return false;
  for (size_t i = prefix_.size(); i < len; ++i)
    if (!std::isalnum(static_cast<unsigned char>(entry[i]))) return false;
  return true;
}

// Removes the temporary files of this name that no living writer holds.
void OutputFile::removeLeftovers() const {
  DIR* dir = ::opendir(folder_.c_str());
  if (!dir) return;  // creating the file reports why
  const int dfd = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    if (!isOurTemporaryName(e->d_name)) continue;
    struct stat st {};
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    UniqueFd f(::openat(dfd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!f.valid() || ::flock(f.get(), LOCK_EX | LOCK_NB) != 0) continue;  // a writer lives
    struct stat held {};
    if (::fstat(f.get(), &held) == 0 && held.st_ino == st.st_ino && held.st_dev == st.st_dev)
      ::unlinkat(dfd, e->d_name, 0);
  }
  ::closedir(dir);
}

void OutputFile::create() {
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
    // between has removed it, and another name is tried. A file system without locks
    // (ENOLCK, as some network ones) is written unlocked: its cleaners cannot tell a
    // leftover either, so they remove nothing there.
    if (::flock(fd_->get(), LOCK_EX) != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != ENOSYS) {
      lastError = errno;
      ::unlink(temp.c_str());
      break;
    }
    struct stat held {}, now {};
    if (::fstat(fd_->get(), &held) != 0 || ::lstat(temp.c_str(), &now) != 0 || now.st_ino != held.st_ino ||
        now.st_dev != held.st_dev)
      continue;
    tempName_ = std::move(temp);
    return;
  }
  fd_.reset();
  throw OutputFileError(name_, std::strerror(lastError));
}

}  // namespace platform
