// SPDX-License-Identifier: GPL-3.0-or-later
// tessaly-rip's own core against the scriptable CD library and the real encoder: the MP3 run
// on several cores must show and write what the one-track-at-a-time run shows and writes,
// whatever the library's statuses; and the reasons given for a track that was not read, or
// read with errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "run/ExtractionRun.h"
#include "run/ParallelRip.h"
#include "run/RipProblems.h"
#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "fake_cdrip.h"
#include "lame/LameCoder.h"
#include "mp3info/MP3Info.h"
#include "platform/events.h"
#include "test_support.h"

// What the scriptable library says beside its statuses (it has no reason of its own to give).
namespace {
std::string g_tocProblem, g_dataFile;
int32_t copyOut(const std::string& s, char* text, int32_t size) {
  if (text && size > 0) {
    std::strncpy(text, s.c_str(), static_cast<size_t>(size) - 1);
    text[size - 1] = '\0';
  }
  return static_cast<int32_t>(s.size());
}
}  // namespace
extern "C" {
__attribute__((weak)) int32_t CR_GetTocProblem(char* text, int32_t size) { return copyOut(g_tocProblem, text, size); }
__attribute__((weak)) int32_t CR_GetImageDataFile(char* path, int32_t size) { return copyOut(g_dataFile, path, size); }
}

namespace {

using namespace testing_support;

// Writes down everything the run shows, asks and reports, in order.
class Recorder : public TExtractionHost {
 public:
  Recorder(TCDRIP& ripper, std::vector<std::string> captions, std::vector<int> answers)
      : ripper_(ripper), captions_(std::move(captions)), answers_(std::move(answers)) {
    // Each percentage once: the one-track loop repeats one when a chunk leaves it unchanged.
    ripper_.OnProgress = [this](TCDRIP&, uint16_t p) {
      const std::string line = "progress " + std::to_string(p);
      if (log.empty() || log.back() != line) log.push_back(line);
    };
  }
  ~Recorder() override { ripper_.OnProgress = nullptr; }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  std::vector<std::string> log;
  std::string folder;  // left out of the names written down, so two runs compare

  int RowCount() const override { return static_cast<int>(captions_.size()); }
  bool RowChecked(int row) const override { return row != 1; }  // the second row is not ticked
  std::string RowCaption(int row) const override { return captions_[static_cast<size_t>(row)]; }
  std::string RowTrackIndex(int row) const override { return std::to_string(row); }
  void SetRowStatus(int row, const std::string& s, const std::string& name) override {
    log.push_back("row " + std::to_string(row) + " " + s + " " + rel(name));
  }
  void ShowStatus(int, const std::string& line) override { log.push_back(line); }
  void ShowPath(const std::string& line) override { log.push_back(rel(line)); }
  int AskOverwrite(const std::string& name) override {
    log.push_back("asked " + rel(name));
    const int a = asked_ < answers_.size() ? answers_[asked_] : oaNo;
    ++asked_;
    return a;
  }
  bool Cancelled() const override { return cancel && *cancel; }
  void TrackVerified(int row, const std::string& text) override {
    log.push_back("verified " + std::to_string(row) + " " + text);
  }
  void RunSummary(const std::string& text) override { log.push_back("summary " + text); }
  const bool* cancel = nullptr;  // the user's Cancel, when set
  void ResetProgress() override { log.push_back("reset"); }
  void OpenFolder(const std::string& f) override { log.push_back("open " + rel(f)); }
  void Finish(int r) override { log.push_back("finish " + std::to_string(r)); }

 private:
  std::string rel(std::string s) const {
    for (size_t at; !folder.empty() && (at = s.find(folder)) != std::string::npos;) s.replace(at, folder.size(), "<out>");
    return s;
  }
  TCDRIP& ripper_;
  std::vector<std::string> captions_;
  std::vector<int> answers_;
  size_t asked_ = 0;
};

// PCM that no two chunks share, so that a part out of order or lost shows in the file.
std::vector<uint8_t> pcm(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; i += 2) {
    seed = seed * 1664525u + 1013904223u;
    const auto s = static_cast<int16_t>((seed >> 16) / 4);  // a quiet noise
    v[i] = static_cast<uint8_t>(s);
    if (i + 1 < bytes) v[i + 1] = static_cast<uint8_t>(s >> 8);
  }
  return v;
}

