// SPDX-License-Identifier: GPL-3.0-or-later
// The extraction loop and the coder against the scriptable CD and encoder libraries: block
// cutting, statuses, progress, jitter lines, cancel, write and creation failures, headers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "cdrip/CDRIP.h"
#include "fake_cdrip.h"
#include "fake_lame.h"
#include "flac/FlacCoder.h"
#include "lame/LameCoder.h"
#include "platform/events.h"
#include "verify/TrackProof.h"
#include "audio_tools.h"

namespace {

using namespace testing_support;

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

uint32_t le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}

// The temporary files beside `name` that a rip of it writes before renaming.
std::vector<fs::path> temporaryFilesOf(const fs::path& name) {
  const std::string prefix = "." + name.filename().string() + ".tessaly-";
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(name.parent_path()))
    if (e.path().filename().string().rfind(prefix, 0) == 0) found.push_back(e.path());
  return found;
}

class RipFake : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    fakelame::reset();
    CDRipParams() = CDROMPARAMS{};
    platform::SetProcessMessagesHook(nullptr);
    fake::script().drives = {fake::driveWithTracks({0, 1000, 2000}, 3000)};
    ripper = std::make_unique<TCDRIP>();
  }
  void TearDown() override { platform::SetProcessMessagesHook(nullptr); }

  void chunks(std::vector<fake::Chunk> c) { fake::script().chunks = std::move(c); }

  TempDir tmp;
  std::unique_ptr<TCDRIP> ripper;
};

TEST_F(RipFake, BlocksAreCutFromChunksWithTheCarryAndTheLastPartBlockIsEncoded) {
  TLameCoder coder;
  ripper->AttachCoder(&coder);
  ripper->Encode = true;
  const auto c1 = pattern(10000, 1), c2 = pattern(10000, 2), c3 = pattern(5000, 3);
  chunks({{CDEX_OK, c1, 40}, {CDEX_OK, c2, 80}, {CDEX_RIPPING_DONE, c3, 100}});
  ripper->RipSectors(1000, 1999, (tmp / "Track02.wav").string());

  // 10000 -> 2 blocks of 4608, 784 left; 10784 -> 2, 1568 left; 6568 -> 1, 1960 left.
  const auto& counts = fakelame::script().encodeCounts;
  EXPECT_EQ(counts, (std::vector<uint32_t>{2304, 2304, 2304, 2304, 2304, 980}));
  std::string stream;
  for (const auto* c : {&c1, &c2, &c3}) stream.append(c->begin(), c->end());
  std::string blocks;
  for (const auto& b : fakelame::script().encodedBlocks) blocks += b;
  EXPECT_TRUE(blocks == stream) << "blocks must be the delivered bytes, in order, none lost";

  std::string want;
  for (size_t i = 0; i < counts.size(); ++i) want += fakelame::outputFor(i, counts[i]);
  want += "<flush>";
  EXPECT_EQ(readFile(tmp / "Track02.mp3"), want);
  EXPECT_FALSE(fs::exists(tmp / "Track02.wav"));
  const auto& calls = fakelame::script().calls;
  EXPECT_EQ(calls.front(), "beInitStream");
  EXPECT_EQ(calls.back(), "beCloseStream");
}

TEST_F(RipFake, ProgressFiresOncePerChunkAndFailedChunksAddNothing) {
  std::vector<int> percents;
  ripper->OnProgress = [&](TCDRIP&, uint16_t p) { percents.push_back(p); };
  int pumped = 0;
  platform::SetProcessMessagesHook([&] { ++pumped; });
  ripper->WriteWAV = false;
  chunks({{CDEX_OK, pattern(100, 1), 10},
          {CDEX_ERROR, pattern(100, 9), 20},  // data of a failed call is not used
          {CDEX_JITTER_ERROR, pattern(50, 2), 30},
          {CDEX_RIPPING_DONE, pattern(10, 3), 100}});
  ripper->RipSectors(0, 999, (tmp / "raw.pcm").string());
  EXPECT_EQ(percents, (std::vector<int>{10, 20, 30, 100}));
  EXPECT_EQ(pumped, 4);
  std::string want;
  for (const auto& v : {pattern(100, 1), pattern(50, 2), pattern(10, 3)}) want.append(v.begin(), v.end());
  EXPECT_EQ(readFile(tmp / "raw.pcm"), want);  // raw PCM: no header
}

