// SPDX-License-Identifier: GPL-3.0-or-later
// Settings file and album-information file, with the user's folders redirected to a
// temporary place.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <vector>

#include "app/globals.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "test_support.h"

namespace {

using namespace testing_support;

class WithHome : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HOME", (tmp / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tmp / "config").c_str(), 1);
    unsetenv("XDG_MUSIC_DIR");
    Settings = StartupSettings();
  }
  TempDir tmp;
};

using SettingsFile = WithHome;

TEST_F(SettingsFile, FirstRunWritesTheStartUpValues) {
  EXPECT_FALSE(LoadSettings());
  const fs::path file = tmp / "config" / "tessaly" / "tessaly.ini";
  EXPECT_EQ(SettingsFileName(), file);
  EXPECT_EQ(readFile(file),
            "[System]\nOutDir=" + (tmp / "home" / "Music").string() +
                "\nOpenWhenDone=1\n"
                "[MP3]\nSampleRates=44100\nBitRates=128\nMaxBitRates=320\nMode=0\nQuality=0\n"
                "EnableVBR=1\nWriteVBRHeader=1\nVBRQuality=5\nCopyRight=0\nOriginal=0\nCRC=1\nbPrivate=0\n");
  EXPECT_EQ(Settings.EnableVBR, -1);
  EXPECT_TRUE(Settings.AskOverwrite);
  EXPECT_TRUE(LoadSettings());
}

TEST_F(SettingsFile, HandEditedValuesLoadByTheConventions) {
  fs::create_directories(tmp / "config" / "tessaly");
  writeFile(SettingsFileName(),
            "[system]\r\noutdir = /srv/music/ \r\nOpenWhenDone=0\r\n"
            "[mp3]\r\nBitRates=0x80\r\nMaxBitRates=abc\r\nSampleRates=-22050\r\nMode=7\r\n"
            "Quality=0X\r\nCRC=2\r\nOriginal=0x0\r\nbPrivate= 1\r\nCopyRight=yes\r\nVBRQuality=0xFFFFFFFF\r\n");
  Settings.AskOverwrite = false;
  ASSERT_TRUE(LoadSettings());
  EXPECT_EQ(Settings.OutDir, "/srv/music/");
  EXPECT_FALSE(Settings.OpenWhenDone);
  EXPECT_EQ(Settings.BitRates, 128);
  EXPECT_EQ(Settings.MaxBitRates, 320);     // not an integer: the default
  EXPECT_EQ(Settings.SampleRates, -22050);  // nothing is validated
  EXPECT_EQ(Settings.Mode, 7);
  EXPECT_EQ(Settings.Quality, 0);
  EXPECT_EQ(Settings.CRC, -1);
  EXPECT_EQ(Settings.Original, 0);
  EXPECT_EQ(Settings.bPrivate, -1);
  EXPECT_EQ(Settings.CopyRight, 0);
  EXPECT_EQ(Settings.VBRQuality, -1);
  EXPECT_EQ(Settings.EnableVBR, 0);  // missing keys: false, unlike a first run
  EXPECT_EQ(Settings.WriteVBRHeader, 0);
  EXPECT_FALSE(Settings.AskOverwrite);  // not stored, not touched
  SaveSettings();
  EXPECT_EQ(platform::ReadProfileString(SettingsFileName(), "MP3", "CRC"), "1");
  EXPECT_EQ(platform::ReadProfileString(SettingsFileName(), "MP3", "BitRates"), "128");
}

TEST_F(SettingsFile, IntegerConventions) {
  EXPECT_EQ(IniTextToInt("42", 1), 42);
  EXPECT_EQ(IniTextToInt("-42", 1), -42);
  EXPECT_EQ(IniTextToInt("0x1f", 1), 31);
  EXPECT_EQ(IniTextToInt("0x", 1), 1);
  EXPECT_EQ(IniTextToInt("0x-1", 1), 1);
  EXPECT_EQ(IniTextToInt("12abc", 1), 1);
  EXPECT_EQ(IniTextToInt("99999999999", 1), 1);
  EXPECT_EQ(IniTextToInt("", 1), 1);
}

