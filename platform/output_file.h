// SPDX-License-Identifier: GPL-3.0-or-later
// An output file written under a temporary name beside its own and renamed over the name only
// when it is finished, so a process killed in any way, a power loss or a second writer leaves
// the old file or a whole new one under the name, never a mixture.
//
// The temporary name is "." + name + ".tessaly-" + six characters, the name cut short where
// that would pass the longest name the file system takes; the CD component's files and
// tessaly-rip's share it, so a crashed rip's leftover is cleared by the next rip of that name
// of either kind. The writer holds a lock on its temporary file until the file has its name
// or the writer is gone; an unlocked one is a crashed writer's leftover, removed when a writer
// of the same name is made. Where the file system has no locks, nothing is taken for one. A symbolic link at the name is replaced, never written through; a file the user made
// read-only is not replaced.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

// The file could not be made, or not be given its name. reason: why, in the system's words.
class OutputFileError : public std::runtime_error {
 public:
  OutputFileError(const std::string& name, std::string reason)
      : std::runtime_error(name + ": " + reason), name_(name), reason_(std::move(reason)) {}
  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string name_, reason_;
};

class OutputFile {
 public:
  // Clears the name's leftovers and makes the locked temporary file; OutputFileError when the
  // name is a folder or another kind of non-file, is read-only, or no temporary file can be made.
  explicit OutputFile(const std::string& name);
  // A file never put under its name goes.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& Folder() const { return folder_; }
  const std::string& TempName() const { return tempName_; }
  // The bytes the checked and unchecked writes stored.
  uint64_t Written() const { return written_; }
  // Why the last write or close that failed did, in the system's words.
  std::string Reason() const;

  // False when fewer bytes than asked were stored (Reason says why).
  [[nodiscard]] bool Write(const void* data, size_t n);
  // Writes without a check; what was stored counts.
  void WriteUnchecked(const void* data, size_t n);
  [[nodiscard]] bool WriteAt(off_t offset, const void* data, size_t n);

  // Flushes the file to the disk; false when what was written may not have reached it.
  [[nodiscard]] bool Sync();
  // Flushes the file to the disk and closes it (the lock stays until Place); false when what
  // was written may not have reached it.
  [[nodiscard]] bool Finish();
  // Puts the finished file under its name and makes the rename durable; OutputFileError when
  // it cannot be given it (the temporary file is then removed).
  void Place();
  // Finish, then Place whatever Finish said: a file cut short by a write error is placed too.
  [[nodiscard]] bool Close();

  // The part of a file name that its temporary name keeps, so that the temporary name fits
  // in nameMax bytes; cut at a character's boundary.
  static std::string TemporaryStem(const std::string& base, size_t nameMax);

 private:
  size_t writeSome(const void* data, size_t n);
  bool isOurTemporaryName(const char* entry) const;
  void removeLeftovers() const;
  void create();

  static constexpr size_t kSuffixLength = 6;
  static constexpr size_t kDecorationLength = 1 + 9 + kSuffixLength;  // "." stem ".tessaly-" suffix
  static constexpr uint64_t kFlushStep = 4 << 20;
  std::string name_, folder_, prefix_, tempName_;
  std::optional<UniqueFd> fd_;
  UniqueFd lock_;  // the finished file's lock, until it has its name
  uint64_t written_ = 0;
  uint64_t flushed_ = 0;  // bytes the disk was asked to start on
  int error_ = 0;         // errno of the last failed write or close
  bool placed_ = false;
};

}  // namespace platform