TEST_F(RipFake, JitterLinesAccumulateOverExtractions) {
  ripper->WriteWAV = false;
  fake::script().jitterErrors = 2;
  fake::Chunk bad1{CDEX_JITTER_ERROR, pattern(10, 1), 50, 1234, 5};
  fake::Chunk bad2{CDEX_JITTER_ERROR, pattern(10, 1), 60, -1, 77};
  chunks({bad1, bad2, {CDEX_RIPPING_DONE, {}, 100}});
  ripper->RipSectors(0, 10, (tmp / "a.pcm").string());
  EXPECT_EQ(ripper->JitterLog(), (std::vector<std::string>{"1234 5", "4294967295 77"}));
  EXPECT_EQ(ripper->JitterErrorCount(), 2);
  fake::script().nextChunk = 0;
  fake::script().jitterErrors = 1;
  chunks({{CDEX_JITTER_ERROR, pattern(10, 1), 50, 9, 9}, {CDEX_RIPPING_DONE, {}, 100}});
  ripper->RipSectors(0, 10, (tmp / "b.pcm").string());
  EXPECT_EQ(ripper->JitterLog().size(), 3u);
  EXPECT_EQ(ripper->JitterLog().back(), "9 9");
  EXPECT_EQ(ripper->JitterErrorCount(), 1);
}

TEST_F(RipFake, WavHeaderIsWrittenFirstThenStatesTheBytesWritten) {
  ripper->WriteWAV = true;
  const fs::path out = tmp / "Track02.wav";
  std::string headerDuringRip;
  fake::script().onChunk = [&](size_t i) {
    if (i == 1) headerDuringRip = readFile(temporaryFilesOf(out).at(0)).substr(0, 44);
  };
  // 1000 sectors, 1000..1999, delivered whole in 2352-byte chunks.
  fake::script().bufferSize = 2352 * 100;
  std::vector<fake::Chunk> c;
  for (int i = 0; i < 10; ++i) c.push_back({i == 9 ? CDEX_RIPPING_DONE : CDEX_OK, pattern(2352 * 100, 1), i * 10});
  chunks(c);
  ripper->RipTrack(2, out.string());

  ASSERT_EQ(headerDuringRip.size(), 44u);
  EXPECT_EQ(headerDuringRip.substr(0, 4), "RIFF");
  EXPECT_EQ(le32(headerDuringRip, 40), 2352000u);  // the whole range, inclusive
  const std::string file = readFile(out);
  ASSERT_EQ(file.size(), 44u + 2352000u);
  EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(le32(file, 16), 16u);
  EXPECT_EQ(le32(file, 20), 1u | (2u << 16));      // PCM, 2 channels
  EXPECT_EQ(le32(file, 24), 44100u);
  EXPECT_EQ(le32(file, 28), 176400u);
  EXPECT_EQ(le32(file, 32), 4u | (16u << 16));     // block align 4, 16 bits
  EXPECT_EQ(file.substr(36, 4), "data");
  EXPECT_EQ(le32(file, 40), 2352000u);
  EXPECT_EQ(le32(file, 4), 2352036u);
}