// Six tracks of chunks whose sizes are no multiple of the encoder's block, with a chunk of
// status 1 (nothing delivered), damaged chunks (status 3) and a last chunk with audio.
std::vector<fake::Chunk> discChunks() {
  std::vector<fake::Chunk> chunks;
  uint32_t seed = 7;
  for (int track = 0; track < 6; ++track) {
    const int n = 3 + track % 3;
    for (int c = 0; c < n; ++c) {
      fake::Chunk k;
      k.data = pcm(9000 + static_cast<size_t>(track * 1000 + c * 333) * 4, seed++);
      k.percent = (c + 1) * 100 / n;
      if (c + 1 == n) k.status = CDEX_RIPPING_DONE;
      if (track == 2 && c == 1) {
        k.status = CDEX_JITTER_ERROR;
        k.jitterFirst = 4242;
        k.jitterSecond = 42;
      }
      if (track == 3 && c == 0) {
        k.status = CDEX_ERROR;  // counts for nothing, the next call reads on
        k.percent = 10;
      }
      chunks.push_back(k);
    }
  }
  return chunks;
}

class CliCore : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Settings;
    savedMore_ = MoreSettings;
    // The rip log is the one-track run's alone (tessaly-rip takes that run when it is on).
    MoreSettings.RipLog = false;
    platform::SetProcessMessagesHook(nullptr);
  }
  void TearDown() override {
    Settings = saved_;
    MoreSettings = savedMore_;
  }

  // Rips the scripted disc into `dir`, one track at a time (jobs 0) or on `jobs` encoders.
  // refuseAfter: how many tracks the drive reads before it refuses to open the next (0: none).
  struct Outcome {
    std::vector<std::string> log;
    std::string error;
  };
  Outcome ripDisc(const fs::path& dir, int jobs, const std::vector<std::string>& captions,
                  const std::vector<int>& answers, int refuseAfter = 0) {
    fake::reset();
    CDRipParams() = CDROMPARAMS{};
    fake::script().drives = {fake::driveWithTracks(starts, leadOut)};
    fake::script().chunks = chunks.empty() ? discChunks() : chunks;
    fake::script().bufferSize = 40000;
    int tracksRead = 0;
    fake::script().onChunk = [&](size_t index) {
      if (index < fake::script().chunks.size() && fake::script().chunks[index].status == CDEX_RIPPING_DONE) ++tracksRead;
      if (refuseAfter && tracksRead == refuseAfter) fake::script().openStatus = CDEX_ERROR;
      if (watch) watch();
    };
    TCDRIP ripper;
    TLameCoder coder;
    ApplyStoredRipperValues(ripper, &coder);
    coder.SetBitrate(96);
    Settings.OutDir = dir.string();
    Settings.OpenWhenDone = true;
    Recorder host(ripper, captions, answers);
    host.folder = dir.string();
    host.cancel = &cancelled;
    Outcome o;
    try {
      if (jobs == 0) {
        TMP3Info tagger;
        TExtractionRun run(host, ripper, tagger, Settings);
        run.SetReadOffset(offset, true, true);
        run.Perform(output);
      } else {
        TParallelRun run(host, ripper, coder, Settings, jobs);
        if (spillLimit) run.SetSpillLimit(spillLimit);
        run.SetReadOffset(offset, true, true);
        run.Perform(output);
      }
    } catch (const std::exception& e) {
      o.error = e.what();
    }
    o.log = host.log;
    return o;
  }

  // Every file below dir (hidden ones too), with its bytes.
  static std::map<std::string, std::string> files(const fs::path& dir) {
    std::map<std::string, std::string> m;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
      if (e.is_regular_file()) m[fs::relative(e.path(), dir).string()] = readFile(e.path());
    return m;
  }

  TempDir tmp;
  std::vector<uint32_t> starts{0, 1000, 2000, 3000, 4000, 5000};  // the disc's tracks
  uint32_t leadOut = 6000;
  TRunOutput output = TRunOutput::Mp3;
  int32_t offset = 0;               // the read offset, samples
  bool cancelled = false;           // the host's Cancel
  std::vector<fake::Chunk> chunks;  // the disc's; discChunks() when empty
  uint64_t spillLimit = 0;          // the parallel run's, when set
  std::function<void()> watch;      // called at every chunk the reader reads

 private:
  TMP3Settings saved_;
  TMoreSettings savedMore_;
};

