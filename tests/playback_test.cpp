// SPDX-License-Identifier: GPL-3.0-or-later
// The CD library's digital playback, end to end: fixture images of pseudo-random noise played
// through a private PulseAudio with a null sink, whose monitor is recorded. What the sink
// rendered must be the track's bytes exactly; the position must follow what was heard.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "cdrip/CDRIP.h"
#include "sound_server.h"
#include "test_support.h"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int32_t kFramesPerSector = 588;

int32_t playPosition(int32_t* track = nullptr) {
  int32_t first = -1, second = -1;
  CR_GetPlayPosition(&first, &second);
  if (track) *track = first;
  return second;
}

bool waitUntil(const std::function<bool()>& done, milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

class Playback : public ::testing::Test {
 protected:
  void SetUp() override {
    server.emplace();
    CR_DeInit();
  }
  void TearDown() override {
    CR_DeInit();
    server.reset();
  }

  // Offers one generated image; returns its bin's bytes.
  std::string offerDisc(const std::string& name, const std::vector<std::string>& tracks) {
    const fs::path cue = makeDisc(tmp.path(), name, tracks);
    EXPECT_EQ(CR_AddDrive(cue.c_str()), CDEX_OK);
    return readFile(tmp / (name + ".bin"));
  }

  static bool streamGone() {
    return waitUntil([] { return PrivateSoundServer::playbackStreams() == 0; }, milliseconds(1000));
  }

  std::optional<PrivateSoundServer> server;
  TempDir tmp;
};

TEST_F(Playback, TrackSoundsExactlyAndThePositionFollowsWhatWasHeard) {
  // The middle track: neither neighbour may leak into the sound.
  const std::string bin = offerDisc("noise", {"noise:40", "noise:90", "noise:30"});
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 3);
  const int32_t start = 40 * kFramesPerSector, end = 130 * kFramesPerSector;
  MonitorRecorder rec(tmp / "rec.raw");

  const auto t0 = Clock::now();
  ASSERT_EQ(r.PlayTrack(2), CDEX_OK);
  EXPECT_LT(secondsSince(t0), 0.5);  // the call returns at once; a thread does the reading
  int32_t track = 0, last = playPosition(&track);
  EXPECT_EQ(track, 2);
  EXPECT_GE(last, start);
  EXPECT_LT(last, start + 4410);
  bool seenInside = false;
  ASSERT_TRUE(waitUntil(
      [&] {
        const int32_t p = playPosition();
        const double elapsed = secondsSince(t0);
        EXPECT_GE(p, last);  // never backwards
        EXPECT_LE(p, end);
        // What was heard, not what was written: the whole track is with the server within
        // milliseconds, yet the position may not run ahead of the clock.
        EXPECT_LE(p - start, static_cast<int32_t>((elapsed + 0.02) * 44100)) << elapsed;
        seenInside |= p > start && p < end;
        last = p;
        return p == end;
      },
      milliseconds(4000)));
  EXPECT_TRUE(seenInside);
  EXPECT_GE(secondsSince(t0), 1.1);  // 90 sectors are 1.2 s of sound
  EXPECT_TRUE(streamGone());

  std::this_thread::sleep_for(milliseconds(200));
  const std::string heard = trimSilence(rec.stop());
  const std::string want = bin.substr(40 * 2352, 90 * 2352);
  ASSERT_EQ(heard.size(), want.size());
  EXPECT_TRUE(heard == want);
  EXPECT_EQ(playPosition(), end);  // and there it stays
}

TEST_F(Playback, PauseHoldsThePositionAndResumesWhereItStopped) {
  const std::string bin = offerDisc("noise", {"noise:100"});
  TCDRIP r;
  MonitorRecorder rec(tmp / "rec.raw");
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  ASSERT_TRUE(waitUntil([] { return playPosition() > 20000; }, milliseconds(2000)));

  ASSERT_EQ(r.PauseCD(true), CDEX_OK);
  const int32_t held = playPosition();
  r.IsPlaying();
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(playPosition(), held);
  EXPECT_FALSE(r.IsPlaying());
  EXPECT_EQ(r.PauseCD(true), CDEX_OK);  // pausing twice changes nothing
  EXPECT_EQ(playPosition(), held);

  ASSERT_EQ(r.PauseCD(false), CDEX_OK);
  ASSERT_TRUE(waitUntil([&] { return playPosition() >= held + 10; }, milliseconds(500)));
  ASSERT_TRUE(waitUntil([] { return playPosition() == 100 * kFramesPerSector; }, milliseconds(3000)));
  ASSERT_TRUE(streamGone());
  std::this_thread::sleep_for(milliseconds(200));
  const std::string heard = trimSilence(rec.stop());
  // The pause was silence for most of its half second, and not one frame went missing or
  // sounded twice around it.
  EXPECT_GE(longestSilence(heard), 44100u * 3 / 10);
  EXPECT_TRUE(withoutSilentFrames(heard) == withoutSilentFrames(bin));
  EXPECT_EQ(withoutSilentFrames(heard).size(), withoutSilentFrames(bin).size());
}