TEST_F(SettingsFile, MusicFolderFromTheUserDirsFile) {
  fs::create_directories(tmp / "config");
  writeFile(tmp / "config" / "user-dirs.dirs", "# comment\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
  EXPECT_EQ(platform::MusicDir(), tmp / "home" / "Tunes");
  EXPECT_EQ(StartupSettings().OutDir, (tmp / "home" / "Tunes").string());
}

TEST_F(SettingsFile, AnUnwritableFileRaisesWithItsName) {
  // A file where the settings folder should be: no write can succeed, even as root.
  fs::create_directories(tmp / "config");
  writeFile(tmp / "config" / "tessaly", "not a folder");
  try {
    SaveSettings();
    FAIL() << "expected EIniFileException";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + SettingsFileName().string());
  }
}

// Runs `body` in a child process as an unprivileged user when the tests run as root (whose
// writes no permission bit stops), with the file-size limit given (-1: unchanged); the child's
// exit status is the number of failed checks, 100 when it could not drop its rights.
int inChild(const std::function<int()>& body, long fileSizeLimit = -1) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    if (fileSizeLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (geteuid() == 0 && fileSizeLimit < 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(SettingsFile, AFolderThatCannotBeWrittenKeepsTheStartUpValuesAndTellsWhy) {
  // XDG_CONFIG_HOME below a file.
  writeFile(tmp / "plain", "x");
  setenv("XDG_CONFIG_HOME", (tmp / "plain" / "config").c_str(), 1);
  EXPECT_EQ(SettingsSaveProblem(), "Not a directory");
  try {
    LoadSettings();
    FAIL() << "expected EIniFileException";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Reason, "Not a directory");
  }
  EXPECT_EQ(Settings.EnableVBR, -1);  // the start-up values, not the missing keys' defaults
  EXPECT_EQ(Settings.OutDir, (tmp / "home" / "Music").string());

  // A read-only configuration folder, as a user whom its bits stop.
  fs::create_directories(tmp / "ro");
  fs::permissions(tmp.path(), fs::perms::all, fs::perm_options::add);
  fs::permissions(tmp / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                  fs::perms::others_exec | fs::perms::group_read | fs::perms::group_exec);
  setenv("XDG_CONFIG_HOME", (tmp / "ro").c_str(), 1);
  const int failures = inChild([&] {
    int bad = SettingsSaveProblem() == "Permission denied" ? 0 : 1;
    try {
      LoadSettings();
      ++bad;
    } catch (const EIniFileException& e) {
      bad += e.Reason == "Permission denied" ? 0 : 1;
    }
    return bad + (fs::exists(tmp / "ro" / "tessaly") ? 1 : 0);
  });
  EXPECT_EQ(failures, 0);

  // An existing file that cannot be replaced is told at start, before anything is lost.
  setenv("XDG_CONFIG_HOME", (tmp / "config").c_str(), 1);
  EXPECT_FALSE(LoadSettings());
  EXPECT_EQ(SettingsSaveProblem(), "");
  fs::permissions(SettingsFileName().parent_path(), fs::perms::owner_read | fs::perms::owner_exec |
                                                        fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(SettingsFileName(), fs::perms::owner_read | fs::perms::others_read);
  EXPECT_EQ(inChild([] { return SettingsSaveProblem() == "Permission denied" ? 0 : 1; }), 0);
}

TEST_F(SettingsFile, AFullDiskLeavesNoEmptyFileThatWouldReadAsValues) {
  // A file-size limit of 0 makes the first byte fail, as a full disk does: the file the write
  // created must go again, or the next start would read it and lose the start-up values.
  const int failures = inChild(
      [] {
        try {
          LoadSettings();
          return 1;
        } catch (const EIniFileException& e) {
          return e.Reason == "File too large" ? 0 : 2;
        }
      },
      0);
  EXPECT_EQ(failures, 0);
  EXPECT_FALSE(fs::exists(SettingsFileName()));
  EXPECT_TRUE(fs::is_empty(SettingsFileName().parent_path()));  // no temporary file either
  EXPECT_FALSE(LoadSettings());  // a first run again
}

using MoreSettingsFile = WithHome;

TEST_F(MoreSettingsFile, AFirstRunKeepsTheDefaultsAndWritesOnlyTheMp3Record) {
  MoreSettings = TMoreSettings{};
  ASSERT_FALSE(LoadSettings());
  const std::string first = readFile(SettingsFileName());
  for (const char* absent : {"[FLAC]", "[Tags]", "[Lookup]", "[Drive]", "NamePattern", "Jobs", "RipLog"})
    EXPECT_EQ(first.find(absent), std::string::npos) << absent;
  ASSERT_TRUE(LoadSettings());
  const TMoreSettings& m = MoreSettings;
  EXPECT_EQ(m.FlacLevel, 5);
  EXPECT_TRUE(m.FullTags);
  EXPECT_EQ(m.NamePattern, "%title%");
  EXPECT_EQ(m.Jobs, 0);
  EXPECT_TRUE(m.RipLog);
  EXPECT_TRUE(m.LookupAutomatic);
  EXPECT_EQ(m.ReadOffset, 0);
  EXPECT_EQ(m.Retries, 20);
  SaveSettings();
  EXPECT_EQ(readFile(SettingsFileName()), first);  // defaults still write nothing new

  // A changed value is written, and stays written when it goes back to its default.
  MoreSettings.Jobs = 3;
  MoreSettings.NamePattern = "%albumartist%/%album%/%nn% %title%";
  SaveSettings();
  MoreSettings = TMoreSettings{};
  LoadSettings();
  EXPECT_EQ(MoreSettings.Jobs, 3);
  EXPECT_EQ(MoreSettings.NamePattern, "%albumartist%/%album%/%nn% %title%");
  MoreSettings.Jobs = 0;
  SaveSettings();
  EXPECT_EQ(platform::ReadProfileString(SettingsFileName(), "System", "Jobs"), "0");
}

TEST_F(MoreSettingsFile, OutOfRangeOrMalformedValuesReadAsTheDefault) {
  fs::create_directories(SettingsFileName().parent_path());
  struct Case {
    const char *section, *key, *value;
    std::function<bool()> isDefault;
  };
  const std::vector<Case> cases = {
      {"FLAC", "Level", "9", [] { return MoreSettings.FlacLevel == 5; }},
      {"FLAC", "Level", "-1", [] { return MoreSettings.FlacLevel == 5; }},
      {"FLAC", "Level", "fast", [] { return MoreSettings.FlacLevel == 5; }},
      {"System", "Jobs", "-2", [] { return MoreSettings.Jobs == 0; }},
      {"System", "Jobs", "257", [] { return MoreSettings.Jobs == 0; }},
      {"Drive", "ReadOffset", "100001", [] { return MoreSettings.ReadOffset == 0; }},
      {"Drive", "ReadOffset", "-100001", [] { return MoreSettings.ReadOffset == 0; }},
      {"Drive", "Retries", "1001", [] { return MoreSettings.Retries == 20; }},
      {"Tags", "Full", "yes", [] { return MoreSettings.FullTags; }},
      {"System", "RipLog", "", [] { return MoreSettings.RipLog; }},
      {"System", "NamePattern", "", [] { return MoreSettings.NamePattern == "%title%"; }},
  };
  for (const Case& c : cases) {
    writeFile(SettingsFileName(), std::string("[") + c.section + "]\n" + c.key + "=" + c.value + "\n");
    MoreSettings = TMoreSettings{};
    MoreSettings.FlacLevel = 7, MoreSettings.Jobs = 7, MoreSettings.ReadOffset = 7, MoreSettings.Retries = 7;
    MoreSettings.FullTags = false, MoreSettings.RipLog = false, MoreSettings.NamePattern = "x";
    ASSERT_TRUE(LoadSettings());
    EXPECT_TRUE(c.isDefault()) << c.section << "/" << c.key << "=" << c.value;
  }
  // The ends of the ranges are values.
  writeFile(SettingsFileName(),
            "[FLAC]\nLevel=8\n[System]\nJobs=256\nRipLog=0\n[Drive]\nReadOffset=-100000\nRetries=0\n"
            "[Tags]\nFull=0\n[Lookup]\nAutomatic=0\n");
  LoadSettings();
  EXPECT_EQ(MoreSettings.FlacLevel, 8);
  EXPECT_EQ(MoreSettings.Jobs, 256);
  EXPECT_FALSE(MoreSettings.RipLog);
  EXPECT_EQ(MoreSettings.ReadOffset, -100000);
  EXPECT_EQ(MoreSettings.Retries, 0);
  EXPECT_FALSE(MoreSettings.FullTags);
  EXPECT_FALSE(MoreSettings.LookupAutomatic);
  MoreSettings = TMoreSettings{};
}

TEST_F(MoreSettingsFile, ServersFromTheEnvironmentFirstAndOffsetsPerDrive) {
  fs::create_directories(SettingsFileName().parent_path());
  writeFile(SettingsFileName(),
            "[Lookup]\nServer=http://mb.example/\nAccurateRip=http://ar.example\n"
            "[Drive]\nReadOffset=6\n[Drive HL-DT-ST DVDRAM GH24NSD1]\nReadOffset=+667\n"
            "[Drive BAD]\nReadOffset=999999\n");
  unsetenv("TESSALY_MUSICBRAINZ_URL");
  unsetenv("TESSALY_ACCURATERIP_URL");
  LoadSettings();
  EXPECT_EQ(MusicBrainzServer(), "http://mb.example");
  EXPECT_EQ(AccurateRipServer(), "http://ar.example");
  setenv("TESSALY_MUSICBRAINZ_URL", "http://127.0.0.1:5000//", 1);
  setenv("TESSALY_ACCURATERIP_URL", "http://127.0.0.1:5001", 1);
  EXPECT_EQ(MusicBrainzServer(), "http://127.0.0.1:5000");
  EXPECT_EQ(AccurateRipServer(), "http://127.0.0.1:5001");
  setenv("TESSALY_MUSICBRAINZ_URL", "", 1);  // empty: not set
  EXPECT_EQ(MusicBrainzServer(), "http://mb.example");
  unsetenv("TESSALY_MUSICBRAINZ_URL");
  unsetenv("TESSALY_ACCURATERIP_URL");

  EXPECT_EQ(DriveReadOffset("HL-DT-ST DVDRAM GH24NSD1"), 667);
  EXPECT_EQ(DriveReadOffset("hl-dt-st dvdram gh24nsd1"), 667);  // section names ignore case
  EXPECT_EQ(DriveReadOffset("OTHER DRIVE"), 6);                   // the general value
  EXPECT_EQ(DriveReadOffset("BAD"), 6);                           // out of range: not taken
  EXPECT_EQ(DriveReadOffset(""), 6);
  EXPECT_TRUE(DriveReadOffsetKnown("HL-DT-ST DVDRAM GH24NSD1"));
  EXPECT_TRUE(DriveReadOffsetKnown("OTHER DRIVE"));
  writeFile(SettingsFileName(), "[Drive X]\nReadOffset=0\n");
  LoadSettings();
  EXPECT_TRUE(DriveReadOffsetKnown("X"));  // set to 0 on purpose
  EXPECT_FALSE(DriveReadOffsetKnown("Y"));
  EXPECT_EQ(DriveReadOffset("Y"), 0);
  MoreSettings = TMoreSettings{};
}

TEST(HomeFolder, FromHomeElseThePasswordDatabaseNeverTheRoot) {
  EXPECT_EQ(platform::HomeFrom("/home/ann", "/home/bob"), fs::path("/home/ann"));
  EXPECT_EQ(platform::HomeFrom(nullptr, "/home/bob"), fs::path("/home/bob"));
  EXPECT_EQ(platform::HomeFrom("relative/home", "/home/bob"), fs::path("/home/bob"));
  EXPECT_EQ(platform::HomeFrom("/", "/home/bob"), fs::path("/home/bob"));
  EXPECT_EQ(platform::HomeFrom(nullptr, "/"), fs::path());
  EXPECT_EQ(platform::HomeFrom("//", nullptr), fs::path());
  EXPECT_EQ(platform::HomeFrom(nullptr, nullptr), fs::path());

  // HOME unset: the user's entry in the password database, not "/".
  const std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
  unsetenv("HOME");
  unsetenv("XDG_CONFIG_HOME");
  const passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  const fs::path home = platform::HomeFrom(nullptr, pw->pw_dir);
  EXPECT_EQ(platform::HomeDir(), home);
  EXPECT_EQ(platform::ConfigDir(), home.empty() ? fs::path() : home / ".config" / "tessaly");
  EXPECT_NE(platform::ConfigDir(), fs::path("/.config/tessaly"));
  EXPECT_NE(platform::MusicDir(), fs::path("/Music"));
  setenv("HOME", saved.c_str(), 1);
}

TEST(IntToStr2, PadsToTwoDigits) {
  EXPECT_EQ(IntToStr2(0), "00");
  EXPECT_EQ(IntToStr2(5), "05");
  EXPECT_EQ(IntToStr2(12), "12");
  EXPECT_EQ(IntToStr2(100), "100");
}

using CDInfo = WithHome;

TEST_F(CDInfo, NoFileOrNoSectionGivesDefaultsAndNoNames) {
  std::string artist = "x", title = "x", year = "x", genre = "x";
  std::vector<std::string> names{"stale"};
  EXPECT_TRUE(ReadCDInfo("00ABCDEF", artist, title, year, genre, names));
  EXPECT_TRUE(names.empty());
  // Nothing read: the defaults apply to what the caller passed in only when it is blank.
  EXPECT_EQ(title, "x");
  std::string a, t, y, g;
  EXPECT_TRUE(ReadCDInfo("00ABCDEF", a, t, y, g, names));
  EXPECT_EQ(t, "No Title");
  EXPECT_EQ(a, "No Artist");
  EXPECT_EQ(g, "Other");
  EXPECT_EQ(y, "");
}

TEST_F(CDInfo, SaveThenReadGivesTheTitlesBack) {
  const std::vector<std::string> names{"Intro", "Song Two", "Finale"};
  ASSERT_TRUE(WriteCDInfo("031800", "", "", "", "", &names));
  std::string a, t, y, g;
  std::vector<std::string> back;
  ASSERT_TRUE(ReadCDInfo("031800", a, t, y, g, back));
  EXPECT_EQ(back, names);
  EXPECT_EQ(t, "No Title");  // "album" is not what the reader takes as the title
}

TEST_F(CDInfo, EveryTrackKeyIsReadEvenAfterAnEmptiedTitle) {
  // The user emptied the second title before saving: the section then has fewer entries
  // with values than the disc has tracks, and the last name must still come back.
  const std::vector<std::string> names{"One", "", "Three"};
  ASSERT_TRUE(WriteCDInfo("0A0B0C", "", "", "", "", &names));
  std::string a, t, y, g;
  std::vector<std::string> back;
  ASSERT_TRUE(ReadCDInfo("0A0B0C", a, t, y, g, back));
  EXPECT_EQ(back, names);
}

TEST_F(CDInfo, ReadsSectionsOfOtherProgramsWithoutRegardToCase) {
  fs::create_directories(CDPlayerIniPath().parent_path());
  writeFile(CDPlayerIniPath(),
            "[other]\r\n0=Not this\r\n"
            "[0a0b0c]\r\nTitle=Album\r\nARTIST=Band\r\nnumtracks=4\r\n0=First\r\n3=Fourth\r\n2=\r\n"
            "007=not a track key\r\nyear=1999\r\n");
  std::string a, t, y, g;
  std::vector<std::string> back;
  ASSERT_TRUE(ReadCDInfo("0A0B0C", a, t, y, g, back));
  EXPECT_EQ(t, "Album");
  EXPECT_EQ(a, "Band");
  EXPECT_EQ(y, "1999");
  EXPECT_EQ(g, "Other");
  EXPECT_EQ(back, (std::vector<std::string>{"First", "", "", "Fourth"}));
}

TEST_F(CDInfo, SavingKeepsEverythingElseByteForByte) {
  fs::create_directories(CDPlayerIniPath().parent_path());
  const std::string before =
      "; cdplayer.ini of another player\r\n"
      "[00B1C2]\r\n0=Someone else's disc\r\n\r\n"
      "[031800]\r\ntitle=The Album\r\nartist=The Band\r\nyear=1987\r\ngenre=Rock\r\nnumtracks=2\r\n"
      "0=Old One\r\n\r\n"
      "[zzz]\r\nk=v\r\n";
  writeFile(CDPlayerIniPath(), before);
  const TStoredAlbum album = ReadStoredAlbum("031800");
  EXPECT_EQ(album.Album, "The Album");
  const std::vector<std::string> names{"New One", "New Two"};
  ASSERT_TRUE(WriteCDInfo("031800", album.Artist, album.Album, album.Year, album.Genre, &names));
  const std::string now = readFile(CDPlayerIniPath());
  EXPECT_EQ(now.substr(0, now.find("[031800]")), before.substr(0, before.find("[031800]")));
  EXPECT_EQ(now.substr(now.find("[zzz]")), "[zzz]\r\nk=v\r\n");
  const auto keys = platform::ReadProfileSection(CDPlayerIniPath(), "031800");
  ASSERT_TRUE(keys);
  std::vector<std::string> order;
  for (const auto& k : *keys) order.push_back(k.first + "=" + k.second);
  EXPECT_EQ(order, (std::vector<std::string>{"title=The Album", "artist=The Band", "year=1987", "genre=Rock",
                                             "numtracks=2", "0=New One", "album=The Album", "1=New Two"}));
}

TEST_F(CDInfo, ANameThatCannotBeWrittenWritesNothing) {
  const std::vector<std::string> good{"One", "Two"};
  ASSERT_TRUE(WriteCDInfo("031800", "Band", "Album", "1987", "Rock", &good));
  const std::string before = readFile(CDPlayerIniPath());
  const std::vector<std::string> bad{"New One", "two\nlines", "New Three"};
  EXPECT_FALSE(WriteCDInfo("031800", "Other Band", "", "", "", &bad));
  EXPECT_EQ(readFile(CDPlayerIniPath()), before);
}

TEST_F(CDInfo, NinetyNineNamesIntoAFiveMegabyteFileWellUnderASecond) {
  fs::create_directories(CDPlayerIniPath().parent_path());
  std::string big;
  for (int disc = 0; big.size() < 5u << 20; ++disc) {
    big += "[" + std::to_string(100000 + disc) + "]\nartist=Someone\n";
    for (int t = 0; t < 12; ++t) big += std::to_string(t) + "=A title of some length, track " + std::to_string(t) + "\n";
  }
  writeFile(CDPlayerIniPath(), big + "[031800]\nartist=Band\n");
  std::vector<std::string> names;
  for (int i = 0; i < 99; ++i) names.push_back("Track name " + std::to_string(i));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WriteCDInfo("031800", "Band", "Album", "", "", &names));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 0.5);
  std::string a, t, y, g;
  std::vector<std::string> back;
  ASSERT_TRUE(ReadCDInfo("031800", a, t, y, g, back));
  EXPECT_EQ(back, names);
  EXPECT_EQ(readFile(CDPlayerIniPath()).compare(0, big.size(), big), 0);
}

