// SPDX-License-Identifier: GPL-3.0-or-later
// The private-profile module: reading files as other programs write them, writes that change
// only the key written, atomic replacement under kill, and two writers at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/profile.h"
#include "test_support.h"

namespace {

using namespace testing_support;
using platform::ReadProfileSection;
using platform::ReadProfileString;
using platform::WriteProfileString;

class Profile : public ::testing::Test {
 protected:
  TempDir tmp;
  fs::path ini = tmp / "x.ini";
};

TEST_F(Profile, ReadsFilesAsOtherProgramsWriteThem) {
  writeFile(ini,
            "\xEF\xBB\xBF[First]\r\n"
            "; a comment=not a key\r\n"
            "# another\r\n"
            "Name =  spaced value  \r\n"
            "line without equals\r\n"
            "\r\n"
            "name=second occurrence\r\n"
            "empty=\r\n"
            "[ Second ]\n"
            "Key=lf file\n"
            "long=" + std::string(100000, 'x') + "\n"
            "[third]\n"
            "last=no final line end");
  EXPECT_EQ(ReadProfileString(ini, "first", "NAME"), "spaced value");
  EXPECT_EQ(ReadProfileString(ini, "FIRST", "empty"), "");
  EXPECT_EQ(ReadProfileString(ini, "first", "; a comment"), std::nullopt);
  EXPECT_EQ(ReadProfileString(ini, "first", "line without equals"), std::nullopt);
  EXPECT_EQ(ReadProfileString(ini, "second", "key"), "lf file");
  EXPECT_EQ(ReadProfileString(ini, "second", "long")->size(), 100000u);
  EXPECT_EQ(ReadProfileString(ini, "Third", "last"), "no final line end");
  EXPECT_EQ(ReadProfileString(ini, "first", "key"), std::nullopt);  // other section
  EXPECT_EQ(ReadProfileString(ini, "missing", "key"), std::nullopt);
  EXPECT_EQ(ReadProfileString(tmp / "none.ini", "first", "name"), std::nullopt);

  const auto keys = ReadProfileSection(ini, "FIRST");
  ASSERT_TRUE(keys);
  ASSERT_EQ(keys->size(), 2u);  // the duplicate is read once, at its first place
  EXPECT_EQ((*keys)[0], (std::pair<std::string, std::string>{"Name", "spaced value"}));
  EXPECT_EQ((*keys)[1], (std::pair<std::string, std::string>{"empty", ""}));
  EXPECT_FALSE(ReadProfileSection(ini, "nothing"));
  writeFile(tmp / "emptysec.ini", "[a]\n[b]\nk=v\n");
  EXPECT_TRUE(ReadProfileSection(tmp / "emptysec.ini", "a")->empty());
}

TEST_F(Profile, WriteChangesOnlyTheKeyWritten) {
  const std::string before =
      "; written by another program\r\n"
      "[Other]\r\n"
      "Keep = this\r\n"
      "\r\n"
      "[Disc]\r\n"
      "Artist=Old\r\n"
      "x-other-key=kept\r\n"
      "\r\n"
      "[Tail]\r\n"
      "t=1\r\n";
  writeFile(ini, before);
  ASSERT_TRUE(WriteProfileString(ini, "disc", "artist", "New"));
  std::string want = before;
  want.replace(want.find("Artist=Old"), 10, "Artist=New");
  EXPECT_EQ(readFile(ini), want);

  // A new key goes after the section's last line, in the file's own line ends.
  ASSERT_TRUE(WriteProfileString(ini, "DISC", "0", "Intro"));
  want.insert(want.find("x-other-key=kept\r\n") + 18, "0=Intro\r\n");
  EXPECT_EQ(readFile(ini), want);

  // A new section goes at the end.
  ASSERT_TRUE(WriteProfileString(ini, "New", "k", "v"));
  EXPECT_EQ(readFile(ini), want + "[New]\r\nk=v\r\n");
}

TEST_F(Profile, WriteCreatesFileAndCopesWithAMissingFinalLineEnd) {
  ASSERT_TRUE(WriteProfileString(ini, "S", "a", "1"));
  EXPECT_EQ(readFile(ini), "[S]\na=1\n");
  writeFile(ini, "[S]\na=1");
  ASSERT_TRUE(WriteProfileString(ini, "S", "b", "2"));
  EXPECT_EQ(readFile(ini), "[S]\na=1\nb=2\n");
  writeFile(ini, "\xEF\xBB\xBF[S]\na=1\n");
  ASSERT_TRUE(WriteProfileString(ini, "s", "A", "9"));
  EXPECT_EQ(readFile(ini), "\xEF\xBB\xBF[S]\na=9\n");
  ASSERT_TRUE(WriteProfileString(ini, "s", "a", ""));  // an empty value stays a key
  EXPECT_EQ(ReadProfileString(ini, "S", "a"), "");
}

TEST_F(Profile, WritesThatCannotBeMadeChangeNothing) {
  EXPECT_FALSE(WriteProfileString(tmp / "no" / "dir.ini", "S", "a", "1"));
  writeFile(ini, "[S]\na=1\n");
  EXPECT_FALSE(WriteProfileString(ini, "S", "a", "two\nlines"));
  EXPECT_FALSE(WriteProfileString(ini, "S", "a=b", "x"));
  EXPECT_EQ(readFile(ini), "[S]\na=1\n");
  if (geteuid() != 0) {  // root writes into read-only folders
    fs::permissions(tmp.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(WriteProfileString(ini, "S", "a", "2"));
    fs::permissions(tmp.path(), fs::perms::owner_all);
    EXPECT_EQ(readFile(ini), "[S]\na=1\n");
  }
  // No temporary file is left behind.
  int files = 0;
  for (const auto& e : fs::directory_iterator(tmp.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST_F(Profile, ManyKeysAtOnceLeaveTheFileAsWritingThemOneByOne) {
  const std::vector<std::pair<std::string, std::string>> keys{
      {"artist", "A"}, {"Album", ""}, {" year ", "1999"}, {"0", "One"}, {"1", "Two"}, {"artist", "B"}, {"new", "x"}};
  const char* const texts[] = {
      "",
      "[Disc]",
      "[Disc]\n",
      "[disc]\r\nARTIST=old\r\n\r\n[next]\r\nk=v\r\n",
      "\xEF\xBB\xBF; comment\n[Other]\na=1\n[DISC]\n; inside\nyear = 1 \n\n\n[Disc]\n0=second place\n",
      "[Disc]\nartist=x\nline without equals\n[Tail]\nt=1",
      "[Disc]\nartist=x",
      "[Other]\nk=v",
      "  [ Disc ]  \n 1 = spaced \n",
  };
  int n = 0;
  for (const char* text : texts) {
    const fs::path one = tmp / ("one" + std::to_string(n) + ".ini"), all = tmp / ("all" + std::to_string(n) + ".ini");
    writeFile(one, text);
    writeFile(all, text);
    for (const auto& [k, v] : keys) ASSERT_TRUE(WriteProfileString(one, "Disc", k, v));
    ASSERT_TRUE(platform::WriteProfileStrings(all, "Disc", keys));
    EXPECT_EQ(readFile(all), readFile(one)) << "text " << n;
    ++n;
  }
}

TEST_F(Profile, ManyKeysAtOnceWriteNoneWhenOneIsRefused) {
  writeFile(ini, "[S]\na=1\n");
  EXPECT_FALSE(platform::WriteProfileStrings(ini, "S", {{"a", "2"}, {"b", "two\nlines"}, {"c", "3"}}));
  EXPECT_FALSE(platform::WriteProfileStrings(ini, "S", {{"a", "2"}, {"k=v", "x"}}));
  EXPECT_EQ(readFile(ini), "[S]\na=1\n");
}

TEST_F(Profile, AWriteKeepsPermissionBitsAndLinksAndClearsAKilledWritersLeftovers) {
  writeFile(ini, "[S]\na=1\n");
  fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(WriteProfileString(ini, "S", "a", "2"));
  EXPECT_EQ(fs::status(ini).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // A link stays a link; its target is replaced where it lies.
  fs::create_directories(tmp / "real");
  writeFile(tmp / "real" / "target.ini", "[S]\na=1\n");
  fs::create_symlink("real/target.ini", tmp / "link.ini");
  ASSERT_TRUE(WriteProfileString(tmp / "link.ini", "S", "b", "2"));
  EXPECT_TRUE(fs::is_symlink(tmp / "link.ini"));
  EXPECT_EQ(readFile(tmp / "real" / "target.ini"), "[S]\na=1\nb=2\n");
  // A dangling one makes its target.
  fs::create_symlink(tmp / "real" / "new.ini", tmp / "dangling.ini");
  ASSERT_TRUE(platform::WriteProfileStrings(tmp / "dangling.ini", "S", {{"k", "v"}}));
  EXPECT_TRUE(fs::is_symlink(tmp / "dangling.ini"));
  EXPECT_EQ(readFile(tmp / "real" / "new.ini"), "[S]\nk=v\n");

  // What a writer killed before its rename left is removed by the next; other files stay.
  writeFile(tmp / ".x.ini.Ab12Cd", "half a file");
  writeFile(tmp / ".x.ini.notmine", "someone else's");
  writeFile(tmp / ".y.ini.Ab12Cd", "another file's");
  ASSERT_TRUE(WriteProfileString(ini, "S", "a", "3"));
  EXPECT_FALSE(fs::exists(tmp / ".x.ini.Ab12Cd"));
  EXPECT_TRUE(fs::exists(tmp / ".x.ini.notmine"));
  EXPECT_TRUE(fs::exists(tmp / ".y.ini.Ab12Cd"));
}

TEST_F(Profile, AKilledWriterLeavesTheOldOrTheNewFile) {
  // A big file, so a write takes long enough to be killed in the middle of it.
  std::string body = "[S]\n";
  for (int i = 0; i < 20000; ++i) body += "key" + std::to_string(i) + "=" + std::string(40, 'v') + "\n";
  writeFile(ini, body + "counter=0\n");
  for (int round = 0; round < 15; ++round) {
    const pid_t child = fork();
    if (child == 0) {
      for (int n = 1;; ++n) WriteProfileString(ini, "S", "counter", std::to_string(n));
    }
    usleep(static_cast<useconds_t>(3000 + round * 1500));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::string now = readFile(ini);
    ASSERT_EQ(now.compare(0, body.size(), body), 0) << "round " << round;
    const auto counter = ReadProfileString(ini, "S", "counter");
    ASSERT_TRUE(counter) << "round " << round;
    EXPECT_EQ(now.size(), body.size() + 9 + counter->size());
  }
}

TEST_F(Profile, TwoProcessesWritingKeysLoseNeither) {
  writeFile(ini, "[S]\n");
  constexpr int kKeys = 40;
  pid_t kids[2];
  for (int k = 0; k < 2; ++k) {
    kids[k] = fork();
    if (kids[k] == 0) {
      bool ok = true;
      for (int i = 0; i < kKeys; ++i)
        ok = WriteProfileString(ini, "S", "p" + std::to_string(k) + "_" + std::to_string(i), "x") && ok;
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t p : kids) {
    int status = 0;
    waitpid(p, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto keys = ReadProfileSection(ini, "S");
  ASSERT_TRUE(keys);
  EXPECT_EQ(keys->size(), 2u * kKeys);
}

}  // namespace
