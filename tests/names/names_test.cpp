// The names of a disc without the network: the MusicBrainz disc ID against the service's own
// example, CD-Text from images (cue, cdrdao TOC) and from binary packs through libcdio's
// parser, the repair of double-encoded texts, the reading of MusicBrainz answers, and the
// order of sources with cdplayer.ini first.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/globals.h"
#include "cdrip/CdRip_dll.h"
#include "cdrip/CdText.h"
#include "names/CdTextNames.h"
#include "names/DiscId.h"
#include "names/MusicBrainz.h"
#include "names/Resolve.h"

namespace fs = std::filesystem;
using namespace names;

namespace {

const std::string kDocId = "49HHV7Eb8UKF3aQiNmu1GR8vKTY-";

// MusicBrainz's documented example: six tracks, offsets with the lead-in, lead-out 95462.
TDiscLayout documentedDisc() {
  TDiscLayout d;
  const int offsets[] = {150, 15363, 32314, 46592, 63414, 80489};
  for (int i = 0; i < 6; ++i) d.tracks.push_back({i + 1, static_cast<uint32_t>(offsets[i] - 150), true});
  d.leadOut = 95462 - 150;
  d.iniKey = "DOCEXAMPLE";
  return d;
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string answer(const std::string& kase, const std::string& id) {
  return readFile(fs::path(ANSWERS_DIR) / kase / "ws/2/discid" / id);
}

class Folder {
 public:
  Folder() {
    char tmpl[] = "/tmp/tessaly-names-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ / name, std::ios::binary) << text;
    return path_ / name;
  }

 private:
  fs::path path_;
};

}  // namespace

// --- the disc ID -----------------------------------------------------------------------------

TEST(DiscId, DocumentedExampleGivesTheDocumentedId) {
  const TMbDisc d = DiscIdOf(documentedDisc());
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.id, kDocId);
  EXPECT_EQ(d.toc, "1+6+95462+150+15363+32314+46592+63414+80489");
  EXPECT_NE(d.submissionUrl.find("id=" + kDocId), std::string::npos) << d.submissionUrl;
  const int offsets[] = {95462, 150, 15363, 32314, 46592, 63414, 80489};
  EXPECT_EQ(DiscIdFromOffsets(1, 6, offsets).id, kDocId);
}

TEST(DiscId, EnhancedCdLeavesOutItsDataTrack) {
  // The documented disc with a data session after it: the audio part keeps the documented ID.
  TDiscLayout d = documentedDisc();
  d.tracks.push_back({7, 95312 + 11400, false});
  d.leadOut = 95312 + 11400 + 20000;
  const TMbDisc m = DiscIdOf(d);
  EXPECT_EQ(m.id, kDocId);
  EXPECT_EQ(m.rows.size(), 6u);
  // A disc image that puts the data track right after the audio: the lead-out is its start.
  TDiscLayout img;
  img.tracks = {{1, 0, true}, {2, 2400, true}, {3, 9000, false}};
  img.leadOut = 9750;
  EXPECT_EQ(DiscIdOf(img).toc, "1+2+9150+150+2550");
  // A data track first (mixed mode) is counted, as the TOC has it.
  TDiscLayout mixed;
  mixed.tracks = {{1, 0, false}, {2, 5000, true}};
  mixed.leadOut = 9000;
  EXPECT_EQ(DiscIdOf(mixed).toc, "1+2+9150+150+5150");
}

// --- CD-Text -----------------------------------------------------------------------------------

TEST(CdTextRepair, DoubleEncodedUtf8IsUndoneAndRealLatin1Kept) {
  // "Ü" in a UTF-8 cue comes back from libcdio as "Ã" + U+009C.
  EXPECT_EQ(RepairCdText("\xC3\x83\xC2\x9C" "ber"), "\xC3\x9C" "ber");
  EXPECT_EQ(RepairCdText("\xC3\x8E\xC2\xA9"), "\xCE\xA9");  // Greek capital omega
  // A Latin-1 "Café", decoded right by libcdio: the round trip is not UTF-8, so it stays.
  EXPECT_EQ(RepairCdText("Caf\xC3\xA9"), "Caf\xC3\xA9");
  // Characters beyond Latin-1 cannot be a double encoding.
  EXPECT_EQ(RepairCdText("\xE3\x82\xAE"), "\xE3\x82\xAE");
  // Bytes that are not UTF-8 at all are Latin-1.
  EXPECT_EQ(RepairCdText("Caf\xE9"), "Caf\xC3\xA9");
  EXPECT_EQ(RepairCdText("Plain"), "Plain");
  EXPECT_FALSE(IsUtf8("\xC3"));
  EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_TRUE(IsUtf8("\xF0\x9F\x8E\xB5"));
}