TEST_F(Playback, APauseNobodyAskedThePositionBeforeHoldsWhatWasHeard) {
  const std::string bin = offerDisc("noise", {"noise:100"});
  TCDRIP r;
  MonitorRecorder rec(tmp / "rec.raw");
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  // Nobody looks at the position while the track plays, then it is paused.
  std::this_thread::sleep_for(milliseconds(700));
  ASSERT_EQ(r.PauseCD(true), CDEX_OK);
  const int32_t held = playPosition();
  std::this_thread::sleep_for(milliseconds(400));
  EXPECT_EQ(playPosition(), held);
  ASSERT_EQ(r.PauseCD(false), CDEX_OK);
  // Resumed where it was held: never behind it, and on from there.
  const int32_t resumed = playPosition();
  EXPECT_GE(resumed, held);
  ASSERT_TRUE(waitUntil([] { return playPosition() == 100 * kFramesPerSector; }, milliseconds(3000)));
  ASSERT_TRUE(streamGone());
  std::this_thread::sleep_for(milliseconds(200));
  const std::string heard = trimSilence(rec.stop());
  EXPECT_TRUE(withoutSilentFrames(heard) == withoutSilentFrames(bin));
  // What sounded before the pause's silence is where the position was held, within the
  // sound server's latency; a position lost (0) or run ahead to what was only written is not.
  size_t gap = 0, best = 0, run = 0;
  for (size_t i = 0; i + 4 <= heard.size(); i += 4) {
    run = heard.compare(i, 4, std::string(4, '\0')) == 0 ? run + 1 : 0;
    if (run > best) {
      best = run;
      gap = i / 4 + 1 - run;
    }
  }
  ASSERT_GE(best, 44100u * 3 / 10) << "the pause is not heard";
  EXPECT_GT(held, 44100 * 3 / 10);
  EXPECT_NEAR(static_cast<double>(held), static_cast<double>(gap), 44100 * 0.1) << "held " << held << ", heard " << gap;
}

TEST_F(Playback, TheEndOfATrackIsNoticedWithinTwoTicks) {
  offerDisc("noise", {"noise:75", "noise:200"});
  TCDRIP r;
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  const auto t0 = Clock::now();
  // The window's one-second timer.
  std::vector<bool> ticks;
  for (int i = 1; i <= 4; ++i) {
    std::this_thread::sleep_until(t0 + milliseconds(1000 * i));
    ticks.push_back(r.IsPlaying());
  }
  // 1 s of sound: it moved up to the first tick and on to its end by the second.
  EXPECT_TRUE(ticks[0]);
  EXPECT_FALSE(ticks[2]);
  EXPECT_FALSE(ticks[3]);
  EXPECT_EQ(r.LastPlayPosition(), 75 * kFramesPerSector);
  EXPECT_TRUE(streamGone());
}

TEST_F(Playback, StopsAtOnceAlsoWhilePausedAndPlaysAgain) {
  offerDisc("noise", {"noise:300", "noise:300"});
  TCDRIP r;
  ASSERT_EQ(r.PlayTrack(2), CDEX_OK);
  ASSERT_TRUE(waitUntil([] { return playPosition() > 300 * kFramesPerSector + 4410; }, milliseconds(2000)));
  EXPECT_EQ(r.StopPlayTrack(), CDEX_OK);
  const int32_t stopped = playPosition();
  EXPECT_TRUE(streamGone());
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(playPosition(), stopped);
  EXPECT_EQ(r.PauseCD(false), CDEX_ERROR);  // nothing to resume
  EXPECT_EQ(playPosition(), stopped);

  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  ASSERT_TRUE(waitUntil([] { return playPosition() > 4410; }, milliseconds(2000)));
  ASSERT_EQ(r.PauseCD(true), CDEX_OK);
  const int32_t paused = playPosition();
  EXPECT_EQ(r.StopPlayTrack(), CDEX_OK);
  EXPECT_EQ(playPosition(), paused);
  EXPECT_TRUE(streamGone());

  // A new play after a stop in pause is not paused.
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  EXPECT_TRUE(waitUntil([] { return playPosition() > 4410; }, milliseconds(2000)));
}

