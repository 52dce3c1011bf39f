// SPDX-License-Identifier: GPL-3.0-or-later
// The extraction run without a window: the real CD library over fixture images and the real
// encoder, driven by a host that records what the run shows and answers its questions. Checks
// the finished files, the names, the question and its answers, cancel, links and errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <map>
#include <set>

#include "run/ExtractionRun.h"
#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "flac/FlacCoder.h"
#include "lame/LameCoder.h"
#include "mp3info/MP3Info.h"
#include "tags/NamePattern.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "audio_tools.h"

namespace {

using namespace testing_support;

struct Row {
  std::string caption;
  bool checked = false;
  std::string index;
  std::string status = "--";
};

// Records everything the run shows; answers the question from a queue (asking with an empty
// queue fails the test).
class RecordingHost : public TExtractionHost {
 public:
  std::vector<Row> rows;
  std::vector<std::string> statusLines, pathLines, questions, opened, events;
  std::deque<int> answers;
  std::map<int, TTrackTags> tags;
  bool cancelled = false;
  int finished = -1;
  int32_t ripPercent = 0;

  int RowCount() const override { return static_cast<int>(rows.size()); }
  bool RowChecked(int row) const override { return rows[static_cast<size_t>(row)].checked; }
  std::string RowCaption(int row) const override { return rows[static_cast<size_t>(row)].caption; }
  std::string RowTrackIndex(int row) const override { return rows[static_cast<size_t>(row)].index; }
  TTrackTags RowTags(int row) const override {
    const auto t = tags.find(row);
    return t == tags.end() ? TTrackTags{} : t->second;
  }
  void SetRowStatus(int row, const std::string& status, const std::string&) override {
    rows[static_cast<size_t>(row)].status = status;
    events.push_back("status " + std::to_string(row) + " " + status);
  }
  void ShowStatus(int, const std::string& line) override { statusLines.push_back(line); }
  void ShowPath(const std::string& line) override { pathLines.push_back(line); }
  int AskOverwrite(const std::string& name) override {
    questions.push_back(name);
    events.push_back("ask");
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question about " << name;
      return oaNo;
    }
    const int a = answers.front();
    answers.pop_front();
    return a;
  }
  bool Cancelled() const override { return cancelled; }
  void ResetProgress() override {
    ripPercent = 0;
    events.push_back("reset");
  }
  void OpenFolder(const std::string& folder) override {
    opened.push_back(folder);
    events.push_back("open");
  }
  void Finish(int modalResult) override {
    finished = modalResult;
    events.push_back("finish");
  }
  void TrackVerified(int row, const std::string& text) override {
    events.push_back("verified " + std::to_string(row) + " " + text);
  }
  void RunSummary(const std::string& text) override { events.push_back("summary " + text); }

  std::vector<std::string> statuses() const {
    std::vector<std::string> s;
    for (const Row& r : rows) s.push_back(r.status);
    return s;
  }
};

class ExtractionRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CR_DeInit();
    saved_ = Settings;
    savedMore_ = MoreSettings;
    Settings.OpenWhenDone = true;
    Settings.OutDir = out.string();
  }
  void TearDown() override {
    ripper_.reset();
    CR_DeInit();
    Settings = saved_;
    MoreSettings = savedMore_;
    platform::SetProcessMessagesHook(nullptr);
  }

  // Offers a fixture image and lists its tracks as rows, the way the main window does.
  void load(const std::vector<std::string>& tracks) {
    const fs::path cue = makeDisc(tmp.path(), "disc", tracks);
    bin = readFile(tmp / "disc.bin");
    ASSERT_EQ(CR_AddDrive(cue.c_str()), CDEX_OK);
    ripper_ = std::make_unique<TCDRIP>();
    ApplyStoredRipperValues(*ripper_, &coder);
    ripper_->SelectDrive(ripper_->GetNumCDROM() - 1);
    ASSERT_EQ(ripper_->Tracks().Count(), static_cast<int>(tracks.size()));
    ripper_->OnProgress = [this](TCDRIP&, uint16_t p) { host.ripPercent = p; };
    for (int i = 0; i < ripper_->Tracks().Count(); ++i)
      host.rows.push_back(Row{ripper_->Tracks().Strings(i), false, std::to_string(i)});
  }
  void tick(std::initializer_list<int> rows) {
    for (int r : rows) host.rows[static_cast<size_t>(r)].checked = true;
  }
  int perform(TRunOutput output = TRunOutput::Wav) {
    TExtractionRun run(host, *ripper_, tagger, Settings);
    return run.Perform(output);
  }
  std::string sectors(size_t first, size_t count) const { return bin.substr(first * 2352, count * 2352); }
  std::set<std::string> filesIn(const fs::path& dir) const {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
      names.insert(fs::relative(e.path(), dir).string() + (e.is_directory() ? "/" : ""));
    return names;
  }

  TempDir tmp;
  fs::path out = tmp / "out";
  std::string bin;
  TLameCoder coder;
  std::unique_ptr<TCDRIP> ripper_;
  TMP3Info tagger;
  RecordingHost host;
  TMP3Settings saved_{};
  TMoreSettings savedMore_;
};

TEST_F(ExtractionRunTest, TickedRowsOnlyInListOrderWithStatusLinesAndOneFolderOpening) {
  load({"music:150", "tone440:100", "noise:120", "music1:80"});
  tick({0, 2});
  ASSERT_EQ(perform(), 1);

  // The rip log beside the files, named by the disc ID when there is no album title.
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"Track01.wav", "Track03.wav", ripper_->DiscID() + ".log"}));
  EXPECT_TRUE(readFile(out / "Track01.wav").substr(44) == sectors(0, 150));
  EXPECT_TRUE(readFile(out / "Track03.wav").substr(44) == sectors(250, 120));
  EXPECT_EQ(host.statuses(), (std::vector<std::string>{"OK", "--", "OK", "--"}));
  EXPECT_EQ(host.statusLines, (std::vector<std::string>{"Extract Track01 (1 of 2)...", "Extract Track03 (2 of 2)..."}));
  EXPECT_EQ(host.pathLines, (std::vector<std::string>{"To " + (out / "Track01.wav").string(),
                                                       "To " + (out / "Track03.wav").string()}));
  // The progress reached the front end's handler, then the end of the run set it back.
  EXPECT_EQ(host.ripPercent, 0);
  // Each row's verification after its status (no database here), the summary before the end.
  EXPECT_EQ(host.events, (std::vector<std::string>{"status 0 OK", "verified 0 Not verified (the database could not be reached)", "status 2 OK",
                                                   "verified 2 Not verified (the database could not be reached)",
                                                   "reset", "open", "summary 2 tracks could not be verified", "finish"}));
  EXPECT_EQ(host.opened, (std::vector<std::string>{out.string() + "/"}));
  EXPECT_EQ(host.finished, 1);
  EXPECT_FALSE(ripper_->Encode);

  // Without OpenWhenDone nothing is opened; an MP3 run names ".mp3" files and tags them.
  Settings.OpenWhenDone = false;
  host.opened.clear();
  host.rows[0].checked = false;
  host.rows[3].checked = true;
  host.rows[3].caption = "Last One";
  ASSERT_EQ(perform(TRunOutput::Mp3), 1);
  EXPECT_TRUE(ripper_->Encode);
  EXPECT_TRUE(host.opened.empty());
  EXPECT_TRUE(fs::exists(out / "Track03.mp3"));
  tagger.SetFilename((out / "Last One.mp3").string());
  EXPECT_TRUE(tagger.Valid());
  EXPECT_EQ(tagger.Title(), "Last One");
  EXPECT_EQ(host.statusLines.back(), "Extract Last One (2 of 2)...");
}

