// SPDX-License-Identifier: GPL-3.0-or-later
// The output-file writer: whose temporary file is whose, names as long as the file system
// takes, and the read-only file that is not replaced, whoever runs the rip.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "platform/output_file.h"
#include "test_support.h"

namespace {

using namespace testing_support;
using platform::OutputFile;
using platform::OutputFileError;

// The hidden temporary files in dir.
int temporaries(const fs::path& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().find(".tessaly-") != std::string::npos) ++n;
  return n;
}

// Runs f in a child process; its exit status (0: every check in it held).
int inChild(const std::function<int()>& f) {
  const pid_t pid = fork();
  if (pid == 0) _exit(f());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(OutputFile, ATemporaryFileIsItsWritersUntilItHasItsNameOrTheWriterIsGone) {
  TempDir tmp;
  const std::string name = (tmp / "X.mp3").string();
  // A finished file waiting for its turn, and a second writer of the name in this process and
  // in another: neither takes the first for a crash leftover.
  auto first = std::make_unique<OutputFile>(name);
  ASSERT_TRUE(first->Write("first", 5));
  ASSERT_TRUE(first->Finish());
  OutputFile second(name);
  EXPECT_EQ(inChild([&] {
              OutputFile third(name);
              return fs::exists(first->TempName()) ? 0 : 1;
            }),
            0);
  ASSERT_TRUE(fs::exists(first->TempName()));
  first->Place();
  EXPECT_EQ(readFile(name), "first");
  ASSERT_TRUE(second.Write("second", 6));
  ASSERT_TRUE(second.Close());
  EXPECT_EQ(readFile(name), "second");
  EXPECT_EQ(temporaries(tmp.path()), 0);  // the other process's went with it

  // A writer killed before it placed its file leaves it unlocked: the next writer clears it.
  EXPECT_EQ(inChild([&] {
              OutputFile killed(name);
              (void)killed.Write("torn", 4);
              ::kill(::getpid(), SIGKILL);
              return 0;
            }),
            128 + SIGKILL);
  EXPECT_EQ(temporaries(tmp.path()), 1);
  OutputFile next(name);
  EXPECT_EQ(temporaries(tmp.path()), 1);  // its own alone
}

TEST(OutputFile, EveryLegalNameCanBeWritten) {
  TempDir tmp;
  // One-byte and two-byte characters, up to the 255 bytes a name may have.
  for (const std::string unit : {"a", "\xc3\xa9"}) {
    for (size_t bytes : {200u, 239u, 240u, 248u, 254u, 255u}) {
      std::string base;
      while (base.size() + unit.size() + 4 <= bytes) base += unit;
      base += ".mp3";
      const fs::path path = tmp / base;
      {
        OutputFile f(path.string());
        EXPECT_LE(fs::path(f.TempName()).filename().string().size(), 255u) << bytes;
        ASSERT_TRUE(f.Write("data", 4)) << bytes;
        ASSERT_TRUE(f.Close()) << bytes;
      }
      EXPECT_EQ(readFile(path), "data") << bytes;
      EXPECT_EQ(temporaries(tmp.path()), 0) << bytes;
      fs::remove(path);
    }
  }
  // A stem cut short is cut between characters, never inside one.
  EXPECT_EQ(OutputFile::TemporaryStem("ab\xc3\xa9z", 16 + 3), "ab");
  EXPECT_EQ(OutputFile::TemporaryStem("ab\xc3\xa9z", 16 + 4), "ab\xc3\xa9");
  EXPECT_EQ(OutputFile::TemporaryStem("short", 255), "short");
}

TEST(OutputFile, AReadOnlyFileIsNotReplacedWhoeverRips) {
  TempDir tmp;
  const fs::path path = tmp / "kept.mp3";
  writeFile(path, "kept");
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  // Root may write any file: the refusal does not rest on what the user may write.
  try {
    OutputFile f(path.string());
    ADD_FAILURE() << "a read-only file was taken";
  } catch (const OutputFileError& e) {
    EXPECT_EQ(e.reason(), std::strerror(EACCES));
  }
  EXPECT_EQ(readFile(path), "kept");
  EXPECT_EQ(temporaries(tmp.path()), 0);

  // Another user's writable file is refused to a user who may not write it.
  if (geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const fs::path open = tmp / "open";
    fs::create_directories(open);
    fs::permissions(tmp.path(), fs::perms::all);
    fs::permissions(open, fs::perms::all);
    writeFile(open / "root.mp3", "root's");  // rw-r--r--, root's
    EXPECT_EQ(inChild([&] {
                if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return 2;
                try {
                  OutputFile f((open / "root.mp3").string());
                  return 1;
                } catch (const OutputFileError& e) {
                  return e.reason() == std::strerror(EACCES) ? 0 : 3;
                }
              }),
              0);
    EXPECT_EQ(readFile(open / "root.mp3"), "root's");
    EXPECT_EQ(temporaries(open), 0);
  }
}

}  // namespace