TEST_F(Playback, DataTracksAbsentDiscsAndWrongNumbersDoNotPlay) {
  offerDisc("mixed", {"noise:200", "data:30", "noise:200"});
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 3);
  EXPECT_EQ(r.PlayTrack(2), CDEX_ERROR);
  EXPECT_EQ(r.PlayTrack(0), CDEX_ERROR);
  EXPECT_EQ(r.PlayTrack(4), CDEX_ERROR);
  EXPECT_EQ(PrivateSoundServer::playbackStreams(), 0);

  // The audio track after the data track plays; a refused data track stops nothing.
  ASSERT_EQ(r.PlayTrack(3), CDEX_OK);
  ASSERT_TRUE(waitUntil([] { return playPosition() > 230 * kFramesPerSector + 1000; }, milliseconds(2000)));

  // Eject while playing stops, and an absent disc does not play.
  EXPECT_EQ(r.EjectCD(true), CDEX_OK);
  EXPECT_TRUE(streamGone());
  const int32_t held = playPosition();
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(playPosition(), held);
  EXPECT_EQ(r.PlayTrack(1), CDEX_ERROR);
  r.SelectDrive(0);
  EXPECT_EQ(r.PlayTrack(1), CDEX_ERROR);

  EXPECT_EQ(r.EjectCD(false), CDEX_OK);
  r.SelectDrive(0);
  ASSERT_EQ(r.TrackCount(), 3);
  EXPECT_EQ(r.PlayTrack(1), CDEX_OK);
  EXPECT_TRUE(waitUntil([] { return playPosition() > 1000; }, milliseconds(2000)));
}

TEST_F(Playback, DriveChangeRipperAndDeInitStopPlayback) {
  const std::string binA = offerDisc("a", {"noise:300"});
  offerDisc("b", {"noise:300"});
  TCDRIP r;
  ASSERT_EQ(r.GetNumCDROM(), 2);
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  ASSERT_TRUE(waitUntil([] { return playPosition() > 1000; }, milliseconds(2000)));
  r.SelectDrive(1);
  EXPECT_TRUE(streamGone());

  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  r.SelectDrive(1);  // the same drive again: plays on
  EXPECT_EQ(PrivateSoundServer::playbackStreams(), 1);
  int32_t size = 0;
  ASSERT_EQ(CR_OpenRipper(&size, 0, 9), CDEX_OK);
  EXPECT_TRUE(streamGone());
  EXPECT_EQ(r.PlayTrack(1), CDEX_ERROR);  // not while a ripper is open
  EXPECT_EQ(PrivateSoundServer::playbackStreams(), 0);
  EXPECT_EQ(CR_CloseRipper(), CDEX_OK);

  r.SelectDrive(0);
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  ASSERT_TRUE(waitUntil([] { return PrivateSoundServer::playbackStreams() == 1; }, milliseconds(1000)));
  CR_DeInit();
  EXPECT_TRUE(streamGone());
}

TEST_F(Playback, CueSheetWhoseDataFileHasAnotherNamePlaysAndStillRips) {
  makeDisc(tmp.path(), "data", {"noise:60", "noise:50"});
  const std::string bin = readFile(tmp / "data.bin");
  fs::create_directories(tmp / "sheets");
  writeFile(tmp / "sheets" / "Album.cue",
            "FILE \"../data.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:00:60\n");
  ASSERT_EQ(CR_AddDrive((tmp / "sheets" / "Album.cue").c_str()), CDEX_OK);
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 2);
  MonitorRecorder rec(tmp / "rec.raw");
  ASSERT_EQ(r.PlayTrack(2), CDEX_OK);
  ASSERT_TRUE(waitUntil([] { return playPosition() == 110 * kFramesPerSector; }, milliseconds(3000)));
  ASSERT_TRUE(streamGone());
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_TRUE(trimSilence(rec.stop()) == bin.substr(60 * 2352, 50 * 2352));

  // The library's own handle still reads the disc after the player's came and went.
  int32_t size = 0;
  ASSERT_EQ(CR_OpenRipper(&size, 0, 59), CDEX_OK);
  std::vector<uint8_t> buf(static_cast<size_t>(size));
  std::string ripped;
  for (int guard = 0; guard < 100; ++guard) {
    int32_t n = 0;
    const CDEX_ERR st = CR_RipChunk(buf.data(), &n, 0);
    ripped.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
    if (st == CDEX_RIPPING_DONE || st == CDEX_ERROR) break;
  }
  EXPECT_EQ(CR_CloseRipper(), CDEX_OK);
  EXPECT_TRUE(ripped == bin.substr(0, 60 * 2352));
}