TEST_F(ExtractionRunTest, NamesTrimBlanksMakeSubfoldersAndStayInsideTheOutputFolder) {
  load({"music:75", "music1:75", "music2:75", "music3:75", "tone440:75", "noise:75"});
  host.rows[0].caption = "  Blank Ends \t ";
  host.rows[1].caption = "Album/Disc 1/Song";
  host.rows[2].caption = "../../escape";
  host.rows[3].caption = "   ";  // nothing usable: the track list's own text
  host.rows[4].caption = "/abs/../x";
  host.rows[5].caption = "Album";  // a file beside the folder of the same name's files
  tick({0, 1, 2, 3, 4, 5});
  Settings.OutDir = "  " + out.string() + "/ ";  // blanks and a trailing "/" change nothing
  ASSERT_EQ(perform(TRunOutput::Mp3), 1);
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"Blank Ends.mp3", "Album/", "Album/Disc 1/", "Album/Disc 1/Song.mp3",
                                                 "escape.mp3", "Track04.mp3", "abs/", "abs/x.mp3", "Album.mp3",
                                                 ripper_->DiscID() + ".log"}));
  EXPECT_FALSE(fs::exists(tmp / "escape.mp3"));
  EXPECT_EQ(host.statuses(), (std::vector<std::string>(6, "OK")));
  // The status line and the tag keep the title as it is.
  EXPECT_EQ(host.statusLines[0], "Extract   Blank Ends \t  (1 of 6)...");
  EXPECT_EQ(host.statusLines[3], "Extract     (4 of 6)...");
  tagger.SetFilename((out / "Blank Ends.mp3").string());
  EXPECT_EQ(tagger.Title(), "  Blank Ends \t");  // the tag reader drops trailing spaces only
  EXPECT_EQ(host.opened, (std::vector<std::string>{out.string() + "/"}));
}

TEST_F(ExtractionRunTest, AnEmptyOutputFolderMeansTheMusicFolder) {
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  struct RestoreHome {
    std::string home;
    ~RestoreHome() { setenv("HOME", home.c_str(), 1); }
  } restore{home};
  setenv("HOME", tmp.path().c_str(), 1);
  unsetenv("XDG_MUSIC_DIR");
  const std::string music = platform::MusicDir().string();
  ASSERT_EQ(music.rfind(tmp.path().string(), 0), 0u) << music;
  load({"tone440:75"});
  tick({0});
  for (const char* blank : {"", "  \t"}) {
    Settings.OutDir = blank;
    // Checked before anything is written, so a wrong name never reaches the filesystem root.
    ASSERT_EQ(RunOutputFileName(Settings.OutDir, "Track01", "Track01"), music + "/Track01.wav");
    host.answers = {oaYes};
    ASSERT_EQ(perform(), 1);
    EXPECT_TRUE(fs::exists(fs::path(music) / "Track01.wav"));
    EXPECT_EQ(host.opened.back(), music + "/");
  }
  EXPECT_EQ(host.questions.size(), 1u);  // the second run found the first one's file
}

TEST_F(ExtractionRunTest, NoAtTheThirdOfFiveEndsTheRunAndOpensNothing) {
  load({"music:75", "music1:75", "music2:75", "music3:75", "tone440:75"});
  tick({0, 1, 2, 3, 4});
  fs::create_directories(out);
  for (const char* f : {"Track01.wav", "Track02.wav", "Track03.wav", "Track04.wav", "Track05.wav"})
    writeFile(out / f, "old");
  host.answers = {oaYes, oaClosed, oaNo};  // the close box replaces, like Yes
  ASSERT_EQ(perform(), 1);
  EXPECT_EQ(host.questions, (std::vector<std::string>{(out / "Track01.wav").string(), (out / "Track02.wav").string(),
                                                       (out / "Track03.wav").string()}));
  EXPECT_EQ(host.statuses(), (std::vector<std::string>{"OK", "OK", "--", "--", "--"}));
  EXPECT_TRUE(readFile(out / "Track02.wav").substr(44) == sectors(75, 75));
  for (const char* f : {"Track03.wav", "Track04.wav", "Track05.wav"}) EXPECT_EQ(readFile(out / f), "old") << f;
  EXPECT_TRUE(host.opened.empty());
  EXPECT_EQ(host.finished, 1);
  EXPECT_EQ(host.statusLines.size(), 3u);
}

