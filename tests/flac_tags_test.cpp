// SPDX-License-Identifier: GPL-3.0-or-later
// The FLAC coder, the tag fields and the naming pattern on their own. FLAC files are checked
// with the reference tools (flac -d, metaflac), ID3v2 tags with python3-mutagen: programs no one
// here wrote.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "flac/FlacCoder.h"
#include "platform/output_file.h"
#include "tags/NamePattern.h"
#include "tags/TrackTags.h"
#include "audio_tools.h"

namespace {

using namespace testing_support;

// Deterministic 16-bit PCM that is neither silence nor trivially predictable.
std::string pcm(size_t frames, int channels, uint32_t seed) {
  std::string s;
  s.reserve(frames * static_cast<size_t>(channels) * 2);
  uint32_t x = seed;
  for (size_t i = 0; i < frames * static_cast<size_t>(channels); ++i) {
    x = x * 1664525u + 1013904223u;
    const int16_t v = static_cast<int16_t>(static_cast<int>((i / 7) % 2000) * 9 - 9000 + static_cast<int>(x >> 26));
    s.push_back(static_cast<char>(v & 0xff));
    s.push_back(static_cast<char>((v >> 8) & 0xff));
  }
  return s;
}

TTrackTags titled(const std::string& title) {
  TTrackTags t;
  t.Title = title;
  return t;
}

// Encodes `audio` in the given pieces into a new file under `name`.
void encodeFile(TFlacCoder& coder, const fs::path& name, const std::string& audio, int channels, uint32_t rate,
                const std::vector<size_t>& pieces, uint64_t expected) {
  platform::OutputFile file(name.string());
  ASSERT_TRUE(coder.InitStream(file, channels, rate, expected)) << coder.Problem();
  size_t pos = 0, carry = 0;
  std::string pending;
  for (size_t piece : pieces) {
    // As the CD component does: a part of a frame waits for the next piece.
    pending += audio.substr(pos, piece);
    pos += piece;
    const size_t whole = pending.size() - pending.size() % (2 * static_cast<size_t>(channels));
    ASSERT_TRUE(coder.Encode(reinterpret_cast<const uint8_t*>(pending.data()), whole)) << coder.Problem();
    pending.erase(0, whole);
    carry = pending.size();
  }
  EXPECT_EQ(carry, 0u);
  ASSERT_TRUE(coder.Finish()) << coder.Problem();
  EXPECT_FALSE(coder.StreamOpen());
  ASSERT_TRUE(file.Close());
}

TEST(FlacCoder, DecodesToTheSamplesGivenWithTheirMd5AndExactCountAtEveryLevelAndFormat) {
  TempDir tmp;
  struct Case {
    int channels;
    uint32_t rate;
    int level;
    size_t frames;
  };
  // Levels 0 and 8 at the ends of the range, the default between, the mono and lower rates
  // of the resampling formats; frame counts that are not a multiple of any block size.
  for (const Case c : {Case{2, 44100, 5, 44100 * 3 + 17}, Case{2, 44100, 0, 30001}, Case{2, 44100, 8, 30001},
                       Case{1, 44100, 5, 20011}, Case{2, 22050, 5, 12345}, Case{1, 11025, 5, 5003}}) {
    SCOPED_TRACE(std::to_string(c.channels) + " ch " + std::to_string(c.rate) + " Hz level " + std::to_string(c.level));
    const std::string audio = pcm(c.frames, c.channels, static_cast<uint32_t>(c.frames));
    TFlacCoder coder;
    coder.SetLevel(c.level);
    ASSERT_EQ(coder.Level(), c.level);
    const fs::path f = tmp / "a.flac";
    // Pieces of odd sizes: frames cut across the calls.
    std::vector<size_t> pieces;
    for (size_t left = audio.size(), p = 0; left > 0; ++p) {
      const size_t n = std::min(left, size_t{9999} + p * 1237);
      pieces.push_back(n);
      left -= n;
    }
    // The estimate is a hint: a wrong one still gives the exact count.
    encodeFile(coder, f, audio, c.channels, c.rate, pieces, c.frames + 5000);
    EXPECT_EQ(coder.FramesEncoded(), c.frames);

    EXPECT_TRUE(decodedFlac(f, tmp / "a.raw") == audio);
    EXPECT_EQ(metaflac("--show-md5sum", f), md5Of(audio, tmp / "a.pcm") + "\n");
    EXPECT_EQ(metaflac("--show-total-samples", f), std::to_string(c.frames) + "\n");
    EXPECT_EQ(metaflac("--show-channels", f), std::to_string(c.channels) + "\n");
    EXPECT_EQ(metaflac("--show-sample-rate", f), std::to_string(c.rate) + "\n");
    EXPECT_EQ(metaflac("--show-bps", f), "16\n");
    EXPECT_EQ(run("flac -s -t " + shellQuote(f.string())).exitCode, 0);
  }
}

TEST(FlacCoder, LevelsOutsideTheRangeAreIgnoredAndAHigherLevelCompressesMore) {
  TFlacCoder coder;
  EXPECT_EQ(coder.Level(), 5);
  coder.SetLevel(9);
  coder.SetLevel(-1);
  EXPECT_EQ(coder.Level(), 5);

  TempDir tmp;
  const std::string audio = pcm(44100, 2, 7);
  TFlacCoder fast, best;
  fast.SetLevel(0);
  best.SetLevel(8);
  encodeFile(fast, tmp / "0.flac", audio, 2, 44100, {audio.size()}, 44100);
  encodeFile(best, tmp / "8.flac", audio, 2, 44100, {audio.size()}, 44100);
  EXPECT_LT(fs::file_size(tmp / "8.flac"), fs::file_size(tmp / "0.flac"));
}

TEST(FlacCoder, CommentsAreWrittenAsGivenInUtf8AndAStreamLeftOpenIsFinishedOnDestruction) {
  TempDir tmp;
  const std::string audio = pcm(10000, 2, 3);
  {
    TFlacCoder coder;
    coder.Comments = {"TITLE=Καλημέρα κόσμε", "ARTIST=日本語のアーティスト", "ALBUM=Café Müller", "not a comment",
                      "=no name"};
    platform::OutputFile file((tmp / "t.flac").string());
    ASSERT_TRUE(coder.InitStream(file, 2, 44100, 10000));
    ASSERT_TRUE(coder.Encode(reinterpret_cast<const uint8_t*>(audio.data()), audio.size()));
    // Cancelled in the middle: the coder goes before Finish was called.
    {
      platform::OutputFile other((tmp / "u.flac").string());
      auto gone = std::make_unique<TFlacCoder>();
      ASSERT_TRUE(gone->InitStream(other, 2, 44100, 0));
      ASSERT_TRUE(gone->Encode(reinterpret_cast<const uint8_t*>(audio.data()), 4000));
      gone.reset();
      ASSERT_TRUE(other.Close());
    }
    ASSERT_TRUE(coder.Finish());
    ASSERT_TRUE(file.Close());
  }
  EXPECT_EQ(metaflac("--export-tags-to=-", tmp / "t.flac"),
            "TITLE=Καλημέρα κόσμε\nARTIST=日本語のアーティスト\nALBUM=Café Müller\n");
  EXPECT_EQ(metaflac("--show-total-samples", tmp / "u.flac"), "1000\n");
  EXPECT_TRUE(decodedFlac(tmp / "u.flac", tmp / "u.raw") == audio.substr(0, 4000));
}

TEST(FlacCoder, AStreamAfterAnotherStartsAtTheFilesEndAndAnUnopenedStreamRefusesWork) {
  TFlacCoder coder;
  const uint8_t two[4] = {1, 2, 3, 4};
  EXPECT_FALSE(coder.Encode(two, 4));
  EXPECT_FALSE(coder.Finish());
  EXPECT_EQ(coder.FramesEncoded(), 0u);

  // A zero-length stream (cancelled before the first chunk) is still a whole FLAC file.
  TempDir tmp;
  encodeFile(coder, tmp / "empty.flac", "", 2, 44100, {}, 588 * 75);
  EXPECT_EQ(metaflac("--show-total-samples", tmp / "empty.flac"), "0\n");
  EXPECT_EQ(run("flac -s -t " + shellQuote((tmp / "empty.flac").string())).exitCode, 0);
}

TEST(TrackTags, KnownValuesOnlyInAFixedOrderAndTitleAloneWithoutFullTags) {
  TTrackTags t;
  t.Title = " Song ";
  t.Artist = "";
  t.Album = "Album";
  t.AlbumArtist = "   ";
  t.Year = "1999";
  t.TrackNumber = 3;
  t.TrackTotal = 12;
  t.MusicBrainzAlbumId = "8f2d3f1c-0000-4000-8000-000000000001";
  EXPECT_EQ(VorbisComments(t), (std::vector<std::string>{"TITLE=Song", "ALBUM=Album", "DATE=1999", "TRACKNUMBER=3",
                                                          "TRACKTOTAL=12",
                                                          "MUSICBRAINZ_ALBUMID=8f2d3f1c-0000-4000-8000-000000000001"}));
  EXPECT_EQ(VorbisComments(t, false), (std::vector<std::string>{"TITLE=Song"}));
  // A total without a number says nothing.
  t.TrackNumber = 0;
  EXPECT_EQ(VorbisComments(t).size(), 4u);
  EXPECT_TRUE(VorbisComments(TTrackTags{}).empty());
}

TEST(TrackTags, Id3v2IsVersion4InUtf8WithTrackOfTotalAndTheMusicBrainzFrames) {
  TTrackTags t;
  t.Title = "Καλημέρα κόσμε";
  t.Artist = "日本語のアーティスト";
  t.Album = "Café Müller";
  t.AlbumArtist = "Ünïcödé Ensemble";
  t.Year = "2004";
  t.Genre = "Rock";
  t.TrackNumber = 3;
  t.TrackTotal = 12;
  t.MusicBrainzTrackId = "11111111-1111-4111-8111-111111111111";
  t.MusicBrainzAlbumId = "22222222-2222-4222-8222-222222222222";
  t.MusicBrainzArtistId = "33333333-3333-4333-8333-333333333333";
  t.MusicBrainzAlbumArtistId = "44444444-4444-4444-8444-444444444444";
  const std::vector<uint8_t> tag = RenderId3v2(t);
  ASSERT_GT(tag.size(), 10u);
  EXPECT_EQ(std::string(tag.begin(), tag.begin() + 5), std::string("ID3\x04\x00", 5));
  // The size in the header (syncsafe) covers the whole block: nothing follows it but audio.
  const size_t size = (size_t{tag[6]} << 21) | (size_t{tag[7]} << 14) | (size_t{tag[8]} << 7) | tag[9];
  EXPECT_EQ(size + 10, tag.size());

  TempDir tmp;
  writeFile(tmp / "tag.id3", std::string(tag.begin(), tag.end()));
  EXPECT_EQ(mutagenFrames(tmp / "tag.id3"),
            "v2.4\n"
            "TALB=Café Müller enc=3\n"
            "TCON=Rock enc=3\n"
            "TDRC=2004 enc=3\n"
            "TIT2=Καλημέρα κόσμε enc=3\n"
            "TPE1=日本語のアーティスト enc=3\n"
            "TPE2=Ünïcödé Ensemble enc=3\n"
            "TRCK=3/12 enc=3\n"
            "TXXX:MusicBrainz Album Artist Id=44444444-4444-4444-8444-444444444444 enc=3\n"
            "TXXX:MusicBrainz Album Id=22222222-2222-4222-8222-222222222222 enc=3\n"
            "TXXX:MusicBrainz Artist Id=33333333-3333-4333-8333-333333333333 enc=3\n"
            "UFID:http://musicbrainz.org=11111111-1111-4111-8111-111111111111\n");

  // Nothing known but the title: one frame, and still room to add more in place.
  const std::vector<uint8_t> small = RenderId3v2(titled("Only"));
  writeFile(tmp / "small.id3", std::string(small.begin(), small.end()));
  EXPECT_EQ(mutagenFrames(tmp / "small.id3"), "v2.4\nTIT2=Only enc=3\n");
  EXPECT_GE(small.size(), 1024u);
}

class NamePatternTest : public ::testing::Test {
 protected:
  std::string name(const std::string& pattern, const TTrackTags& t, const std::string& entry = "Track03") {
    return PatternOutputFileName(dir, pattern, t, entry);
  }
  std::string dir = "/music/out";
};

TEST_F(NamePatternTest, TheDefaultIsTheTitleNameOfEveryRunAndTheEntryTextWhenNothingIsLeft) {
  // The name every run gave before patterns, for titles of every kind.
  for (const std::string title : {"Track03", "Song", "  Blank Ends \t ", "Album/Disc 1/Song", "../../escape",
                                  "/abs/../x", "Ünïcödé 日本", "100% Pure", "a%title%b"}) {
    SCOPED_TRACE(title);
    EXPECT_EQ(name(kDefaultNamePattern, titled(title)), GetOutputFileName(dir, title));
  }
  EXPECT_EQ(name("%title%", titled("   ")), "/music/out/Track03.wav");
  EXPECT_EQ(name("%title%", titled("..")), "/music/out/Track03.wav");
  EXPECT_EQ(name("", titled("Song")), "/music/out/Track03.wav");
  // Blanks at the ends of every part go, not only at the title's ends.
  EXPECT_EQ(name("%title%", titled("My Song / Part 1")), "/music/out/My Song/Part 1.wav");
}

TEST_F(NamePatternTest, FieldsFoldersAndUnknownValues) {
  TTrackTags t;
  t.Title = "Intro";
  t.Artist = "AC/DC";
  t.Album = " Back in Black ";
  t.AlbumArtist = "AC/DC";
  t.Year = "1980";
  t.TrackNumber = 1;
  EXPECT_EQ(name(kAlbumNamePattern, t), "/music/out/AC-DC/Back in Black/01 Intro.wav");
  EXPECT_EQ(name("%year% - %album%/%nn%. %artist% - %title%", t), "/music/out/1980 - Back in Black/01. AC-DC - Intro.wav");
  t.TrackNumber = 12;
  EXPECT_EQ(name("%nn%", t), "/music/out/12.wav");
  t.Year = "1980-07-25";  // a release date: its year
  EXPECT_EQ(name("%year%", t), "/music/out/1980.wav");
  t.Year = "ca. 1980/81";
  EXPECT_EQ(name("%year%", t), "/music/out/ca. 1980-81.wav");

  // Unknown artist and album values in names only; an unknown year is empty.
  TTrackTags bare = titled("Intro");
  bare.TrackNumber = 7;
  EXPECT_EQ(name(kAlbumNamePattern, bare), "/music/out/Unknown Artist/Unknown Album/07 Intro.wav");
  EXPECT_EQ(name("%artist%/%year% %title%", bare), "/music/out/Unknown Artist/Intro.wav");
  // Text that is not a field stays as written.
  EXPECT_EQ(name("%nope% %title% 100%", bare), "/music/out/%nope% Intro 100%.wav");
}

TEST_F(NamePatternTest, NeverOutsideTheOutputFolderAndAFolderWithoutAFileGetsTheEntryText) {
  TTrackTags t = titled("x");
  t.Album = "..";
  t.Artist = "/etc";
  EXPECT_EQ(name("%album%/%album%/%title%", t), "/music/out/x.wav");
  EXPECT_EQ(name("/../%artist%/%title%", t), "/music/out/-etc/x.wav");
  EXPECT_EQ(name("../../%title%", t), "/music/out/x.wav");
  EXPECT_EQ(name("%album%/", titled("x")), "/music/out/Unknown Album/Track03.wav");
  EXPECT_EQ(name("%title%/", titled("x")), "/music/out/x/Track03.wav");
  EXPECT_EQ(name(" / %title% / ", titled("x")), "/music/out/x/Track03.wav");
  EXPECT_EQ(ExpandNamePattern(" a / / b ", TTrackTags{}), "a/b");
}

}  // namespace