TEST_F(RipFake, TheFileTakesItsNameOnlyWhenClosedAndTheOldOneStaysWholeTillThen) {
  ripper->WriteWAV = false;
  const fs::path out = tmp / "Track01.raw";
  writeFile(out, "the old file");
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  std::vector<std::string> seen;
  size_t temporaries = 0;
  fake::script().onChunk = [&](size_t) {
    seen.push_back(readFile(out));
    temporaries = temporaryFilesOf(out).size();
  };
  chunks({{CDEX_OK, pattern(100, 1), 50}, {CDEX_RIPPING_DONE, pattern(100, 2), 100}});
  ripper->RipSectors(0, 10, out.string());
  EXPECT_EQ(seen, (std::vector<std::string>{"the old file", "the old file"}));
  EXPECT_EQ(temporaries, 1u);
  std::string want;
  for (const auto& v : {pattern(100, 1), pattern(100, 2)}) want.append(v.begin(), v.end());
  EXPECT_EQ(readFile(out), want);
  EXPECT_TRUE(temporaryFilesOf(out).empty());
  EXPECT_EQ(ripper->OutputFileName(), out.string());
  // The replaced file's permission bits stay with the name.
  EXPECT_EQ(fs::status(out).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(RipFake, AKilledRipLeavesTheOldFileWholeAndTheNextRipClearsTheLeftover) {
  ripper->WriteWAV = true;
  const fs::path out = tmp / "Track01.wav";
  writeFile(out, "the old file");
  // A temporary file a living writer holds is not a leftover.
  const fs::path held = tmp / ".Track01.wav.tessaly-Live00";
  writeFile(held, "another writer's");
  const int heldFd = ::open(held.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(heldFd, LOCK_EX), 0);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    fake::script().onChunk = [](size_t i) {
      if (i == 2) raise(SIGKILL);
    };
    chunks({{CDEX_OK, pattern(2352, 1), 10}, {CDEX_OK, pattern(2352, 2), 20}, {CDEX_OK, pattern(2352, 3), 30}});
    try {
      ripper->RipSectors(0, 99, out.string());
    } catch (...) {
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(readFile(out), "the old file");
  ASSERT_EQ(temporaryFilesOf(out).size(), 2u);  // the killed rip's, and the living writer's

  chunks({{CDEX_RIPPING_DONE, pattern(2352, 4), 100}});
  ripper->RipSectors(0, 0, out.string());
  EXPECT_EQ(temporaryFilesOf(out), (std::vector<fs::path>{held}));
  EXPECT_EQ(readFile(held), "another writer's");
  const std::string file = readFile(out);
  ASSERT_EQ(file.size(), 44u + 2352u);
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  ::close(heldFd);
}

TEST_F(RipFake, ALinkAtTheOutputNameIsReplacedNeverWrittenThrough) {
  ripper->WriteWAV = false;
  fs::create_directories(tmp / "elsewhere");
  writeFile(tmp / "elsewhere" / "precious", "not yours");
  fs::create_directories(tmp / "out");
  fs::create_symlink(tmp / "elsewhere" / "precious", tmp / "out" / "a.raw");
  fs::create_symlink(tmp / "elsewhere" / "created-through-link", tmp / "out" / "b.raw");  // dangling
  for (const char* name : {"a.raw", "b.raw"}) {
    fake::script().nextChunk = 0;
    chunks({{CDEX_RIPPING_DONE, pattern(64, 5), 100}});
    ripper->RipSectors(0, 10, (tmp / "out" / name).string());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(tmp / "out" / name))) << name;
    EXPECT_EQ(fs::file_size(tmp / "out" / name), 64u) << name;
  }
  EXPECT_EQ(readFile(tmp / "elsewhere" / "precious"), "not yours");
  EXPECT_FALSE(fs::exists(tmp / "elsewhere" / "created-through-link"));
}

TEST_F(RipFake, NamesThatCannotHoldAFileAreRefusedBeforeAnyAudio) {
  fs::create_directories(tmp / "Track01.wav");
  EXPECT_THROW(ripper->RipSectors(0, 10, (tmp / "Track01.wav").string()), EFCreateError);
  ASSERT_EQ(mkfifo((tmp / "fifo.wav").c_str(), 0600), 0);
  EXPECT_THROW(ripper->RipSectors(0, 10, (tmp / "fifo.wav").string()), EFCreateError);  // no hang
  EXPECT_EQ(fake::count("CR_RipChunk"), 0);
  EXPECT_EQ(fake::count("CR_CloseRipper"), 2);
  EXPECT_TRUE(ripper->OutputFileName().empty());
  if (geteuid() != 0) {  // root may write anything
    writeFile(tmp / "ro.wav", "read-only");
    fs::permissions(tmp / "ro.wav", fs::perms::owner_read);
    EXPECT_THROW(ripper->RipSectors(0, 10, (tmp / "ro.wav").string()), EFCreateError);
    EXPECT_EQ(readFile(tmp / "ro.wav"), "read-only");
  }
}

TEST_F(RipFake, ARefusedRipNamesNoFileAndLeavesTheOldOneAlone) {
  ripper->WriteWAV = true;
  const fs::path out = tmp / "Track01.wav";
  chunks({{CDEX_RIPPING_DONE, pattern(2352, 1), 100}});
  ripper->RipSectors(0, 0, out.string());
  ASSERT_EQ(ripper->OutputFileName(), out.string());
  const std::string before = readFile(out);
  fake::script().openStatus = CDEX_ERROR;
  ripper->RipSectors(0, 0, out.string());
  EXPECT_TRUE(ripper->OutputFileName().empty()) << "an older file must not pass for this rip's";
  EXPECT_EQ(readFile(out), before);
  EXPECT_TRUE(temporaryFilesOf(out).empty());
}

TEST_F(RipFake, ATrackWhoseWavWouldPassFourGiBIsRefused) {
  // 1826091 sectors of 2352 bytes and the header's 36 still fit in 32 bits; one more does not.
  ripper->WriteWAV = true;
  try {
    ripper->RipSectors(0, 1826091, (tmp / "long.wav").string());
    FAIL() << "expected ECDRIPError";
  } catch (const ECDRIPError& e) {
    EXPECT_NE(std::string(e.what()).find("4 GiB"), std::string::npos) << e.what();
  }
  EXPECT_EQ(fake::count("CR_OpenRipper"), 0);
  EXPECT_FALSE(fs::exists(tmp / "long.wav"));

  chunks({{CDEX_RIPPING_DONE, pattern(2352, 1), 100}});
  ripper->RipSectors(0, 1826090, (tmp / "long.wav").string());
  EXPECT_EQ(le32(readFile(tmp / "long.wav"), 40), 2352u);  // sizes as written
  // At a quarter of the bytes per sector, and without a header, the same range is fine.
  ripper->ApplyOutputFormat(MONO22050);
  fake::script().nextChunk = 0;
  EXPECT_NO_THROW(ripper->RipSectors(0, 1826091, (tmp / "mono.wav").string()));
  ripper->ApplyOutputFormat(STEREO44100);
  ripper->WriteWAV = false;
  fake::script().nextChunk = 0;
  EXPECT_NO_THROW(ripper->RipSectors(0, 1826091, (tmp / "long.raw").string()));
  EXPECT_EQ(fake::count("CR_OpenRipper"), 3);
}

TEST_F(RipFake, MonoAndLowRateHeadersDescribeTheFormat) {
  ripper->WriteWAV = true;
  ripper->ApplyOutputFormat(MONO11025);
  chunks({{CDEX_RIPPING_DONE, pattern(294 * 4, 1), 100}});
  ripper->RipSectors(0, 3, (tmp / "m.wav").string());
  const std::string file = readFile(tmp / "m.wav");
  EXPECT_EQ(le32(file, 20), 1u | (1u << 16));
  EXPECT_EQ(le32(file, 24), 11025u);
  EXPECT_EQ(le32(file, 28), 22050u);
  EXPECT_EQ(le32(file, 40), 294u * 4);
  EXPECT_EQ(fake::script().lastSetParams.nOutputFormat, MONO11025);
}

TEST_F(RipFake, CancelDuringFirstChunkKeepsAWellFormedPartialFile) {
  ripper->WriteWAV = true;
  platform::SetProcessMessagesHook([&] { ripper->CancelRip(); });
  chunks({{CDEX_OK, pattern(2352, 1), 1}, {CDEX_OK, pattern(2352, 2), 2}, {CDEX_RIPPING_DONE, {}, 100}});
  ripper->RipSectors(1000, 1999, (tmp / "c.wav").string());
  const std::string file = readFile(tmp / "c.wav");
  ASSERT_EQ(file.size(), 44u + 2352u);
  EXPECT_EQ(le32(file, 40), 2352u);
  EXPECT_EQ(le32(file, 4), 2352u + 36u);
  EXPECT_EQ(fake::count("CR_RipChunk"), 1);
  EXPECT_EQ(fake::count("CR_CloseRipper"), 1);

  // The next extraction starts with the flag cleared; an MP3 gets the blocks and the flush.
  TLameCoder coder;
  ripper->AttachCoder(&coder);
  ripper->Encode = true;
  fake::script().nextChunk = 0;
  chunks({{CDEX_OK, pattern(4608 + 100, 1), 1}, {CDEX_OK, pattern(2352, 2), 2}});
  ripper->RipSectors(1000, 1999, (tmp / "c.wav").string());
  EXPECT_EQ(readFile(tmp / "c.mp3"), fakelame::outputFor(0, 2304) + fakelame::outputFor(1, 50) + "<flush>");
}

// Files may not grow past `bytes` while it lives: writes beyond come back short.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, SIG_IGN);
    rlimit l = old_;
    l.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &l);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, SIG_DFL);
  }

 private:
  rlimit old_{};
};