TEST_F(ExtractionRunTest, YesToAllAsksNoMoreInThisRunAndTheNextRunAsksAgain) {
  load({"music:75", "music1:75", "music2:75"});
  tick({0, 1, 2});
  host.rows[2].caption = "Track01";  // the same title twice: the second asks about the first one's file
  fs::create_directories(out);
  writeFile(out / "Track01.wav", "old");
  host.answers = {oaYes, oaYes};
  ASSERT_EQ(perform(), 1);
  EXPECT_EQ(host.questions.size(), 2u);
  EXPECT_EQ(host.questions[1], host.questions[0]);
  EXPECT_TRUE(Settings.AskOverwrite);
  EXPECT_TRUE(readFile(out / "Track01.wav").substr(44) == sectors(150, 75));  // the third row's track

  host.questions.clear();
  host.answers = {oaYesToAll};
  ASSERT_EQ(perform(), 1);
  EXPECT_EQ(host.questions.size(), 1u);
  EXPECT_FALSE(Settings.AskOverwrite);
  EXPECT_EQ(host.statuses(), (std::vector<std::string>(3, "OK")));

  host.questions.clear();
  host.answers = {oaYes, oaYes, oaNo};
  ASSERT_EQ(perform(), 1);
  EXPECT_EQ(host.questions.size(), 3u);
}