class CdTextImages : public ::testing::Test {
 protected:
  void SetUp() override { CR_DeInit(); }
  void TearDown() override { CR_DeInit(); }

  // The CD-Text of one image, read as a drive; the layout of its TOC.
  TCdTextInfo read(const fs::path& image, TDiscLayout* layout = nullptr) {
    EXPECT_EQ(CR_AddDrive(image.c_str()), CDEX_OK) << image;
    CR_Init();
    EXPECT_EQ(CR_SetActiveCDROM(CR_GetNumCDROM() - 1), CDEX_OK);
    EXPECT_NE(CR_ReadToc(), CDEX_ERROR);
    const int entries = CR_GetNumTocEntries();  // tracks, the lead-out not counted
    TDiscLayout d;
    for (int i = 0; i < entries; ++i) {
      const TOCENTRY e = CR_GetTocEntry(i);
      d.tracks.push_back({e.btTrackNumber, e.dwStartSector, e.btFlag == CR_FLAG_AUDIO});
    }
    d.leadOut = CR_GetTocEntry(entries).dwStartSector;
    if (layout) *layout = d;
    TCdTextInfo info;
    CR_ReadCdText(entries, &info);
    return info;
  }

  // A copy of the demo disc's data under `name`, for sheets of our own.
  void demoData(const Folder& f, const std::string& name) {
    fs::copy_file(fs::path(DEMO_CUE).parent_path() / "demo.bin", f.path() / name);
  }
};

TEST_F(CdTextImages, DemoDiscCueNamesItsTracksAndAlbum) {
  TDiscLayout layout;
  const TCdTextInfo info = read(DEMO_CUE, &layout);
  ASSERT_TRUE(info.present);
  TAlbumNames n;
  ASSERT_TRUE(NamesFromCdText(info, layout, n));
  EXPECT_EQ(n.AlbumTitle, "Tessaly Demo");
  EXPECT_EQ(n.AlbumArtist, "The Test Signals");
  ASSERT_EQ(n.TrackTitles.size(), 5u);
  EXPECT_EQ(n.TrackTitles[0], "Opening");
  EXPECT_EQ(n.TrackTitles[1], "Second Thoughts");
  EXPECT_EQ(n.TrackTitles[2], "Rising");
  EXPECT_EQ(n.TrackTitles[3], "Coda");
  EXPECT_EQ(n.TrackTitles[4], "");  // the data track has no title
  EXPECT_EQ(n.TrackArtists[0], "The Test Signals");
}

TEST_F(CdTextImages, Utf8AndLatin1CueSheets) {
  Folder f;
  demoData(f, "u.bin");
  const fs::path utf8 = f.write("u.cue",
                                "REM UTF-8 sheet: Greek album, Japanese and German track titles\n"
                                "TITLE \"\xCE\x9F\xCE\xB4\xCF\x8D\xCF\x83\xCF\x83\xCE\xB5\xCE\xB9\xCE\xB1\"\n"
                                "PERFORMER \"\xE6\x9D\xB1\xE4\xBA\xAC\"\n"
                                "FILE \"u.bin\" BINARY\n"
                                "  TRACK 01 AUDIO\n    TITLE \"\xE3\x82\xAE\xE3\x82\xBF\xE3\x83\xBC\"\n    INDEX 01 00:00:00\n"
                                "  TRACK 02 AUDIO\n    TITLE \"\xC3\x9C" "ber\"\n    INDEX 01 00:32:00\n");
  TDiscLayout layout;
  TAlbumNames n;
  ASSERT_TRUE(NamesFromCdText(read(utf8, &layout), layout, n));
  EXPECT_EQ(n.AlbumTitle, "\xCE\x9F\xCE\xB4\xCF\x8D\xCF\x83\xCF\x83\xCE\xB5\xCE\xB9\xCE\xB1");  // Οδύσσεια
  EXPECT_EQ(n.AlbumArtist, "\xE6\x9D\xB1\xE4\xBA\xAC");                                        // 東京
  EXPECT_EQ(n.TrackTitles[0], "\xE3\x82\xAE\xE3\x82\xBF\xE3\x83\xBC");                         // ギター
  EXPECT_EQ(n.TrackTitles[1], "\xC3\x9C" "ber");

  CR_DeInit();
  Folder g;
  demoData(g, "l.bin");
  const fs::path latin1 = g.write("l.cue",
                                  "REM Latin-1 sheet\nTITLE \"Caf\xE9 M\xFCller\"\nFILE \"l.bin\" BINARY\n"
                                  "  TRACK 01 AUDIO\n    TITLE \"Tr\xE4umerei\"\n    INDEX 01 00:00:00\n");
  ASSERT_TRUE(NamesFromCdText(read(latin1, &layout), layout, n));
  EXPECT_EQ(n.AlbumTitle, "Caf\xC3\xA9 M\xC3\xBCller");
  EXPECT_EQ(n.TrackTitles[0], "Tr\xC3\xA4umerei");
}

