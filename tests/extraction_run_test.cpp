// The extraction run without a window: the real CD library over fixture images and the real
// encoder, driven by a host that records what the run shows and answers its questions. Checks
// the finished files, the names, the question and its answers, cancel, links and errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <set>

#include "run/ExtractionRun.h"
#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "lame/LameCoder.h"
#include "mp3info/MP3Info.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "test_support.h"

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
  bool cancelled = false;
  int finished = -1;
  int32_t ripPercent = 0;

  int RowCount() const override { return static_cast<int>(rows.size()); }
  bool RowChecked(int row) const override { return rows[static_cast<size_t>(row)].checked; }
  std::string RowCaption(int row) const override { return rows[static_cast<size_t>(row)].caption; }
  std::string RowTrackIndex(int row) const override { return rows[static_cast<size_t>(row)].index; }
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
    Settings.OpenWhenDone = true;
    Settings.OutDir = out.string();
  }
  void TearDown() override {
    ripper_.reset();
    CR_DeInit();
    Settings = saved_;
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
};

TEST_F(ExtractionRunTest, TickedRowsOnlyInListOrderWithStatusLinesAndOneFolderOpening) {
  load({"music:150", "tone440:100", "noise:120", "music1:80"});
  tick({0, 2});
  ASSERT_EQ(perform(), 1);

  EXPECT_EQ(filesIn(out), (std::set<std::string>{"Track01.wav", "Track03.wav"}));
  EXPECT_TRUE(readFile(out / "Track01.wav").substr(44) == sectors(0, 150));
  EXPECT_TRUE(readFile(out / "Track03.wav").substr(44) == sectors(250, 120));
  EXPECT_EQ(host.statuses(), (std::vector<std::string>{"OK", "--", "OK", "--"}));
  EXPECT_EQ(host.statusLines, (std::vector<std::string>{"Extract Track01 (1 of 2)...", "Extract Track03 (2 of 2)..."}));
  EXPECT_EQ(host.pathLines, (std::vector<std::string>{"To " + (out / "Track01.wav").string(),
                                                       "To " + (out / "Track03.wav").string()}));
  // The progress reached the front end's handler, then the end of the run set it back.
  EXPECT_EQ(host.ripPercent, 0);
  EXPECT_EQ(host.events, (std::vector<std::string>{"status 0 OK", "status 2 OK", "reset", "open", "finish"}));
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
                                                 "escape.mp3", "Track04.mp3", "abs/", "abs/x.mp3", "Album.mp3"}));
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
  EXPECT_EQ(host.events, (std::vector<std::string>{"status 0 OK", "ask", "reset", "open", "finish"}));
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
  EXPECT_EQ(host.events, (std::vector<std::string>{"reset", "finish"}));

  // An output folder that cannot exist: the error, and no folder to open.
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
    EXPECT_EQ(host.events, (std::vector<std::string>{"reset", "finish"})) << index;
  }
}

}  // namespace