TEST_F(CliCore, OnSeveralEncodersTheRunShowsAndWritesWhatOneTrackAtATimeDoes) {
  const std::vector<std::string> captions{"One", "Two", "Sub/Three", "Four", "Five", "Six"};
  const Outcome single = ripDisc(tmp / "single", 0, captions, {});
  ASSERT_EQ(single.error, "");
  const auto expected = files(tmp / "single");
  ASSERT_EQ(expected.size(), 5u);  // the unticked row has no file
  EXPECT_TRUE(expected.count("Sub/Three.mp3"));
  for (int jobs : {1, 2, 4}) {
    const fs::path dir = tmp / ("jobs" + std::to_string(jobs));
    const Outcome many = ripDisc(dir, jobs, captions, {});
    EXPECT_EQ(many.error, "") << jobs;
    EXPECT_EQ(many.log, single.log) << jobs;
    EXPECT_TRUE(files(dir) == expected) << jobs;  // the bytes, and no leftover beside them
  }
  // Every percentage of every track was shown, the status-1 chunk's too.
  EXPECT_NE(std::find(single.log.begin(), single.log.end(), "progress 10"), single.log.end());
}

std::vector<fake::Chunk> longFirstTrack();

// Six tracks of ten sectors, each read in chunks of more than its sectors (the drive reads
// what it is asked; the script gives enough for any offset), of no whole number of sectors.
std::vector<fake::Chunk> shortTrackChunks() {
  std::vector<fake::Chunk> chunks;
  uint32_t seed = 31;
  for (int track = 0; track < 6; ++track)
    for (int c = 0; c < 4; ++c) {
      fake::Chunk k;
      k.data = pcm(8232 + static_cast<size_t>(c) * 4, seed++);
      k.percent = (c + 1) * 25;
      if (c == 3) k.status = CDEX_RIPPING_DONE;
      chunks.push_back(k);
    }
  return chunks;
}

// A rip log's text without its date line, which two runs never share, and with <out> for the
// folder the files went to.
std::string withoutDate(std::string text, const std::string& folder) {
  for (size_t at; (at = text.find(folder)) != std::string::npos;) text.replace(at, folder.size(), "<out>");
  const size_t at = text.find("Date: ");
  return at == std::string::npos ? text : text.substr(0, at) + text.substr(text.find('\n', at) + 1);
}

TEST_F(CliCore, WithTheProofAndTheLogTheRunOnSeveralEncodersIsOneTrackAtATime) {
  const std::vector<std::string> captions{"One", "Two", "Three", "Four", "Five", "Six"};
  MoreSettings.RipLog = true;
  int n = 0;
  for (const bool shortTracks : {false, true})
    for (const TRunOutput out : {TRunOutput::Mp3, TRunOutput::Flac})
      for (const int32_t off : {0, 667, -1164}) {
        const std::string what = std::string(out == TRunOutput::Flac ? "flac" : "mp3") + " offset " +
                                 std::to_string(off) + (shortTracks ? " short" : "");
        output = out;
        offset = off;
        chunks = shortTracks ? shortTrackChunks() : std::vector<fake::Chunk>{};
        starts = shortTracks ? std::vector<uint32_t>{0, 10, 20, 30, 40, 50} : std::vector<uint32_t>{0, 1000, 2000, 3000, 4000, 5000};
        leadOut = shortTracks ? 60 : 6000;
        const fs::path one = tmp / std::to_string(n++);
        const Outcome single = ripDisc(one, 0, captions, {});
        ASSERT_EQ(single.error, "") << what;
        auto expected = files(one);
        ASSERT_EQ(expected.size(), 6u) << what;  // five files and the log
        for (auto& [name, bytes] : expected)
          if (name.ends_with(".log")) bytes = withoutDate(bytes, one.string());
        for (int jobs : {2}) {
          const fs::path dir = tmp / std::to_string(n++);
          const Outcome many = ripDisc(dir, jobs, captions, {});
          EXPECT_EQ(many.error, "") << what << " jobs " << jobs;
          EXPECT_EQ(many.log, single.log) << what << " jobs " << jobs;  // verifications and summary included
          auto got = files(dir);
          for (auto& [name, bytes] : got)
            if (name.ends_with(".log")) bytes = withoutDate(bytes, dir.string());
          EXPECT_EQ(got.size(), expected.size()) << what << " jobs " << jobs;
          for (const auto& [name, bytes] : expected)
            EXPECT_EQ(got[name], bytes) << what << " jobs " << jobs << ": " << name;
        }
        if (out == TRunOutput::Flac) {
          const auto test = run("flac -t -s " + shellQuote((one / "Three.flac").string()));
          EXPECT_EQ(test.exitCode, 0) << what << test.err;
        }
      }
}