TEST_F(RipFake, ShortWriteIsAWriteErrorAndThePartialFileStays) {
  ripper->WriteWAV = true;
  chunks({{CDEX_OK, pattern(100, 1), 1}, {CDEX_RIPPING_DONE, {}, 100}});
  {
    FileSizeLimit limit(50);
    try {
      ripper->RipSectors(0, 10, (tmp / "short.wav").string());
      FAIL() << "expected a write error";
    } catch (const ECDRIPError& e) {
      EXPECT_STREQ(e.what(), "Write error");
    }
  }
  EXPECT_EQ(fs::file_size(tmp / "short.wav"), 50u);
  EXPECT_EQ(fake::count("CR_CloseRipper"), 1);
  EXPECT_EQ(fake::count("CR_GetNumberOfJitterErrors"), 1);

  // The encoder's flush is written by the closing steps, and its failure is reported too.
  TLameCoder coder;
  ripper->AttachCoder(&coder);
  ripper->Encode = true;
  fake::script().nextChunk = 0;
  chunks({{CDEX_RIPPING_DONE, pattern(10, 1), 100}});
  {
    FileSizeLimit limit(8);  // room for "<0:5>", not for the flush after it
    EXPECT_THROW(ripper->RipSectors(0, 10, (tmp / "short.wav").string()), ECDRIPError);
  }
  EXPECT_EQ(readFile(tmp / "short.mp3"), "<0:5><fl");
  EXPECT_EQ(fakelame::script().calls.back(), "beCloseStream");
}