TEST_F(Playback, AServerThatGoesAwayEndsThePlayAndTheNextServerPlaysTheNext) {
  offerDisc("noise", {"noise:300"});
  TCDRIP r;
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  ASSERT_TRUE(waitUntil([] { return playPosition() > 4410; }, milliseconds(2000)));
  server.reset();
  std::this_thread::sleep_for(milliseconds(100));
  const int32_t held = playPosition();
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(playPosition(), held);
  EXPECT_LT(held, 300 * kFramesPerSector);
  EXPECT_EQ(r.PauseCD(true), CDEX_ERROR);

  // A server that is there again (the desktop's was restarted) serves the next press at once.
  server.emplace();
  const auto t0 = Clock::now();
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);
  EXPECT_LT(secondsSince(t0), 0.5);
  EXPECT_TRUE(waitUntil([] { return playPosition() > 4410; }, milliseconds(2000)));
  EXPECT_EQ(PrivateSoundServer::playbackStreams(), 1);
}

TEST_F(Playback, QuickCommandsInAnyOrderNeitherHangNorCrash) {
  offerDisc("a", {"noise:40", "noise:40", "data:20"});
  offerDisc("b", {"noise:40"});
  TCDRIP r;
  std::mt19937 rng(7);
  const auto t0 = Clock::now();
  ASSERT_EQ(r.PlayTrack(1), CDEX_OK);  // from here on the position is this disc's
  for (int i = 0; i < 300; ++i) {
    switch (rng() % 8) {
      case 0: case 1: case 2: r.PlayTrack(static_cast<int>(rng() % 4)); break;
      case 3: r.PauseCD(rng() % 2 == 0); break;
      case 4: r.StopPlayTrack(); break;
      case 5: r.SelectDrive(static_cast<int>(rng() % 2)); break;
      case 6: r.IsPlaying(); break;
      case 7: std::this_thread::sleep_for(milliseconds(rng() % 30)); break;
    }
    int32_t track = 0;
    const int32_t p = playPosition(&track);
    EXPECT_GE(p, 0);
    EXPECT_LE(p, 100 * kFramesPerSector) << "step " << i << " track " << track << " drive " << r.CDRomNum();
  }
  EXPECT_LT(secondsSince(t0), 20.0);
  r.StopPlayTrack();
  EXPECT_TRUE(streamGone());
}

// Without a usable sound server. Each case runs in a process of its own (as a death test),
// since the library tells the reason once per process and remembers a server that hung.
class NoSoundServer : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  TempDir tmp;
};

// Plays track 1 twice; exits 0 when both refused within `limit` seconds and the reason was
// told exactly once.
[[noreturn]] void playRefusedTwice(const fs::path& cue, double firstLimit, double secondLimit) {
  CR_DeInit();
  CR_AddDrive(cue.c_str());
  TCDRIP r;
  testing::internal::CaptureStderr();
  auto t0 = Clock::now();
  const int first = r.PlayTrack(1);
  const double firstSeconds = secondsSince(t0);
  t0 = Clock::now();
  const int second = r.PlayTrack(1);
  const double secondSeconds = secondsSince(t0);
  const std::string err = testing::internal::GetCapturedStderr();
  const bool moved = r.IsPlaying() || playPosition() != 0;
  // The window tells the user the library's reason.
  char why[128] = {};
  CR_GetRipperProblem(why, sizeof why);
  const bool named = std::string(why) == "No sound: the sound server cannot be reached";
  const auto told = lines(err);
  std::fprintf(stderr, "statuses %d %d, %.2f s and %.2f s, moved %d, problem '%s', said:\n%s", first, second,
               firstSeconds, secondSeconds, moved, why, err.c_str());
  const bool ok = named && first == CDEX_ERROR && second == CDEX_ERROR && firstSeconds < firstLimit &&
                  secondSeconds < secondLimit && !moved && told.size() == 1 &&
                  told[0].rfind("tessaly: no sound server for playback (", 0) == 0;
  CR_DeInit();
  std::exit(ok ? 0 : 1);
}

TEST_F(NoSoundServer, PlayFailsWithinASecondAndSaysWhyOnce) {
  const fs::path cue = makeDisc(tmp.path(), "disc", {"noise:100"});
  const std::string nowhere = "unix:" + (tmp / "no-such-socket").string();
  EXPECT_EXIT(
      {
        setenv("PULSE_SERVER", nowhere.c_str(), 1);
        playRefusedTwice(cue, 1.0, 1.0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(NoSoundServer, AServerThatNeverAnswersFailsWithinSecondsThenAtOnce) {
  const fs::path cue = makeDisc(tmp.path(), "disc", {"noise:100"});
  // A socket that takes connections into its backlog and never says a word.
  const fs::path path = tmp / "silent";
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 8), 0);
  const std::string silent = "unix:" + path.string();
  EXPECT_EXIT(
      {
        setenv("PULSE_SERVER", silent.c_str(), 1);
        playRefusedTwice(cue, 4.0, 0.5);
      },
      testing::ExitedWithCode(0), "");
  close(fd);
}

}  // namespace