TEST_F(CliCore, ACancelOnSeveralEncodersLeavesADecodableFlacFile) {
  const std::vector<std::string> captions{"One", "Two", "Three", "Four", "Five", "Six"};
  output = TRunOutput::Flac;
  chunks = longFirstTrack();
  watch = [&] {
    if (fake::script().nextChunk == 40) cancelled = true;
  };
  const Outcome many = ripDisc(tmp / "parallel", 2, captions, {});
  EXPECT_EQ(many.error, "");
  const auto left = files(tmp / "parallel");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left.count("One.flac"));
  EXPECT_NE(std::find(many.log.begin(), many.log.end(), "row 0 Cancelled <out>/One.flac"), many.log.end());
  const auto test = run("flac -t -s " + shellQuote((tmp / "parallel" / "One.flac").string()));
  EXPECT_EQ(test.exitCode, 0) << test.err;
  const auto samples = run("metaflac --show-total-samples " + shellQuote((tmp / "parallel" / "One.flac").string()));
  // How much the encoder took before the cancel depends on the threads' timing (none at all
  // under the sanitizers): what holds is a finished stream, cut short.
  EXPECT_LT(std::stoull(samples.out), 120u * 40000u / 4u);
}

TEST_F(CliCore, TheQuestionComesInItsPlaceAndANameTheRunWroteIsAskedAbout) {
  // Rows 3 and 5 have the same name: the second is asked about the first's file, as it is
  // on the disk by then, even when no question came before; row 4's file may be there before.
  const std::vector<std::string> captions{"One", "Two", "Same", "Four", "Same", "Six"};
  struct Case {
    bool fourExists;
    std::vector<int> answers;
    long questions;
  };
  int n = 0;
  for (const Case& c : {Case{true, {oaYes, oaYesToAll}, 2}, Case{true, {oaClosed, oaNo}, 2}, Case{false, {oaNo}, 1},
                        Case{false, {oaYes}, 1}}) {
    const std::string tag = std::to_string(++n);
    const fs::path one = tmp / ("single" + tag), many = tmp / ("parallel" + tag);
    for (const fs::path& dir : {one, many}) {
      fs::create_directories(dir);
      if (c.fourExists) writeFile(dir / "Four.mp3", "old");
    }
    const Outcome single = ripDisc(one, 0, captions, c.answers);
    ASSERT_EQ(single.error, "");
    EXPECT_EQ(std::count_if(single.log.begin(), single.log.end(),
                            [](const std::string& l) { return l.rfind("asked", 0) == 0; }),
              c.questions)
        << tag;
    const Outcome parallel = ripDisc(many, 3, captions, c.answers);
    EXPECT_EQ(parallel.error, "");
    EXPECT_EQ(parallel.log, single.log) << tag;
    EXPECT_TRUE(files(many) == files(one)) << tag;
  }
}