TEST_F(RipFake, UncreatableFileRaisesAfterClosingTheRipper) {
  bool ended = false;
  ripper->OnEndTrack = [&](TCDRIP&, uint16_t) { ended = true; };
  const std::string name = (tmp / "no" / "such" / "Track01.wav").string();
  try {
    ripper->RipTrack(1, name);
    FAIL() << "expected EFCreateError";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + name);
    EXPECT_FALSE(e.reason().empty());
  }
  EXPECT_FALSE(ended);
  EXPECT_EQ(fake::count("CR_OpenRipper"), 1);
  EXPECT_EQ(fake::count("CR_RipChunk"), 0);
  EXPECT_EQ(fake::count("CR_CloseRipper"), 1);
}

TEST_F(RipFake, RefusalsBeforeTheFileExists) {
  int progress = 0;
  ripper->OnProgress = [&](TCDRIP&, uint16_t) { ++progress; };
  fake::script().openStatus = CDEX_ERROR;
  ripper->RipSectors(0, 10, (tmp / "x.wav").string());  // silent
  EXPECT_FALSE(fs::exists(tmp / "x.wav"));
  EXPECT_EQ(progress, 0);
  EXPECT_EQ(fake::count("CR_CloseRipper"), 0);

  fake::script().setParamsStatus = CDEX_ERROR;
  try {
    ripper->RipSectors(0, 10, (tmp / "x.wav").string());
    FAIL() << "expected ECDRIPError";
  } catch (const ECDRIPError& e) {
    EXPECT_STREQ(e.what(), "Invalid CD-ROM parameters");
  }
  EXPECT_EQ(fake::count("CR_OpenRipper"), 1);
}

TEST_F(RipFake, FileNamesAndHeadersByEncodeAndWriteWav) {
  chunks({{CDEX_RIPPING_DONE, pattern(40, 1), 100}});
  ripper->WriteWAV = true;
  ripper->RipSectors(0, 10, (tmp / "Track03.wav").string());
  EXPECT_EQ(fs::file_size(tmp / "Track03.wav"), 84u);

  // Encode with no coder: the named .mp3 file is made, the audio is dropped.
  ripper->Encode = true;
  fake::script().nextChunk = 0;
  ripper->RipSectors(0, 10, (tmp / "Track03.wav").string());
  EXPECT_EQ(fs::file_size(tmp / "Track03.mp3"), 0u);

  // Encode with WriteWAV: no WAV header in front of the MP3 data; the final header frame
  // replaces the start of the stream.
  TLameCoder coder;
  ripper->AttachCoder(&coder);
  fakelame::script().infoTag = "INFO";
  fake::script().nextChunk = 0;
  ripper->RipSectors(0, 10, (tmp / "Other.name").string());
  EXPECT_EQ(readFile(tmp / "Other.mp3"), "INFO0><flush>");  // "<0:20>" begins the stream
}

TEST_F(RipFake, FlacTakesEveryWholeFrameOfOddChunksAndNoOtherHead) {
  // Chunks that cut frames, a failed chunk whose bytes are not audio, and a last chunk that
  // ends inside a frame: its part of a frame is not audio either.
  const std::vector<uint8_t> a = pattern(1001, 1), b = pattern(2352 * 3 + 3, 2), c = pattern(6, 3);
  chunks({{CDEX_OK, a, 10}, {CDEX_ERROR, pattern(400, 9), 10}, {CDEX_JITTER_ERROR, b, 50, 1, 2}, {CDEX_RIPPING_DONE, c, 100}});
  ripper->WriteWAV = true;  // no WAV header in front of a FLAC stream
  ripper->Encode = true;
  ripper->EncodeFlac = true;
  ripper->FileHead = {'I', 'D', '3'};  // an MP3 file's head only
  ripper->FlacCoder().Comments = {"TITLE=Odd"};
  ripper->RipSectors(1000, 1999, (tmp / "Track03.wav").string());
  EXPECT_EQ(ripper->OutputFileName(), (tmp / "Track03.flac").string());
  EXPECT_FALSE(fs::exists(tmp / "Track03.wav"));

  std::string delivered(a.begin(), a.end());
  delivered.append(b.begin(), b.end());
  delivered.append(c.begin(), c.end());
  delivered.resize(delivered.size() / 4 * 4);
  EXPECT_EQ(readFile(tmp / "Track03.flac").substr(0, 4), "fLaC");
  EXPECT_TRUE(decodedFlac(tmp / "Track03.flac", tmp / "d.raw") == delivered);
  EXPECT_EQ(metaflac("--show-total-samples --export-tags-to=-", tmp / "Track03.flac"),
            std::to_string(delivered.size() / 4) + "\nTITLE=Odd\n");
  EXPECT_EQ(ripper->JitterLog().back(), "1 2");
  EXPECT_TRUE(fakelame::script().calls.empty());  // the MP3 coder had nothing to do

  // Mono: frames of two bytes.
  ripper->ApplyOutputFormat(MONO22050);
  fake::script().nextChunk = 0;
  chunks({{CDEX_RIPPING_DONE, pattern(1001, 4), 100}});
  ripper->RipSectors(1000, 1999, (tmp / "mono.wav").string());
  EXPECT_EQ(metaflac("--show-channels --show-sample-rate --show-total-samples", tmp / "mono.flac"), "1\n22050\n500\n");
}