// libcdio 2.1's TOC driver reads one keyword a line and folds every LANGUAGE block into one
// (the last wins, whatever LANGUAGE_MAP says), so a TOC file is tested with one block; the
// choice among languages is the drive's, tested with packs below.
TEST_F(CdTextImages, CdrdaoTocFileCdText) {
  Folder f;
  demoData(f, "t.bin");
  const fs::path toc = f.write("t.toc",
                               "CD_DA\n"
                               "// cdrdao TOC file: album and two track titles in CD_TEXT blocks\n"
                               "CD_TEXT {\n  LANGUAGE_MAP { 0 : EN }\n  LANGUAGE 0 {\n"
                               "    TITLE \"The Album\"\n    PERFORMER \"The Band\"\n  }\n}\n"
                               "TRACK AUDIO\nCD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"First\"\n  }\n}\n"
                               "FILE \"t.bin\" 0 00:32:00\n"
                               "TRACK AUDIO\nCD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"Second\"\n"
                               "    PERFORMER \"Guest\"\n  }\n}\n"
                               "FILE \"t.bin\" 00:32:00 00:27:00\n");
  TDiscLayout layout;
  const TCdTextInfo info = read(toc, &layout);
  ASSERT_EQ(layout.tracks.size(), 2u);
  TAlbumNames n;
  ASSERT_TRUE(NamesFromCdText(info, layout, n));
  EXPECT_EQ(n.AlbumTitle, "The Album");
  EXPECT_EQ(n.AlbumArtist, "The Band");
  EXPECT_EQ(n.TrackTitles[0], "First");
  EXPECT_EQ(n.TrackTitles[1], "Second");
  EXPECT_EQ(n.TrackArtists[1], "Guest");
}

