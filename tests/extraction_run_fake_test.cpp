// SPDX-License-Identifier: GPL-3.0-or-later
// The extraction run against the scriptable CD library, for what no image does: a drive that
// refuses to open a track. The refusal must not pass for a finished track.
#include <gtest/gtest.h>

#include "run/ExtractionRun.h"
#include "app/globals.h"
#include "cdrip/CDRIP.h"
#include "fake_cdrip.h"
#include "mp3info/MP3Info.h"
#include "platform/events.h"
#include "test_support.h"

namespace {

using namespace testing_support;

// Two ticked rows; records the row statuses and the end of the run.
class Host : public TExtractionHost {
 public:
  std::vector<std::string> status{"--", "--"};
  std::vector<std::string> opened;
  int finished = -1;
  int RowCount() const override { return 2; }
  bool RowChecked(int) const override { return true; }
  std::string RowCaption(int row) const override { return "Song " + std::to_string(row + 1); }
  std::string RowTrackIndex(int row) const override { return std::to_string(row); }
  void SetRowStatus(int row, const std::string& s, const std::string&) override { status[static_cast<size_t>(row)] = s; }
  void ShowStatus(int, const std::string&) override {}
  void ShowPath(const std::string&) override {}
  int AskOverwrite(const std::string&) override { return oaYes; }
  bool Cancelled() const override { return false; }
  void ResetProgress() override {}
  void OpenFolder(const std::string& f) override { opened.push_back(f); }
  void Finish(int r) override { finished = r; }
};

TEST(ExtractionRunFake, ARefusedTrackEndsTheRunAndAnOlderFileIsNotItsResult) {
  fake::reset();
  CDRipParams() = CDROMPARAMS{};
  platform::SetProcessMessagesHook(nullptr);
  fake::script().drives = {fake::driveWithTracks({0, 1000}, 2000)};
  fake::script().chunks = {{CDEX_RIPPING_DONE, std::vector<uint8_t>(2352, 1), 100}};
  TCDRIP ripper;
  ripper.WriteWAV = true;
  int reports = 0;
  ripper.OnProgress = [&](TCDRIP&, uint16_t) { ++reports; };
  // The drive opens the first track and refuses the second.
  ripper.OnBeginTrack = [](TCDRIP&, uint16_t track) { fake::script().openStatus = track == 2 ? CDEX_ERROR : CDEX_OK; };
  TMP3Info tagger;
  TempDir tmp;
  const TMP3Settings saved = Settings;
  Settings.OutDir = tmp.path().string();
  Settings.OpenWhenDone = true;
  writeFile(tmp / "Song 2.wav", "older");

  Host host;
  host.status[1] = "kept";
  TExtractionRun run(host, ripper, tagger, Settings);
  try {
    run.Perform(TRunOutput::Wav);
    ADD_FAILURE() << "no error";
  } catch (const ETrackNotRead& e) {
    EXPECT_EQ(std::string(e.what()), "The drive refused to read track 2");
  }
  Settings = saved;
  EXPECT_EQ(reports, 1);  // the first track's progress still reached the front end's handler
  EXPECT_TRUE(ripper.OnProgress);
  EXPECT_EQ(host.status, (std::vector<std::string>{"OK", "kept"}));
  EXPECT_EQ(readFile(tmp / "Song 2.wav"), "older");
  EXPECT_EQ(fs::file_size(tmp / "Song 1.wav"), 44u + 2352u);
  EXPECT_EQ(host.finished, 1);
  EXPECT_EQ(host.opened, (std::vector<std::string>{tmp.path().string() + "/"}));
}

TEST(ExtractionRunFake, ADiscChangedSinceTheListingIsToldFromTheLibrarysReason) {
  fake::reset();
  CDRipParams() = CDROMPARAMS{};
  platform::SetProcessMessagesHook(nullptr);
  fake::script().drives = {fake::driveWithTracks({0, 1000}, 2000)};
  fake::script().openStatus = CDEX_ERROR;
  TCDRIP ripper;
  ripper.WriteWAV = true;
  TMP3Info tagger;
  TempDir tmp;
  const TMP3Settings saved = Settings;
  Settings.OutDir = tmp.path().string();
  Host host;
  TExtractionRun run(host, ripper, tagger, Settings);
  // A refusal for another reason is not a changed disc.
  fake::script().ripperProblem = "";
  EXPECT_THROW(run.Perform(TRunOutput::Wav), ETrackNotRead);
  EXPECT_FALSE(DiscChangedSinceListing());
  fake::script().ripperProblem = "The disc was changed: list it again";
  EXPECT_THROW(run.Perform(TRunOutput::Wav), ETrackNotRead);
  EXPECT_TRUE(DiscChangedSinceListing());
  Settings = saved;
  EXPECT_EQ(host.status, (std::vector<std::string>{"--", "--"}));
}

}  // namespace