TEST_F(CliCore, ARefusedTrackEndsTheRunWhereOneTrackAtATimeEndsIt) {
  const std::vector<std::string> captions{"One", "Two", "Three", "Four", "Five", "Six"};
  fs::create_directories(tmp / "single");
  fs::create_directories(tmp / "parallel");
  writeFile(tmp / "single" / "Four.mp3", "older");
  writeFile(tmp / "parallel" / "Four.mp3", "older");
  // Tracks 1 and 3 are read (row 2 is not ticked); track 4 is refused.
  const Outcome single = ripDisc(tmp / "single", 0, captions, {oaYesToAll}, 2);
  EXPECT_EQ(single.error, "The drive refused to read track 4");
  const Outcome many = ripDisc(tmp / "parallel", 2, captions, {oaYesToAll}, 2);
  EXPECT_EQ(many.error, single.error);
  EXPECT_EQ(many.log, single.log);
  const auto left = files(tmp / "parallel");
  EXPECT_TRUE(left == files(tmp / "single"));
  EXPECT_EQ(left.at("Four.mp3"), "older");  // not this run's result, and not replaced
  EXPECT_FALSE(left.count("Five.mp3"));     // nothing after the refused track
}

TEST_F(CliCore, TheReadReportOfEachRowIsItsOwn) {
  fake::reset();
  CDRipParams() = CDROMPARAMS{};
  fake::script().drives = {fake::driveWithTracks({0, 1000, 2000, 3000, 4000, 5000}, 6000)};
  fake::script().chunks = discChunks();
  fake::script().bufferSize = 40000;
  fake::script().jitterErrors = 1;
  TCDRIP ripper;
  TLameCoder coder;
  ApplyStoredRipperValues(ripper, &coder);
  Settings.OutDir = (tmp / "out").string();
  class ReportHost : public Recorder {
   public:
    using Recorder::Recorder;
    TParallelRun* run = nullptr;
    std::vector<std::vector<std::string>> logs;
    void SetRowStatus(int row, const std::string& s, const std::string& name) override {
      logs.push_back(run->RowReport().JitterLog);
      Recorder::SetRowStatus(row, s, name);
    }
  } host(ripper, {"a", "b", "c", "d", "e", "f"}, {});
  TParallelRun run(host, ripper, coder, Settings, 2);
  host.run = &run;
  run.Perform();
  ASSERT_EQ(host.logs.size(), 5u);
  // Only the third track read (track 4) had a damaged chunk.
  EXPECT_EQ(host.logs[2], (std::vector<std::string>{"4242 42"}));
  for (size_t i : {0u, 1u, 3u, 4u}) EXPECT_TRUE(host.logs[i].empty()) << i;
}