TEST_F(RipFake, AnMp3FileHeadComesBeforeTheFramesAndTheHeaderFrameFollowsIt) {
  TLameCoder coder;
  ripper->AttachCoder(&coder);
  ripper->Encode = true;
  ripper->FileHead = {'I', 'D', '3', '!'};
  fakelame::script().infoTag = "INFO";
  chunks({{CDEX_RIPPING_DONE, pattern(40, 1), 100}});
  ripper->RipSectors(0, 10, (tmp / "a.wav").string());
  EXPECT_EQ(readFile(tmp / "a.mp3"), "ID3!INFO0><flush>");  // "<0:20>" began the frames
  // The head is the file's; without encoding it is not written.
  ripper->Encode = false;
  fake::script().nextChunk = 0;
  ripper->RipSectors(0, 10, (tmp / "b.raw").string());
  EXPECT_TRUE(readFile(tmp / "b.raw") == std::string(reinterpret_cast<const char*>(pattern(40, 1).data()), 40));
}

TEST_F(RipFake, AFlacWriteErrorIsAWriteErrorAfterTheClosingSteps) {
  ripper->Encode = true;
  ripper->EncodeFlac = true;
  std::vector<fake::Chunk> c;
  fake::script().bufferSize = 2352 * 50;
  for (int i = 0; i < 20; ++i) {
    // Noise, which no FLAC level makes small.
    std::vector<uint8_t> noise(2352 * 50);
    for (size_t k = 0; k < noise.size(); ++k) noise[k] = static_cast<uint8_t>((k * 2654435761u + static_cast<size_t>(i)) >> 13);
    c.push_back({i == 19 ? CDEX_RIPPING_DONE : CDEX_OK, noise, i * 5});
  }
  for (const rlim_t room : {rlim_t{20}, rlim_t{30000}}) {  // in the stream's head; among the frames
    SCOPED_TRACE(room);
    fake::script().nextChunk = 0;
    chunks(c);
    const int closed = fake::count("CR_CloseRipper");
    {
      FileSizeLimit limit(room);
      try {
        ripper->RipSectors(0, 999, (tmp / "full.flac").string());
        FAIL() << "expected a write error";
      } catch (const ECDRIPError& e) {
        EXPECT_STREQ(e.what(), "Write error");
        EXPECT_FALSE(e.reason().empty());
      }
    }
    EXPECT_EQ(fake::count("CR_CloseRipper"), closed + 1);
    EXPECT_EQ(fs::file_size(tmp / "full.flac"), room);  // the partial file stays
    EXPECT_FALSE(ripper->FlacCoder().StreamOpen());
  }
}

TEST_F(RipFake, EncoderThatCannotStartIsAnError) {
  TLameCoder coder;
  ripper->AttachCoder(&coder);
  ripper->Encode = true;
  fakelame::script().initResult = BE_ERR_INVALID_FORMAT;
  chunks({{CDEX_RIPPING_DONE, pattern(40, 1), 100}});
  EXPECT_THROW(ripper->RipSectors(0, 10, (tmp / "e.wav").string()), ECDRIPError);
  EXPECT_EQ(fake::count("CR_CloseRipper"), 1);
  EXPECT_EQ(fake::count("CR_RipChunk"), 0);
}

TEST_F(RipFake, TheCoderFollowsTheOutputFormat) {
  TLameCoder coder;
  ripper->ApplyOutputFormat(MONO22050);
  ripper->AttachCoder(&coder);
  EXPECT_EQ(coder.Mode(), MONO);
  EXPECT_EQ(coder.SampleRate(), 22050u);
  ripper->ApplyOutputFormat(STEREO11025);
  EXPECT_EQ(coder.Mode(), STEREO);
  EXPECT_EQ(coder.SampleRate(), 11025u);
  // The settings then choose the MP3 file's rate and mode; the encoder is told the input.
  coder.SetSampleRate(44100);
  coder.SetMode(JSTEREO);
  coder.InitStream();
  EXPECT_EQ(fakelame::script().lastConfig.dwSampleRate, 11025u);
  EXPECT_EQ(fakelame::script().lastConfig.dwReSampleRate, 44100u);
  EXPECT_EQ(fakelame::script().lastConfig.nMode, JSTEREO);
  EXPECT_EQ(fakelame::script().lastConfig.dwInChannels, 0u);
}

