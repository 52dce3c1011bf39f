// SPDX-License-Identifier: GPL-3.0-or-later
// The ID3v1 tag component on real files: write, read back, replace, append, remove, the
// reading rule, the genre table, read-only files and the failure table.
#include <gtest/gtest.h>
#include <unistd.h>

#include "mp3info/MP3Info.h"
#include "test_support.h"

namespace {

using namespace testing_support;

std::string tagBlock(const std::string& title, uint8_t genre) {
  std::string b(128, ' ');
  b.replace(0, 3, "TAG");
  b.replace(3, title.size(), title);
  b[127] = static_cast<char>(genre);
  return b;
}

class MP3Info : public ::testing::Test {
 protected:
  TempDir tmp;
  std::string file(const std::string& name, const std::string& content) {
    writeFile(tmp / name, content);
    return (tmp / name).string();
  }
};

TEST_F(MP3Info, ValuesAtCreationAndTheGenreTable) {
  TMP3Info m;
  EXPECT_EQ(m.GenreID(), 12);
  EXPECT_EQ(m.Genre(), "");
  EXPECT_FALSE(m.Valid());
  EXPECT_FALSE(m.Saved());
  ASSERT_EQ(m.Genres.size(), 115u);
  EXPECT_EQ(m.Genres[0], "Blues");
  EXPECT_EQ(m.Genres[12], "Other");
  EXPECT_EQ(m.Genres[83], "Swing");
  EXPECT_EQ(m.Genres[84], "Bebob");
  EXPECT_EQ(m.Genres[114], "Folklore");
  int changes = 0;
  m.onChange = [&](TMP3Info&) { ++changes; };
  m.SetGenreID(200);
  EXPECT_EQ(m.GenreID(), 12);
  EXPECT_EQ(m.Genre(), "Other");
  m.SetTitle(std::string(40, 'a'));
  EXPECT_EQ(m.Title(), std::string(30, 'a'));
  m.SetYear("19999");
  EXPECT_EQ(m.Year(), "1999");
  m.SetArtist("Ærø Ω ünïcødé and more letters than thirty");  // characters, not bytes
  EXPECT_EQ(m.Artist(), "Ærø Ω ünïcødé and more letters");
  EXPECT_EQ(changes, 4);
}

TEST_F(MP3Info, TheTitleIsCutAtThirtyCharactersNotBytesOnTheWayToTheFile) {
  // 35 two-byte characters: a cut at 30 bytes would keep 15 of them.
  std::string title;
  for (int i = 0; i < 35; ++i) title += i % 2 ? "\xC3\xA9" : "\xC3\xBC";  // é and ü
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += i % 2 ? "\xC3\xA9" : "\xC3\xBC";
  TMP3Info m;
  m.SetTitle(title);
  EXPECT_EQ(m.Title(), thirty);
  const std::string f = file("t.mp3", std::string(500, '\x55'));
  m.SetFilename(f);
  m.SetTitle(title);
  m.Save();
  ASSERT_TRUE(m.Saved());
  // On disk: thirty ISO-8859-1 bytes, one per character.
  const std::string block = readFile(f).substr(500);
  std::string latin;
  for (int i = 0; i < 30; ++i) latin += i % 2 ? '\xE9' : '\xFC';
  EXPECT_EQ(block.substr(3, 30), latin);
  TMP3Info back;
  back.SetFilename(f);
  EXPECT_EQ(back.Title(), thirty);
}

TEST_F(MP3Info, SaveAppendsToAnUntaggedFileAndReadsBack) {
  const std::string audio(1000, '\x55');
  const std::string f = file("a.mp3", audio);
  TMP3Info m;
  std::string err;
  m.onError = [&](TMP3Info& s) { err = s.Error(); };
  m.SetFilename(f);
  EXPECT_FALSE(m.Valid());
  EXPECT_EQ(err, "Wrong file format or no ID3 Tag !");
  m.SetTitle("Track03");
  m.SetComment("Café");
  m.SetGenreID(12);
  m.Save();
  EXPECT_TRUE(m.Saved());
  const std::string now = readFile(f);
  ASSERT_EQ(now.size(), 1128u);
  EXPECT_EQ(now.substr(0, 1000), audio);
  // "TAG", the title padded to 30, spaces, the comment in ISO-8859-1, the genre byte.
  std::string want = tagBlock("Track03", 12);
  want.replace(97, 4, "Caf\xE9");
  EXPECT_EQ(now.substr(1000), want);

  TMP3Info r;
  int fileChanges = 0;
  r.onChangeFile = [&](TMP3Info&) { ++fileChanges; };
  r.SetFilename(f);
  EXPECT_TRUE(r.Valid());
  EXPECT_EQ(fileChanges, 1);
  EXPECT_EQ(r.Title(), "Track03");
  EXPECT_EQ(r.Comment(), "Café");
  EXPECT_EQ(r.Year(), "");  // four spaces read back empty
  EXPECT_EQ(r.Genre(), "Other");

  // With a tag read, Save replaces it in place.
  r.SetTitle("Renamed");
  r.Save();
  EXPECT_EQ(fs::file_size(f), 1128u);
  EXPECT_EQ(readFile(f).substr(1003, 7), "Renamed");
}

TEST_F(MP3Info, ReadingRuleStopsAtTheFirstNul) {
  std::string b = tagBlock("", 114);
  b.replace(3, 30, "Abc" + std::string(27, '\0'));
  b.replace(33, 6, "Artist");
  const std::string f = file("n.mp3", "x" + b);
  TMP3Info m;
  m.SetFilename(f);
  EXPECT_TRUE(m.Valid());
  EXPECT_EQ(m.Title(), "Abc");
  EXPECT_EQ(m.Artist(), "");
  EXPECT_EQ(m.Album(), "");
  EXPECT_EQ(m.GenreID(), 114);
  EXPECT_EQ(m.Genre(), "Folklore");
  for (uint8_t g : {uint8_t{115}, uint8_t{255}}) {
    writeFile(f, tagBlock("x", g));
    m.SetFilename(f);
    EXPECT_EQ(m.GenreID(), 12);
    EXPECT_EQ(m.Genre(), "Other");
  }
  writeFile(f, "tag" + tagBlock("x", 1).substr(3));  // case matters
  m.SetFilename(f);
  EXPECT_FALSE(m.Valid());
  EXPECT_EQ(m.Title(), "");
}

TEST_F(MP3Info, RemoveCutsTheTagOnce) {
  const std::string f = file("t.mp3", tagBlock("Only a tag", 3));
  TMP3Info m;
  std::string err;
  m.onError = [&](TMP3Info& s) { err = s.Error(); };
  m.SetFilename(f);
  ASSERT_TRUE(m.Valid());
  m.RemoveID3();
  EXPECT_FALSE(m.Valid());
  EXPECT_EQ(fs::file_size(f), 0u);
  EXPECT_EQ(m.Title(), "Only a tag");  // the texts stay
  m.RemoveID3();
  EXPECT_EQ(err, "File is already untagged !");
}

TEST_F(MP3Info, MissingAndShortFiles) {
  TMP3Info m;
  std::vector<std::string> errors;
  m.onError = [&](TMP3Info& s) { errors.push_back(s.Error()); };
  m.SetTitle("kept");
  m.SetFilename((tmp / "gone.mp3").string());
  EXPECT_FALSE(m.Valid());
  EXPECT_EQ(m.Title(), "kept");
  m.Save();
  EXPECT_FALSE(m.Saved());
  m.RemoveID3();
  EXPECT_EQ(errors, (std::vector<std::string>{"File doesn`t exist !", "File doesn`t exist or is not valid !",
                                              "File doesn`t exist !"}));

  const std::string shortFile = file("short.mp3", std::string(127, 'x'));
  errors.clear();
  int fileChanges = 0;
  m.onChangeFile = [&](TMP3Info&) { ++fileChanges; };
  EXPECT_THROW(m.SetFilename(shortFile), EInOutError);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(fileChanges, 0);
  // Not taken as tagged: a Save appends, leaving the 127 bytes whole.
  EXPECT_FALSE(m.Valid());
  m.Save();
  EXPECT_TRUE(m.Saved());
  EXPECT_EQ(readFile(shortFile).substr(0, 127), std::string(127, 'x'));
  EXPECT_EQ(fs::file_size(shortFile), 255u);
}

TEST_F(MP3Info, ReadOnlyFileIsTaggedAndStaysWritable) {
  const std::string f = file("ro.mp3", std::string(500, 'a'));
  fs::permissions(f, fs::perms::owner_read | fs::perms::group_read);
  TMP3Info m;
  m.SetFilename(f);
  m.SetTitle("RO");
  m.Save();
  EXPECT_TRUE(m.Saved());
  EXPECT_EQ(fs::file_size(f), 628u);
  EXPECT_NE(fs::status(f).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(f).permissions() & fs::perms::group_read, fs::perms::none);
}

TEST(Latin1, UnrepresentableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(ToLatin1("Ab\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z"), "Ab\xE9??z");
  EXPECT_EQ(FromLatin1("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(FirstChars("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(FirstChars("\xE2\x82", 5), "\xE2\x82");  // a cut sequence stays as it is
}

}  // namespace