// The unnamed files this process has open (spill files), by folder: the bytes they hold on the
// disk.
std::map<std::string, uint64_t> unnamedFilesOnDisk() {
  std::map<std::string, uint64_t> held;
  DIR* d = opendir("/proc/self/fd");
  while (const dirent* e = d ? readdir(d) : nullptr) {
    const std::string fd = std::string("/proc/self/fd/") + e->d_name;
    char target[4096];
    const ssize_t n = readlink(fd.c_str(), target, sizeof target - 1);
    struct stat st {};
    if (n <= 0 || stat(fd.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 0) continue;
    const std::string path(target, static_cast<size_t>(n));
    held[path.substr(0, path.rfind('/'))] += static_cast<uint64_t>(st.st_blocks) * 512;
  }
  if (d) closedir(d);
  return held;
}

// A first track of 120 chunks, far more than the pool holds, and five short ones.
std::vector<fake::Chunk> longFirstTrack() {
  std::vector<fake::Chunk> c;
  uint32_t seed = 99;
  for (int track = 0; track < 6; ++track) {
    const int n = track == 0 ? 120 : 3;
    for (int i = 0; i < n; ++i) {
      fake::Chunk k;
      k.data = pcm(40000, seed++);
      k.percent = (i + 1) * 100 / n;
      if (i + 1 == n) k.status = CDEX_RIPPING_DONE;
      c.push_back(k);
    }
  }
  return c;
}

TEST_F(CliCore, TheReadAheadGoesToTheTemporaryFolderWithinItsBound) {
  const std::vector<std::string> captions{"One", "Two", "Three", "Four", "Five", "Six"};
  chunks = longFirstTrack();
  const Outcome single = ripDisc(tmp / "single", 0, captions, {});
  ASSERT_EQ(single.error, "");
  const char* before = std::getenv("TMPDIR");
  const std::string savedTmp = before ? before : "";
  const fs::path spill = tmp / "spill";
  fs::create_directories(spill);
  struct Case {
    std::string tmpdir, folder;  // TMPDIR, and where the spill must be
  };
  for (const Case& c : {Case{spill.string(), spill.string()}, Case{(tmp / "missing").string(), "/tmp"}}) {
    setenv("TMPDIR", c.tmpdir.c_str(), 1);
    spillLimit = 400000;  // ten chunks
    uint64_t most = 0;
    std::set<std::string> folders;
    watch = [&] {
      for (const auto& [folder, bytes] : unnamedFilesOnDisk()) {
        folders.insert(folder);
        if (folder == c.folder) most = std::max(most, bytes);
      }
    };
    const fs::path dir = tmp / ("parallel-" + fs::path(c.tmpdir).filename().string());
    const Outcome many = ripDisc(dir, 2, captions, {});
    watch = nullptr;
    EXPECT_EQ(many.error, "");
    EXPECT_EQ(many.log, single.log);
    EXPECT_TRUE(files(dir) == files(tmp / "single")) << c.tmpdir;
    EXPECT_EQ(folders, std::set<std::string>{c.folder}) << c.tmpdir;  // never beside the files
    EXPECT_GT(most, 0u) << c.tmpdir;
    EXPECT_LE(most, spillLimit + 2 * 4096) << c.tmpdir;
  }
  if (before) setenv("TMPDIR", savedTmp.c_str(), 1);
  else unsetenv("TMPDIR");
}

TEST(ParallelRunPlan, TheOpenFileLimitLowersTheRowsInFlightThenTheEncoders) {
  // Plenty: four rows in flight for each encoder, and the reader's.
  EXPECT_EQ(TParallelRun::PlanOpenFiles(16, 4096).Jobs, 16);
  EXPECT_EQ(TParallelRun::PlanOpenFiles(16, 4096).Rows, 68);
  int lastJobs = 1, lastRows = 1;
  for (long free = 0; free <= 200; ++free) {
    const auto plan = TParallelRun::PlanOpenFiles(16, free);
    EXPECT_GE(plan.Jobs, 1) << free;
    EXPECT_LE(plan.Jobs, 16) << free;
    EXPECT_GE(plan.Rows, 1) << free;
    // More room never means less parallelism or fewer rows in flight.
    EXPECT_GE(plan.Jobs, lastJobs) << free;
    if (plan.Jobs == lastJobs) {
      EXPECT_GE(plan.Rows, lastRows) << free;
    }
    // Each encoder has a row, and the reader one more, once one encoder fits.
    // What the plan needs fits: each row's file, a spill per track in hand, a tag per encoder.
    if (free >= 20) {
      EXPECT_GE(plan.Rows, plan.Jobs + 1) << free;
      EXPECT_LE(plan.Rows + 2 * plan.Jobs + 1, free) << free;
    }
    lastJobs = plan.Jobs;
    lastRows = plan.Rows;
  }
  EXPECT_EQ(TParallelRun::PlanOpenFiles(16, 58).Jobs, 16);  // 64 open at most, 6 taken
  EXPECT_LT(TParallelRun::PlanOpenFiles(16, 30).Jobs, 16);
}

// --- the reasons ---

class CliReasons : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    CDRipParams() = CDROMPARAMS{};
    g_tocProblem.clear();
    g_dataFile.clear();
  }
};

TEST_F(CliReasons, WhyATrackWasNotRead) {
  fake::Drive d = fake::driveWithTracks({0, 100, 100, 500}, 900, "ACME CD 1.0");
  d.toc[3].btFlag = CR_FLAG_DATA;
  fake::script().drives = {d};
  TCDRIP ripper;
  // Two tracks that start together: the first of them has no sectors at all.
  EXPECT_EQ(WhyTrackNotRead(ripper, 2), "track 2 has no sectors to read (a zero-length track)");
  EXPECT_EQ(WhyTrackNotRead(ripper, 1), "the drive refused to read track 1 (sectors 0 to 99)");
  EXPECT_EQ(WhyTrackNotRead(ripper, 4), "track 4 is a data track");
  // The disc went away since it was listed: the table read afresh says so, with the reason.
  fake::script().drives[0].tocStatus = CDEX_ERROR;
  g_tocProblem = "the data file disc.bin is missing";
  EXPECT_EQ(WhyTrackNotRead(ripper, 3),
            "track 3 cannot be read: no readable disc in drive 0 (ACME CD 1.0): the data file disc.bin is missing");
  EXPECT_EQ(ripper.Tracks().Count(), 0);
  g_tocProblem.clear();
  EXPECT_EQ(NoDiscText(ripper), "no readable disc in drive 0 (ACME CD 1.0)");
}