// The coder on its own.

// With a proof, the loop writes and encodes what the proof makes of the chunks: the track's
// samples moved by the read offset, from the sectors the proof names; unset, the drive's bytes.
TEST_F(RipFake, AProofShiftsEveryChunkBeforeItIsWrittenOrEncoded) {
  // Track 1000..1001 with offset +100 samples: the proof reads 1000..1002 and keeps
  // bytes [400, 400 + 2 * 2352) of them.
  const auto read = pattern(3 * 2352, 5);
  const std::string kept(read.begin() + 400, read.begin() + 400 + 2 * 2352);
  auto deliver = [&] {
    fake::reset();
    fake::script().drives = {fake::driveWithTracks({0, 1000, 2000}, 3000)};
    fake::script().chunks = {{CDEX_OK, std::vector<uint8_t>(read.begin(), read.begin() + 3001), 50},
                             {CDEX_RIPPING_DONE, std::vector<uint8_t>(read.begin() + 3001, read.end()), 100}};
  };
  deliver();
  {
    verify::TTrackProof proof(1000, 1001, 100, 3000, false, false);
    ASSERT_EQ(proof.FirstSector(), 1000);
    ASSERT_EQ(proof.LastSector(), 1002);
    ripper->WriteWAV = true;
    ripper->TrackProof = &proof;
    ripper->RipSectors(1000, 1001, (tmp / "wav.wav").string());
    const std::string wav = readFile(tmp / "wav.wav");
    EXPECT_EQ(le32(wav, 40), kept.size());
    EXPECT_TRUE(wav.substr(44) == kept);
    EXPECT_TRUE(proof.Sums().Complete());
  }

  deliver();
  fakelame::reset();
  TLameCoder coder;
  ripper->AttachCoder(&coder);
  ripper->Encode = true;
  {
    verify::TTrackProof proof(1000, 1001, 100, 3000, false, false);
    ripper->TrackProof = &proof;
    ripper->RipSectors(1000, 1001, (tmp / "enc.wav").string());
    std::string blocks;
    for (const auto& b : fakelame::script().encodedBlocks) blocks += b;
    EXPECT_TRUE(blocks == kept) << "the encoder gets the shifted samples, none lost";
  }
  ripper->Encode = false;

  // Reads that end before the proof's last sector are not made whole with silence: the file
  // stays short, and the sums say the track was not seen whole.
  fake::script().chunks = {{CDEX_RIPPING_DONE, std::vector<uint8_t>(read.begin(), read.begin() + 3000), 100}};
  fake::script().nextChunk = 0;
  {
    verify::TTrackProof proof(1000, 1001, 100, 3000, false, false);
    ripper->TrackProof = &proof;
    ripper->RipSectors(1000, 1001, (tmp / "short.wav").string());
    EXPECT_EQ(readFile(tmp / "short.wav").size(), 44u + 3000u - 400u);
    EXPECT_FALSE(proof.Sums().Complete());
  }

  // An offset past the disc's end reads nothing: no ripper is opened, the track is silence,
  // and its progress is still reported.
  const int opened = fake::count("CR_OpenRipper");
  int reports = 0;
  ripper->OnProgress = [&](TCDRIP&, uint16_t p) {
    ++reports;
    EXPECT_EQ(p, 100);
  };
  {
    verify::TTrackProof proof(2990, 2999, 100000, 3000, false, true);
    ASSERT_FALSE(proof.Reads());
    ripper->TrackProof = &proof;
    ripper->RipSectors(2990, 2999, (tmp / "beyond.wav").string());
    EXPECT_EQ(fake::count("CR_OpenRipper"), opened);
    EXPECT_TRUE(readFile(tmp / "beyond.wav").substr(44) == std::string(10 * 2352, '\0'));
    EXPECT_EQ(reports, 1);
  }
  ripper->TrackProof = nullptr;
}

TEST(LameCoder, ValuesAtCreation) {
  fakelame::reset();
  TLameCoder c;
  EXPECT_EQ(c.SampleRate(), 44100u);
  EXPECT_EQ(c.Bitrate(), 128u);
  EXPECT_EQ(c.MaxBitrate(), 320u);
  EXPECT_EQ(c.Quality(), NORMAL_QUALITY);
  EXPECT_EQ(c.CRC(), -1);
  EXPECT_EQ(c.Mode(), STEREO);
  EXPECT_EQ(c.VBRQuality(), 4);
  EXPECT_EQ(c.Private() | c.Copyright() | c.Original() | c.WriteVBRHeader() | c.EnableVBR(), 0);
  EXPECT_EQ(c.DefaultExt, ".mp3");
  EXPECT_EQ(c.SamplesPerChunk(), 0u);
  EXPECT_EQ(c.OutputBufferSize(), 0u);
  EXPECT_EQ(c.LameVersion().DLLMajorVersion(), 9);
  EXPECT_EQ(c.LameVersion().MinorVersion(), 6);
}