TEST_F(CdTextImages, NoCdTextIsNoNames) {
  Folder f;
  demoData(f, "n.bin");
  const fs::path cue = f.write("n.cue", "FILE \"n.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  TDiscLayout layout;
  TAlbumNames n;
  EXPECT_FALSE(NamesFromCdText(read(cue, &layout), layout, n));
}

namespace {

// CD-Text packs as a drive hands them over: 18 bytes each, type, track, sequence number,
// block and character position, 12 bytes of text, and the CRC.
class PackWriter {
 public:
  // The texts of one type in one block: [0] the album, then the tracks.
  void Texts(uint8_t type, int block, const std::vector<std::string>& texts) {
    std::string stream;
    std::vector<int> trackOfByte;
    for (size_t t = 0; t < texts.size(); ++t) {
      for (size_t k = 0; k <= texts[t].size(); ++k) trackOfByte.push_back(static_cast<int>(t));
      stream += texts[t];
      stream += '\0';
    }
    for (size_t pos = 0; pos < stream.size(); pos += 12) {
      uint8_t p[18] = {};
      p[0] = type;
      p[1] = static_cast<uint8_t>(trackOfByte[pos]);
      p[2] = static_cast<uint8_t>(seq_[block]++);
      // Characters of the track's text before this pack (15 at most).
      size_t begun = 0;
      while (pos - begun > 0 && trackOfByte[pos - begun - 1] == trackOfByte[pos]) ++begun;
      p[3] = static_cast<uint8_t>((block << 4) | std::min<size_t>(begun, 15));
      for (size_t k = 0; k < 12 && pos + k < stream.size(); ++k) p[4 + k] = static_cast<uint8_t>(stream[pos + k]);
      add(p, block);
    }
  }
  // The three size-information packs of every block written, once all texts are in; the
  // languages are those of blocks 0, 1, ...
  void SizeInfo(int lastTrack, const std::vector<uint8_t>& languages) {
    int lastSeq[8] = {};
    for (size_t b = 0; b < 8; ++b) lastSeq[b] = seq_[b] ? seq_[b] + 2 : 0;
    std::vector<uint8_t> blocks;
    for (uint8_t b = 0; b < 8; ++b)
      if (seq_[b]) blocks.push_back(b);
    for (uint8_t block : blocks) {
      uint8_t info[36] = {};
      info[0] = 0x00;  // ISO-8859-1
      info[1] = 1;
      info[2] = static_cast<uint8_t>(lastTrack);
      for (int t = 0; t < 16; ++t) info[4 + t] = static_cast<uint8_t>(counts_[block][t] + (t == 15 ? 3 : 0));
      for (size_t b = 0; b < 8; ++b) info[20 + b] = static_cast<uint8_t>(lastSeq[b]);
      for (size_t b = 0; b < languages.size() && b < 8; ++b) info[28 + b] = languages[b];
      for (int k = 0; k < 3; ++k) {
        uint8_t p[18] = {};
        p[0] = 0x8F;
        p[1] = static_cast<uint8_t>(k);
        p[2] = static_cast<uint8_t>(seq_[block]++);
        p[3] = static_cast<uint8_t>(block << 4);
        std::copy(info + 12 * k, info + 12 * k + 12, p + 4);
        add(p, block);
      }
    }
  }
  // Block after block, as a drive hands them over.
  const std::vector<uint8_t>& Bytes() {
    bytes_.clear();
    for (const auto& b : blocks_) bytes_.insert(bytes_.end(), b.begin(), b.end());
    return bytes_;
  }

 private:
  void add(uint8_t* p, int block) {
    // CRC-16 (x^16 + x^12 + x^5 + 1) over the first 16 bytes, stored inverted.
    uint16_t crc = 0;
    for (int i = 0; i < 16; ++i) {
      crc ^= static_cast<uint16_t>(p[i] << 8);
      for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    crc = static_cast<uint16_t>(~crc);
    p[16] = static_cast<uint8_t>(crc >> 8);
    p[17] = static_cast<uint8_t>(crc & 0xFF);
    if (p[0] >= 0x80 && p[0] <= 0x8F) counts_[block][p[0] - 0x80]++;
    blocks_[block].insert(blocks_[block].end(), p, p + 18);
  }
  std::vector<uint8_t> blocks_[8];
  std::vector<uint8_t> bytes_;
  int seq_[8] = {};
  int counts_[8][16] = {};
};

}  // namespace

bool parsePacks(PackWriter& w, int lastTrack, TCdTextInfo& info) {
  const std::vector<uint8_t> bytes = w.Bytes();
  return CR_ParseCdTextPacks(bytes.data(), bytes.size(), lastTrack, &info);
}

TEST(CdTextPacks, DrivePathThroughLibcdiosParser) {
  PackWriter w;
  w.Texts(0x80, 0, {"Disc Title Long Enough", "One", "Two Is Longer Than Twelve"});
  w.Texts(0x81, 0, {"Performer", "P1", "P2"});
  w.SizeInfo(2, {9});
  TCdTextInfo info;
  ASSERT_TRUE(parsePacks(w, 2, info));
  EXPECT_EQ(info.language, 9);
  ASSERT_EQ(info.title.size(), 3u);
  EXPECT_EQ(info.title[0], "Disc Title Long Enough");
  EXPECT_EQ(info.title[1], "One");
  EXPECT_EQ(info.title[2], "Two Is Longer Than Twelve");
  EXPECT_EQ(info.performer[2], "P2");

  // Latin-1 bytes on the disc come out as UTF-8.
  PackWriter l;
  l.Texts(0x80, 0, {"Caf\xE9", "Tr\xE4umerei"});
  l.SizeInfo(1, {9});
  ASSERT_TRUE(parsePacks(l, 1, info));
  EXPECT_EQ(RepairCdText(info.title[1]), "Tr\xC3\xA4umerei");

  // Several languages: the English block, wherever it is; without one, the first block.
  PackWriter two;
  two.Texts(0x80, 0, {"Das Album", "Erstes"});
  two.Texts(0x80, 1, {"The Album", "First"});
  two.SizeInfo(1, {0x08, 0x09});  // German, English
  ASSERT_TRUE(parsePacks(two, 1, info));
  EXPECT_EQ(info.language, 9);
  EXPECT_EQ(info.title[0], "The Album");
  EXPECT_EQ(info.title[1], "First");
  PackWriter noEnglish;
  noEnglish.Texts(0x80, 0, {"Das Album", "Erstes"});
  noEnglish.Texts(0x80, 1, {"L'album", "Premier"});
  noEnglish.SizeInfo(1, {0x08, 0x0F});  // German, French
  ASSERT_TRUE(parsePacks(noEnglish, 1, info));
  EXPECT_EQ(info.language, 8);
  EXPECT_EQ(info.title[1], "Erstes");

  // Nonsense is no CD-Text, and nothing is read past the buffer.
  const std::vector<uint8_t> junk(40, 0xAB);
  EXPECT_FALSE(CR_ParseCdTextPacks(junk.data(), junk.size(), 2, &info));
  EXPECT_FALSE(info.present);
  EXPECT_FALSE(CR_ParseCdTextPacks(nullptr, 0, 2, &info));
}

// --- MusicBrainz answers ---------------------------------------------------------------------

TEST(MusicBrainzAnswer, ExactHitGivesTitlesCreditsYearAndIds) {
  const TDiscLayout layout = documentedDisc();
  const TMbDisc disc = DiscIdOf(layout);
  std::vector<TRelease> rel;
  std::string why;
  ASSERT_TRUE(ParseDiscIdAnswer(answer("exact", kDocId), layout, disc, rel, why)) << why;
  ASSERT_EQ(rel.size(), 1u);
  const TAlbumNames& n = rel[0].names;
  EXPECT_TRUE(rel[0].exactMedium);
  EXPECT_EQ(n.AlbumTitle, "Example Album");
  EXPECT_EQ(n.AlbumArtist, "Alpha & Beta");  // joined with the join phrase
  EXPECT_EQ(n.Year, "1998");
  EXPECT_EQ(rel[0].country, "GB");
  EXPECT_EQ(rel[0].barcode, "0123456789012");
  EXPECT_EQ(rel[0].format, "CD");
  EXPECT_EQ(rel[0].trackCount, 6);
  EXPECT_EQ(n.ReleaseId, "11111111-1111-4111-8111-111111111111");
  EXPECT_EQ(n.DiscId, kDocId);
  ASSERT_EQ(n.TrackTitles.size(), 6u);
  EXPECT_EQ(n.TrackTitles[0], "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1");  // Ωμέγα, UTF-8 as sent
  EXPECT_EQ(n.TrackTitles[5], "Sixth");
  EXPECT_EQ(n.TrackArtists[0], "Alpha");
  EXPECT_EQ(n.TrackArtists[5], "Alpha feat. Gamma");
  EXPECT_EQ(n.TrackIds[0], "ex-track-01");
  EXPECT_EQ(n.RecordingIds[5], "ex-rec-06");
  EXPECT_EQ(n.AlbumArtistIds.size(), 2u);
  EXPECT_EQ(n.TrackArtistIds[5].size(), 2u);
}

TEST(MusicBrainzAnswer, MultiDiscTwoReleasesFuzzyAndBroken) {
  const TDiscLayout layout = documentedDisc();
  const TMbDisc disc = DiscIdOf(layout);
  std::vector<TRelease> rel;
  std::string why;
  // The medium whose discs hold the ID, not the first one.
  ASSERT_TRUE(ParseDiscIdAnswer(answer("multidisc", kDocId), layout, disc, rel, why));
  ASSERT_EQ(rel.size(), 1u);
  EXPECT_EQ(rel[0].mediumPosition, 2);
  EXPECT_EQ(rel[0].names.TrackTitles[0], "Disc two 1");
  EXPECT_EQ(rel[0].names.Year, "2001");

  ASSERT_TRUE(ParseDiscIdAnswer(answer("two", kDocId), layout, disc, rel, why));
  ASSERT_EQ(rel.size(), 2u);
  EXPECT_EQ(ChooseRelease(rel, ""), 0);
  EXPECT_EQ(ChooseRelease(rel, "2"), 1);
  EXPECT_EQ(ChooseRelease(rel, "22222222-2222-4222-8222-222222222222"), 1);
  EXPECT_EQ(ChooseRelease(rel, "3"), -1);
  EXPECT_EQ(ChooseRelease(rel, "0"), -1);
  EXPECT_EQ(ChooseRelease(rel, "no-such-mbid"), -1);
  EXPECT_EQ(rel[1].names.TrackTitles[2], "Remastered 3");
  EXPECT_EQ(rel[1].format, "Enhanced CD");
  EXPECT_EQ(rel[1].year, "2010");

  // No "id" and no medium holding it: the medium with the disc's track count.
  ASSERT_TRUE(ParseDiscIdAnswer(answer("fuzzy", kDocId), layout, disc, rel, why));
  ASSERT_EQ(rel.size(), 1u);
  EXPECT_FALSE(rel[0].exactMedium);
  EXPECT_EQ(rel[0].names.TrackTitles[0], "Fuzzy 1");
  EXPECT_EQ(rel[0].names.Year, "");

  EXPECT_FALSE(ParseDiscIdAnswer(answer("malformed", kDocId), layout, disc, rel, why));
  EXPECT_FALSE(ParseDiscIdAnswer("[1,2,3]", layout, disc, rel, why));
  EXPECT_FALSE(ParseDiscIdAnswer("", layout, disc, rel, why));
  // Wrong types where objects are expected are skipped, not a crash.
  ASSERT_TRUE(ParseDiscIdAnswer(R"({"releases":[1,"x",{"media":7},{"media":[{"tracks":"no"}]}]})", layout, disc, rel, why));
  EXPECT_TRUE(rel.empty());
}

TEST(MusicBrainzAnswer, RequestAddress) {
  const TMbDisc disc = DiscIdOf(documentedDisc());
  EXPECT_EQ(LookupUrl("https://musicbrainz.org/", disc),
            "https://musicbrainz.org/ws/2/discid/" + kDocId +
                "?toc=1+6+95462+150+15363+32314+46592+63414+80489&inc=recordings+artist-credits&fmt=json");
}

// --- the order of sources --------------------------------------------------------------------

class Sources : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    fs::remove(CDPlayerIniPath(), ec);
  }
  void TearDown() override { SetUp(); }
};