TEST_F(CliReasons, TheLibrarysOwnReasonComesBeforeAnyOther) {
  fake::script().drives = {fake::driveWithTracks({0, 100}, 900, "ACME CD 1.0")};
  TCDRIP ripper;
  fake::script().ripperProblem = "The disc was changed: list it again";
  const int listed = fake::count("CR_ReadToc");
  EXPECT_EQ(WhyTrackNotRead(ripper, 2), "track 2 cannot be read: The disc was changed: list it again");
  // The drive is listed again all the same, so the rows show the new disc.
  EXPECT_GT(fake::count("CR_ReadToc"), listed);
  fake::script().ripperProblem.clear();
  EXPECT_EQ(WhyTrackNotRead(ripper, 2), "the drive refused to read track 2 (sectors 100 to 899)");
}

TEST_F(CliReasons, ReadErrorsNameTheFirstAndLastDamagedSectorOfTheTrack) {
  fake::script().drives = {fake::driveWithTracks({0, 300}, 450)};
  TCDRIP ripper;
  TempDir tmp;
  // An extraction of track 2 that the library says met damaged sectors.
  auto ripDamaged = [&](int first, int last, int count) {
    fake::script().nextChunk = 0;
    fake::script().chunks = {fake::Chunk{CDEX_JITTER_ERROR, std::vector<uint8_t>(2352, 0), 50, last, last - 300}};
    fake::script().damagedFirst = first;
    fake::script().damagedLast = last;
    fake::script().jitterErrors = count;
    ripper.RipTrack(2, (tmp / "track").string());
    EXPECT_EQ(ripper.DamagedFirst(), first);
    EXPECT_EQ(ripper.DamagedLast(), last);
    return TReadReport{ripper.JitterErrorCount(), ripper.JitterLog()};
  };
  const TReadReport three = ripDamaged(300, 302, 3);
  EXPECT_EQ(ReadErrorsText(ripper, 2, three), "3 read errors (the first at sector 300, the last at sector 302)");
  const TReadReport one = ripDamaged(449, 449, 1);
  EXPECT_EQ(ReadErrorsText(ripper, 2, one), "1 read error (at sector 449)");
  // Sectors the library named for another track are not track 1's: its log's last one is said.
  TReadReport other;
  other.JitterErrorCount = 2;
  other.JitterLog = {"120 120"};
  EXPECT_EQ(ReadErrorsText(ripper, 1, other), "2 read errors (the last at sector 120)");
}

TEST_F(CliReasons, WhatReadErrorsMeanOnAnImageAndOnADrive) {
  fake::script().drives = {fake::driveWithTracks({0, 300}, 450)};
  TCDRIP ripper;
  TReadReport r;
  EXPECT_EQ(ReadErrorsText(ripper, 2, r), "");
  r.JitterErrorCount = 1;
  r.JitterLog = {"1234 934"};
  EXPECT_EQ(ReadErrorsText(ripper, 2, r), "1 read error (the last at sector 1234)");
  r.JitterErrorCount = 3;
  EXPECT_EQ(ReadErrorsText(ripper, 2, r), "3 read errors (the last at sector 1234)");
  // An image has no damaged sectors, only sectors it does not hold.
  g_dataFile = "/discs/disc.bin";
  r.JitterErrorCount = 20;
  r.JitterLog = {"430 130", "449 149"};
  EXPECT_EQ(ReadErrorsText(ripper, 2, r), "the image lacks 20 of its sectors (the last at sector 449), left silent");
  r.JitterErrorCount = 150;
  EXPECT_EQ(ReadErrorsText(ripper, 2, r), "the image lacks all of its sectors 300 to 449, left silent");
}

}  // namespace