TEST_F(CDInfo, AFailedWriteIsReportedAsFalse) {
  fs::create_directories(tmp / "config");
  writeFile(tmp / "config" / "tessaly", "a file where the folder should be");
  EXPECT_FALSE(WriteCDInfo("031800", "a", "b", "c", "d", nullptr));
}

}  // namespace

namespace {

using OutputNames = WithHome;

TEST_F(OutputNames, ABlankOutputFolderIsTheMusicFolderNeverTheRoot) {
  const std::string music = (tmp / "home" / "Music").string();
  for (const char* blank : {"", " ", "\t", " \t\r\n "})
    EXPECT_EQ(GetOutputFileName(blank, "Track01"), music + "/Track01.wav") << "'" << blank << "'";
  setenv("XDG_MUSIC_DIR", (tmp / "tunes").c_str(), 1);
  EXPECT_EQ(GetOutputFileName(" ", "a/b"), (tmp / "tunes").string() + "/a/b.wav");
  // A folder given keeps its own name, with or without its final "/".
  EXPECT_EQ(GetOutputFileName("/srv/music", "x"), "/srv/music/x.wav");
  EXPECT_EQ(GetOutputFileName(" /srv/music/ ", "x"), "/srv/music/x.wav");
  EXPECT_EQ(GetOutputFileName("/", "x"), "/x.wav");  // the root only when asked for
}

TEST_F(OutputNames, ATitleNeverLeavesTheOutputFolder) {
  struct Case {
    const char* title;
    const char* name;
  };
  for (const Case c : {Case{"..", ".wav"}, Case{"../x", "x.wav"}, Case{"../../etc/passwd", "etc/passwd.wav"},
                       Case{"a/../../b", "a/b.wav"}, Case{"/abs/olute", "abs/olute.wav"},
                       Case{"./a/./b", "a/b.wav"}, Case{"a//b/", "a/b.wav"}, Case{"...", "....wav"},
                       Case{"..a/b..", "..a/b...wav"}, Case{"Live at ../Wembley", "Live at ../Wembley.wav"}}) {
    const std::string name = GetOutputFileName("/out", c.title);
    EXPECT_EQ(name, std::string("/out/") + c.name) << c.title;
    // Whatever the title, the name's parts hold no way up.
    for (size_t pos = 0; pos < name.size();) {
      const size_t slash = std::min(name.find('/', pos), name.size());
      EXPECT_NE(name.substr(pos, slash - pos), "..") << c.title;
      pos = slash + 1;
    }
  }
}

}  // namespace