TEST_F(Sources, CdPlayerIniDecidesThenCdTextThenNothing) {
  TDiscLayout d;
  d.tracks = {{1, 0, true}, {2, 2400, true}};
  d.leadOut = 5000;
  d.iniKey = "00ABCD";
  TCdTextInfo text;
  text.present = true;
  text.title = {"CD-Text Album", "CD-Text One", "CD-Text Two"};
  text.performer = {"CD-Text Artist", "", ""};
  TResolveOptions never;
  never.lookup = TLookupMode::Never;

  TResolved r = ResolveNames(d, &text, never);
  EXPECT_EQ(r.source, TNameSource::CdText);
  EXPECT_EQ(r.sourceText, "CD-Text");
  EXPECT_EQ(r.names.TrackTitles[1], "CD-Text Two");
  EXPECT_FALSE(r.lookedUp);

  r = ResolveNames(d, nullptr, never);
  EXPECT_EQ(r.sourceText, "none");
  EXPECT_EQ(r.names.TrackTitles.size(), 2u);

  // Saved, the names come back from cdplayer.ini, which then wins over CD-Text; an album value
  // not known keeps what the section held, and "title" is written beside "album".
  ASSERT_TRUE(WriteCDInfo(d.iniKey, "Old Artist", "Old Album", "1977", "Rock", nullptr));
  TAlbumNames mine;
  mine.AlbumTitle = "My Album";
  ASSERT_TRUE(SaveNames(d.iniKey, mine, {"Mine One", "Mine Two"}));
  r = ResolveNames(d, &text, never);
  EXPECT_EQ(r.sourceText, "cdplayer.ini");
  EXPECT_EQ(r.names.TrackTitles[0], "Mine One");
  EXPECT_EQ(r.names.AlbumTitle, "My Album");
  EXPECT_EQ(r.names.AlbumArtist, "Old Artist");
  EXPECT_EQ(r.names.Year, "1977");
  std::string artist, title, year, genre;
  std::vector<std::string> tracks;
  ASSERT_TRUE(ReadCDInfo(d.iniKey, artist, title, year, genre, tracks));
  EXPECT_EQ(title, "My Album");  // the reader's key
  EXPECT_EQ(genre, "Rock");
}

TEST(SourceText, Names) {
  EXPECT_EQ(SourceText(TNameSource::MusicBrainz, "abc"), "MusicBrainz (abc)");
  EXPECT_EQ(SourceText(TNameSource::CdPlayerIni, ""), "cdplayer.ini");
}