TEST(LameCoder, SetterRules) {
  TLameCoder c;
  c.SetEnableVBR(true);
  EXPECT_EQ(c.WriteVBRHeader(), -1);
  c.SetWriteVBRHeader(false);
  EXPECT_EQ(c.EnableVBR(), -1);
  EXPECT_EQ(c.WriteVBRHeader(), 0);
  c.SetEnableVBR(false);
  EXPECT_EQ(c.EnableVBR() | c.WriteVBRHeader(), 0);
  c.SetMode(DUALCHANNEL);
  c.SetMode(4);
  c.SetMode(-1);
  EXPECT_EQ(c.Mode(), DUALCHANNEL);
  c.SetQuality(200);
  EXPECT_EQ(c.Quality(), 200);
}

TEST(LameCoder, ConfigurationRecordFromTheProperties) {
  fakelame::reset();
  TLameCoder c;
  c.SetMode(JSTEREO);
  c.SetQuality(HIGH_QUALITY);
  c.SetEnableVBR(true);
  c.SetVBRQuality(5);
  ASSERT_EQ(c.InitStream(), 0u);
  const BE_CONFIG& r = fakelame::script().lastConfig;
  int32_t words[19];
  std::memcpy(words, &r, sizeof words);
  EXPECT_EQ(words[0], 256);
  EXPECT_EQ(words[1], 1);
  EXPECT_EQ(words[2], 331);
  const int32_t want[] = {44100, 0, 1, 128, 320, 2, 1, 0, 0, 0, -1, 0, 0, -1, -1, 5};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(words[3 + i], want[i]) << "offset " << 12 + 4 * i;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&r);
  for (size_t i = 76; i < 331; ++i) ASSERT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(c.SamplesPerChunk(), 2304u);
  EXPECT_EQ(c.OutputBufferSize(), 8640u);

  // EncodeChunk always passes SamplesPerChunk.
  std::vector<int16_t> in(2304);
  std::vector<uint8_t> out(8640);
  uint32_t n = 0;
  c.EncodeChunk(in.data(), out.data(), n);
  EXPECT_EQ(fakelame::script().encodeCounts.back(), 2304u);
}

TEST(LameCoder, TakeValuesFromCopiesStoredSettingsOnly) {
  TLameCoder a, b;
  a.SetSampleRate(22050);
  a.SetMode(MONO);
  a.SetBitrate(96);
  a.SetMaxBitrate(256);
  a.SetQuality(LOW_QUALITY);
  a.SetPrivate(true);
  a.SetCRC(false);
  a.SetCopyright(true);
  a.SetOriginal(true);
  a.SetEnableVBR(true);
  a.SetWriteVBRHeader(false);
  a.SetVBRQuality(7);
  a.DefaultExt = ".xyz";
  a.SetInputFiles({"x.wav"});
  b.TakeValuesFrom(a);
  EXPECT_EQ(b.SampleRate(), 22050u);
  EXPECT_EQ(b.Mode(), MONO);
  EXPECT_EQ(b.Bitrate(), 96u);
  EXPECT_EQ(b.MaxBitrate(), 256u);
  EXPECT_EQ(b.Quality(), LOW_QUALITY);
  EXPECT_EQ(b.Private(), -1);
  EXPECT_EQ(b.CRC(), 0);
  EXPECT_EQ(b.Copyright(), -1);
  EXPECT_EQ(b.Original(), -1);
  EXPECT_EQ(b.EnableVBR(), -1);
  EXPECT_EQ(b.WriteVBRHeader(), 0);  // copied as stored, not through the VBR setter
  EXPECT_EQ(b.VBRQuality(), 7);
  EXPECT_EQ(b.DefaultExt, ".mp3");
  EXPECT_TRUE(b.InputFiles().empty());
}

TEST(LameCoder, OutputNamesReplaceTheExtension) {
  TLameCoder c;
  c.SetInputFiles({"Track01.wav", "/a.b/name", "plain", "/music/x.y.z", "dir.d/", ".hidden"});
  EXPECT_EQ(c.OutputFiles(), (std::vector<std::string>{"Track01.mp3", "/a.b/name.mp3", "plain.mp3",
                                                       "/music/x.y.mp3", "dir.d/.mp3", ".mp3"}));
  c.SetOutputFiles({"only"});
  EXPECT_EQ(c.OutputFiles(), (std::vector<std::string>{"only"}));
}

}  // namespace