TEST_F(ExtractionRunTest, CancelDuringAnMp3TrackKeepsATaggedDecodablePartAndOpensNothing) {
  load({"music:4500", "tone440:75", "noise:75"});
  tick({0, 1, 2});
  host.rows[1].status = "earlier";
  // Cancel as the window's button does, from the event loop the extraction lets through.
  platform::SetProcessMessagesHook([this] {
    if (host.ripPercent >= 20 && !host.cancelled) {
      host.cancelled = true;
      ripper_->CancelRip();
    }
  });
  ASSERT_EQ(perform(TRunOutput::Mp3), 2);
  EXPECT_EQ(host.statuses(), (std::vector<std::string>{"Cancelled", "earlier", "--"}));
  // The log says so, and the host hears the summary before the run finishes.
  const std::string log = readFile(out / (ripper_->DiscID() + ".log"));
  EXPECT_NE(log.find("  Status: Cancelled\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  The run was cancelled\n"), std::string::npos) << log;
  EXPECT_EQ(host.events.back(), "finish");
  ASSERT_GE(host.events.size(), 2u);
  EXPECT_EQ(host.events[host.events.size() - 2].rfind("summary The run was cancelled", 0), 0u)
      << host.events[host.events.size() - 2];
  EXPECT_FALSE(fs::exists(out / "Track02.mp3"));
  EXPECT_TRUE(host.opened.empty());
  EXPECT_EQ(host.ripPercent, 0);
  EXPECT_EQ(host.finished, 2);

  const fs::path mp3 = out / "Track01.mp3";
  tagger.SetFilename(mp3.string());
  EXPECT_TRUE(tagger.Valid());
  EXPECT_EQ(tagger.Title(), "Track01");
  const fs::path wav = tmp / "decoded.wav";
  const auto r = run("mpg123 -q -w " + shellQuote(wav.string()) + " " + shellQuote(mp3.string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t decoded = readFile(wav).size() - 44;
  EXPECT_GT(decoded, 4500u * 2352u / 10);
  EXPECT_LT(decoded, 4500u * 2352u / 2);
}

TEST_F(ExtractionRunTest, LinksBelowTheOutputFolderAreNeverFollowed) {
  load({"music:75", "music1:75", "music2:75"});
  tick({0, 1, 2});
  const fs::path elsewhere = tmp / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directories(out);
  // The output folder itself may be a link the user made.
  const fs::path outLink = tmp / "out-link";
  fs::create_directory_symlink(out, outLink);
  Settings.OutDir = outLink.string();
  host.rows[0].caption = "Good";
  host.rows[1].caption = "Sub/Song";
  fs::create_directory_symlink(elsewhere, out / "Sub");
  try {
    perform();
    FAIL() << "no error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + (outLink / "Sub" / "Song.wav").string());
  }
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(fs::exists(out / "Good.wav"));
  EXPECT_EQ(host.statuses(), (std::vector<std::string>{"OK", "--", "--"}));
  EXPECT_EQ(host.events.back(), "finish");

  // A link at the output name, even a dangling one, is an existing file: the question comes
  // first, and a Yes replaces the link, never what it points at.
  host.rows[1].checked = false;
  fs::create_symlink(elsewhere / "target.wav", out / "Track03.wav");
  host.answers = {oaYes, oaYes};
  ASSERT_EQ(perform(), 1);
  EXPECT_EQ(host.questions.back(), (outLink / "Track03.wav").string());
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_FALSE(fs::is_symlink(out / "Track03.wav"));
  EXPECT_TRUE(readFile(out / "Track03.wav").substr(44) == sectors(150, 75));
}

TEST_F(ExtractionRunTest, AnErrorEndsTheRunAfterTheEndSteps) {
  load({"music:75", "music1:75", "music2:75"});
  tick({0, 1, 2});
  // The second row's file cannot be made: a folder holds its name. The question comes first;
  // the error after it still opens the output folder, as a complete run would.
  fs::create_directories(out / "Track02.wav");
  host.answers = {oaYes};
  EXPECT_THROW(perform(), std::exception);
  EXPECT_EQ(host.statuses(), (std::vector<std::string>{"OK", "--", "--"}));
  EXPECT_EQ(host.ripPercent, 0);
  // The log holds the error too: the track that failed and the summary.
  EXPECT_EQ(host.events, (std::vector<std::string>{"status 0 OK", "verified 0 Not verified (the database could not be reached)", "ask", "reset", "open",
                                                   "summary Errors occurred; 2 tracks could not be verified", "finish"}));
  EXPECT_EQ(host.opened, (std::vector<std::string>{out.string() + "/"}));
  EXPECT_EQ(host.finished, 1);

  // A subfolder that cannot be made (a file stands where it belongs): the file's creation
  // reports it, and its folder, which does not exist, is not opened.
  host.events.clear();
  host.rows[0].checked = false;
  host.rows[1].caption = "Block/Song";
  writeFile(out / "Block", "a file");
  try {
    perform();
    FAIL() << "no error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + (out / "Block" / "Song.wav").string());
  }
  EXPECT_EQ(host.events,
            (std::vector<std::string>{"reset", "summary Errors occurred; 1 tracks could not be verified", "finish"}));
  EXPECT_NE(readFile(out / (ripper_->DiscID() + ".log")).find("  Status: Cannot create file "), std::string::npos);

  // An output folder that cannot exist (nor can the log there): the error, and no folder to open.
  host.events.clear();
  host.rows = {host.rows[2]};
  Settings.OutDir = (out / "Block" / "sub").string();
  EXPECT_THROW(perform(), EFCreateError);
  EXPECT_EQ(host.events, (std::vector<std::string>{"reset", "finish"}));
  EXPECT_EQ(host.rows[0].status, "--");

  // A row whose track index is not a number, or not one of the disc's.
  Settings.OutDir = out.string();
  for (const char* index : {"x", "7"}) {
    host.events.clear();
    host.rows[0].index = index;
    EXPECT_ANY_THROW(perform()) << index;
    EXPECT_EQ(host.events, (std::vector<std::string>{"reset", "summary Errors occurred", "finish"})) << index;
  }
}

// ---- FLAC files, the full tags and the naming pattern ----

TTrackTags albumTags() {
  TTrackTags t;
  t.Artist = "Σωκράτης Μάλαμας";
  t.Album = "Café Müller";
  t.AlbumArtist = "日本の楽団";
  t.Year = "2001";
  t.Genre = "Rock";
  t.MusicBrainzAlbumId = "22222222-2222-4222-8222-222222222222";
  t.MusicBrainzTrackId = "11111111-1111-4111-8111-111111111111";
  return t;
}

TEST_F(ExtractionRunTest, FlacFilesHoldTheWavRipsSamplesTheirMd5AndTheTagsThatAreKnown) {
  load({"music:300", "noise:120", "data:50"});
  tick({0, 1});
  ASSERT_EQ(perform(TRunOutput::Wav), 1);
  host.rows[0].caption = "日本語のタイトル";
  host.rows[1].caption = "Ελληνικά";
  host.tags[0] = albumTags();
  MoreSettings.FlacLevel = 8;
  ASSERT_EQ(perform(TRunOutput::Flac), 1);
  EXPECT_TRUE(ripper_->Encode);
  EXPECT_TRUE(ripper_->EncodeFlac);
  EXPECT_EQ(host.statuses(), (std::vector<std::string>{"OK", "OK", "--"}));
  EXPECT_EQ(host.pathLines.back(), "To " + (out / "Ελληνικά.flac").string());

  struct T {
    const char *wav, *flac;
    size_t sectors;
  };
  for (const T t : {T{"Track01.wav", "日本語のタイトル.flac", 300}, T{"Track02.wav", "Ελληνικά.flac", 120}}) {
    SCOPED_TRACE(t.flac);
    const std::string samples = readFile(out / t.wav).substr(44);
    ASSERT_EQ(samples.size(), t.sectors * 2352);
    EXPECT_TRUE(decodedFlac(out / t.flac, tmp / "d.raw") == samples);
    EXPECT_EQ(metaflac("--show-md5sum", out / t.flac), md5Of(samples, tmp / "s.pcm") + "\n");
    EXPECT_EQ(metaflac("--show-total-samples", out / t.flac), std::to_string(t.sectors * 588) + "\n");
  }
  // The data track is not one of the disc's audio tracks; what nobody knows is left out.
  EXPECT_EQ(metaflac("--export-tags-to=-", out / "日本語のタイトル.flac"),
            "TITLE=日本語のタイトル\nARTIST=Σωκράτης Μάλαμας\nALBUM=Café Müller\nALBUMARTIST=日本の楽団\nDATE=2001\n"
            "TRACKNUMBER=1\nTRACKTOTAL=2\nGENRE=Rock\nMUSICBRAINZ_TRACKID=11111111-1111-4111-8111-111111111111\n"
            "MUSICBRAINZ_ALBUMID=22222222-2222-4222-8222-222222222222\n");
  EXPECT_EQ(metaflac("--export-tags-to=-", out / "Ελληνικά.flac"), "TITLE=Ελληνικά\nTRACKNUMBER=2\nTRACKTOTAL=2\n");
  // Nothing of a FLAC track stays in the ripper for a later extraction.
  EXPECT_TRUE(ripper_->FlacCoder().Comments.empty());

  // Without full tags: the title alone. The names are taken, so the run asks first.
  MoreSettings.FullTags = false;
  host.answers = {oaYesToAll};
  ASSERT_EQ(perform(TRunOutput::Flac), 1);
  EXPECT_EQ(host.questions, (std::vector<std::string>{(out / "日本語のタイトル.flac").string()}));
  EXPECT_EQ(metaflac("--export-tags-to=-", out / "日本語のタイトル.flac"), "TITLE=日本語のタイトル\n");
}

TEST_F(ExtractionRunTest, ALowerRateMonoFlacIsTheWavRipOfThatFormat) {
  load({"tone440:150"});
  tick({0});
  ripper_->ApplyOutputFormat(MONO22050);
  ASSERT_EQ(perform(TRunOutput::Wav), 1);
  ASSERT_EQ(perform(TRunOutput::Flac), 1);
  const std::string samples = readFile(out / "Track01.wav").substr(44);
  EXPECT_EQ(samples.size(), 150u * 588 / 2 * 2);
  EXPECT_EQ(metaflac("--show-channels --show-sample-rate", out / "Track01.flac"), "1\n22050\n");
  EXPECT_TRUE(decodedFlac(out / "Track01.flac", tmp / "d.raw") == samples);
}

TEST_F(ExtractionRunTest, ACancelledFlacIsAWholeFileOfTheSamplesReadSoFar) {
  load({"music:4500", "tone440:75"});
  tick({0, 1});
  platform::SetProcessMessagesHook([this] {
    if (host.ripPercent >= 20 && !host.cancelled) {
      host.cancelled = true;
      ripper_->CancelRip();
    }
  });
  ASSERT_EQ(perform(TRunOutput::Flac), 2);
  EXPECT_EQ(host.statuses(), (std::vector<std::string>{"Cancelled", "--"}));
  EXPECT_FALSE(fs::exists(out / "Track02.flac"));
  const fs::path flac = out / "Track01.flac";
  EXPECT_EQ(run("flac -s -t " + shellQuote(flac.string())).exitCode, 0);
  const std::string samples = decodedFlac(flac, tmp / "d.raw");
  EXPECT_GT(samples.size(), 4500u * 2352 / 10);
  EXPECT_LT(samples.size(), 4500u * 2352 / 2);
  EXPECT_TRUE(samples == sectors(0, 4500).substr(0, samples.size()));
  EXPECT_EQ(metaflac("--show-total-samples", flac), std::to_string(samples.size() / 4) + "\n");
  EXPECT_EQ(metaflac("--show-md5sum", flac), md5Of(samples, tmp / "s.pcm") + "\n");
}

// The samples mpg123 decodes from an MP3 file, and what it says about it with -v.
struct Mpg123 {
  std::string samples, told;
};
Mpg123 mpg123(const fs::path& mp3, const fs::path& wav) {
  const auto r = run("mpg123 --no-icy-meta -v -w " + shellQuote(wav.string()) + " " + shellQuote(mp3.string()));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return {readFile(wav).substr(44), r.err};
}

TEST_F(ExtractionRunTest, Mp3FilesStartWithAnId3v24TagAndKeepTheDescribedId3v1BlockAndFrames) {
  load({"music:200", "noise:100"});
  tick({0, 1});
  coder.SetWriteVBRHeader(true);  // the settings' header frame, which gapless decoding reads
  const std::string latin = "Ça me plaît, déjà à Zürich ok!";  // 30 characters: the whole ID3v1 field
  const std::string greek = "Καλημέρα κόσμε, ένα τραγούδι για όλους";
  host.rows[0].caption = latin;
  host.rows[1].caption = greek;
  host.tags[0] = albumTags();
  ASSERT_EQ(perform(TRunOutput::Mp3), 1);
  const std::string full0 = readFile(out / (latin + ".mp3")), full1 = readFile(out / (greek + ".mp3"));

  EXPECT_EQ(mutagenFrames(out / (latin + ".mp3")),
            "v2.4\nTALB=Café Müller enc=3\nTCON=Rock enc=3\nTDRC=2001 enc=3\nTIT2=" + latin +
                " enc=3\nTPE1=Σωκράτης Μάλαμας enc=3\nTPE2=日本の楽団 enc=3\nTRCK=1/2 enc=3\n"
                "TXXX:MusicBrainz Album Id=22222222-2222-4222-8222-222222222222 enc=3\n"
                "UFID:http://musicbrainz.org=11111111-1111-4111-8111-111111111111\n");
  EXPECT_EQ(mutagenFrames(out / (greek + ".mp3")), "v2.4\nTIT2=" + greek + " enc=3\nTRCK=2/2 enc=3\n");

  // The ID3v1 block is the described one: the title in ISO-8859-1 ("?" for what it lacks),
  // cut to 30 characters, spaces, genre 12.
  const std::string latin1Title = "\xC7" "a me pla\xEEt, d\xE9j\xE0 \xE0 Z\xFCrich ok!";
  EXPECT_EQ(full0.substr(full0.size() - 128), "TAG" + latin1Title + std::string(94, ' ') + "\x0c");
  EXPECT_EQ(full1.substr(full1.size() - 128), "TAG???????? ?????, ??? ???????? ?" + std::string(94, ' ') + "\x0c");

  // mpg123 reads the ID3v2 tag (ID3v1 has no artist) and decodes the track's samples
  // exactly: the LAME header frame is still the first frame.
  const Mpg123 d0 = mpg123(out / (latin + ".mp3"), tmp / "d0.wav");
  EXPECT_EQ(d0.samples.size(), 200u * 2352);
  EXPECT_NE(d0.told.find("Σωκράτης Μάλαμας"), std::string::npos) << d0.told;
  EXPECT_EQ(mpg123(out / (greek + ".mp3"), tmp / "d1.wav").samples.size(), 100u * 2352);

  // Without full tags: the described file, ID3v1 alone, whose frames are the same bytes as
  // the tagged file's after its ID3v2 tag.
  MoreSettings.FullTags = false;
  host.answers = {oaYesToAll};
  ASSERT_EQ(perform(TRunOutput::Mp3), 1);
  const std::string bare0 = readFile(out / (latin + ".mp3"));
  ASSERT_GE(bare0.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(bare0[0]), 0xFF);
  const size_t head = full0.size() - bare0.size();
  EXPECT_EQ(full0.substr(0, 3), "ID3");
  EXPECT_GE(head, 1024u);
  EXPECT_TRUE(full0.substr(head) == bare0);
  const std::string firstFrame = bare0.substr(0, 418);
  EXPECT_TRUE(firstFrame.find("Info") != std::string::npos || firstFrame.find("Xing") != std::string::npos);
  EXPECT_TRUE(ripper_->FileHead.empty());
  const Mpg123 bare = mpg123(out / (latin + ".mp3"), tmp / "d2.wav");
  EXPECT_TRUE(bare.samples == d0.samples);
}

TEST_F(ExtractionRunTest, TheNamePatternMakesFoldersOfTheAlbumValuesInsideTheOutputFolder) {
  load({"music:75", "music1:75", "music2:75"});
  tick({0, 1, 2});
  MoreSettings.NamePattern = kAlbumNamePattern;
  host.rows[0].caption = " Hells Bells ";
  host.tags[0].AlbumArtist = "AC/DC";
  host.tags[0].Album = "Back in Black";
  host.tags[1] = host.tags[0];
  host.rows[1].caption = "Shoot / To Thrill";
  ASSERT_EQ(perform(TRunOutput::Flac), 1);
  EXPECT_EQ(filesIn(out), (std::set<std::string>{"Back in Black.log", "AC-DC/", "AC-DC/Back in Black/",
                                                 "AC-DC/Back in Black/01 Hells Bells.flac",
                                                 "AC-DC/Back in Black/02 Shoot/", "AC-DC/Back in Black/02 Shoot/To Thrill.flac",
                                                 "Unknown Artist/", "Unknown Artist/Unknown Album/",
                                                 "Unknown Artist/Unknown Album/03 Track03.flac"}));
  // The tags keep the values as they are: no "Unknown" in them.
  EXPECT_EQ(metaflac("--export-tags-to=-", out / "Unknown Artist/Unknown Album/03 Track03.flac"),
            "TITLE=Track03\nTRACKNUMBER=3\nTRACKTOTAL=3\n");
  EXPECT_EQ(host.opened, (std::vector<std::string>{(out / "Unknown Artist/Unknown Album").string() + "/"}));

  // A link where a folder of the pattern belongs is never followed.
  const fs::path elsewhere = tmp / "elsewhere";
  fs::create_directories(elsewhere);
  fs::remove_all(out / "AC-DC");
  fs::create_directory_symlink(elsewhere, out / "AC-DC");
  host.rows[1].checked = host.rows[2].checked = false;
  EXPECT_THROW(perform(TRunOutput::Flac), EFCreateError);
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

}  // namespace
