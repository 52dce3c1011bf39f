// SPDX-License-Identifier: GPL-3.0-or-later
// TCDRIP's drive and table-of-contents rules, against the scriptable fake library.
#include <gtest/gtest.h>

#include <cstring>

#include "cdrip/CDRIP.h"
#include "fake_cdrip.h"

namespace {

class CdripComponent : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    CDRipParams() = CDROMPARAMS{};
  }
};

fake::Drive namedDrive(const char* name, uint8_t format = STEREO44100, int32_t speed = 24) {
  fake::Drive d = fake::driveWithTracks({0, 15000}, 30000, name);
  d.params.nOutputFormat = format;
  d.params.nSpeed = speed;
  d.params.DriveType = SONY;
  d.params.nDensity = 77;
  return d;
}

TEST_F(CdripComponent, CreationReadsParametersAndTrackList) {
  fake::script().version = -7;
  fake::script().drives = {namedDrive("ACME CDR-1 1.0", MONO22050, 40)};
  TCDRIP r;
  EXPECT_EQ(r.Version, "-7");
  EXPECT_EQ(r.DriveName(), "ACME CDR-1 1.0");
  EXPECT_EQ(r.CDRomNum(), 0);
  EXPECT_EQ(r.OutputFormat(), MONO22050);
  EXPECT_EQ(r.Speed, 40);
  EXPECT_EQ(r.DriveTable.DriveType, SONY);
  EXPECT_EQ(int32_t{r.DriveTable.Density}, 77);
  EXPECT_TRUE(r.JitterCorrect());
  EXPECT_EQ(CDRipParams().bJitterCorrection, -1);
  ASSERT_EQ(r.TrackCount(), 2);
  ASSERT_EQ(r.Tracks().Count(), 2);
  EXPECT_EQ(r.Tracks().Strings(0), "Track01");
  EXPECT_EQ(r.Tracks().Objects(1).TrackNum, 2);
  EXPECT_EQ(r.Tracks().Objects(1).StartSector, 15000);
  EXPECT_EQ(r.Tracks().Objects(1).EndSector, 29999);
  EXPECT_EQ(r.JitterErrorCount(), 0);
  // Version is asked before the library is initialised.
  ASSERT_GE(fake::script().calls.size(), 2u);
  EXPECT_EQ(fake::script().calls[0], "CR_GetCDRipVersion");
  EXPECT_EQ(fake::script().calls[1], "CR_Init");
}

TEST_F(CdripComponent, FailedInitLeavesEverythingEmpty) {
  fake::script().initStatus = CDEX_ERROR;
  fake::script().drives = {namedDrive("X")};
  TCDRIP r;
  EXPECT_EQ(r.TrackCount(), 0);
  EXPECT_EQ(r.DriveName(), "");
  EXPECT_FALSE(r.JitterCorrect());
  EXPECT_EQ(fake::count("CR_GetCDROMParameters"), 0);
  EXPECT_EQ(fake::count("CR_ReadToc"), 0);
  EXPECT_EQ(r.DiscID(), "000000");
}

TEST_F(CdripComponent, RefusedParametersAtCreationKeepZeroValuesButTocIsRead) {
  fake::Drive d = namedDrive("X", MONO11025);
  d.getParamsStatus = CDEX_ERROR;
  fake::script().drives = {d};
  TCDRIP r;
  EXPECT_FALSE(r.JitterCorrect());
  EXPECT_EQ(r.OutputFormat(), STEREO44100);
  EXPECT_EQ(r.Speed, 0);
  EXPECT_EQ(r.DriveName(), "");
  EXPECT_EQ(r.TrackCount(), 2);
}

TEST_F(CdripComponent, FlagByteSixteenAloneMeansAudio) {
  fake::Drive d = fake::driveWithTracks({0, 100, 200, 300}, 400);
  d.toc[1].btFlag = 17;
  d.toc[2].btFlag = 20;
  d.toc[3].btFlag = 0;
  fake::script().drives = {d};
  TCDRIP r;
  EXPECT_TRUE(r.IsAudioTrack(0));
  EXPECT_FALSE(r.IsAudioTrack(1));
  EXPECT_FALSE(r.IsAudioTrack(2));
  EXPECT_FALSE(r.IsAudioTrack(3));
  EXPECT_EQ(r.Tracks().Objects(2).TrackType, "Data");
  EXPECT_THROW(r.IsAudioTrack(4), EListError);
  EXPECT_THROW(r.IsAudioTrack(-1), EListError);
}

TEST_F(CdripComponent, DiscIdFollowsTheChecksumRule) {
  fake::script().drives = {fake::driveWithTracks({0}, 1000), fake::driveWithTracks({0, 15000}, 30000),
                           fake::driveWithTracks({4000}, 9000)};
  TCDRIP r;
  EXPECT_EQ(r.DiscID(), "000200");  // one track at 0: 512, plus its start 0
  r.SelectDrive(1);
  EXPECT_EQ(r.DiscID(), "031800");  // 512 + 202240
  r.SelectDrive(2);
  // A = 4150: M 0, S 55, F 25 -> 14105, plus the single track's start 4000.
  EXPECT_EQ(r.DiscID(), "0046B9");
}

TEST_F(CdripComponent, DiscIdWrapsAt32BitsAndIsUpperCase) {
  std::vector<uint32_t> starts;
  for (int i = 0; i < 99; ++i) starts.push_back(0xFFFFFF00u / 100u * static_cast<uint32_t>(i));
  fake::script().drives = {fake::driveWithTracks(starts, 0xFFFFFFF0u)};
  TCDRIP r;
  uint32_t sum = 0;
  for (uint32_t s : starts) {
    const uint32_t a = s + 150;
    sum += (a / 4500) * 65536 + ((a / 75) % 60) * 256 + a % 75;
  }
  char want[16];
  std::snprintf(want, sizeof want, "%06X", sum);
  EXPECT_EQ(r.DiscID(), want);
  EXPECT_EQ(r.DiscID().find_first_of("abcdef"), std::string::npos);
}

TEST_F(CdripComponent, TrackDurationsInMinutesAndSeconds) {
  fake::script().drives = {fake::driveWithTracks({0, 22000, 26499, 26574}, 26574 + 333076)};
  TCDRIP r;
  EXPECT_EQ(r.TrackDuration(0), "4:53");
  EXPECT_EQ(r.TrackDuration(1), "0:59");
  EXPECT_EQ(r.TrackDuration(2), "0:01");
  EXPECT_EQ(r.TrackDuration(3), "74:01");
  EXPECT_EQ(r.TrackDuration(4), "00:00");
  EXPECT_EQ(r.TrackDuration(-1), "00:00");
}

TEST_F(CdripComponent, EntryNamesArePaddedToTwoDigitsNeverCut) {
  EXPECT_EQ(TwoDigitText(7), "07");
  EXPECT_EQ(TwoDigitText(12), "12");
  EXPECT_EQ(TwoDigitText(100), "100");
  EXPECT_EQ(TwoDigitText(65536 + 3), "03");  // low 16 bits
}

TEST_F(CdripComponent, DriveWithoutDiscGivesEmptyList) {
  fake::Drive empty = namedDrive("EMPTY");
  empty.tocStatus = CDEX_ERROR;
  fake::script().drives = {namedDrive("FULL"), empty};
  TCDRIP r;
  ASSERT_EQ(r.TrackCount(), 2);
  r.SelectDrive(1);
  EXPECT_EQ(r.CDRomNum(), 1);
  EXPECT_EQ(r.DriveName(), "EMPTY");
  EXPECT_EQ(r.TrackCount(), 0);
  EXPECT_EQ(r.Tracks().Count(), 0);
  EXPECT_EQ(r.DiscID(), "000000");
}

TEST_F(CdripComponent, RefusedSelectionKeepsDriveButRereadsCurrentToc) {
  fake::Drive second = namedDrive("SECOND", MONO44100, 8);
  second.selectStatus = CDEX_ERROR;
  fake::script().drives = {namedDrive("FIRST"), second};
  TCDRIP r;
  fake::script().drives[0].toc = fake::driveWithTracks({0, 10, 20}, 30).toc;
  r.SelectDrive(1);
  EXPECT_EQ(r.CDRomNum(), 0);
  EXPECT_EQ(r.DriveName(), "FIRST");
  EXPECT_EQ(r.OutputFormat(), STEREO44100);
  EXPECT_EQ(r.TrackCount(), 3);  // rebuilt from the library's current drive
  r.SelectDrive(-1);             // passed on like any other number
  EXPECT_EQ(r.CDRomNum(), 0);
  EXPECT_EQ(fake::count("CR_SetActiveCDROM"), 2);
}

TEST_F(CdripComponent, SelectionRefreshesPropertiesButNotJitter) {
  fake::Drive second = namedDrive("SECOND", MONO11025, 8);
  second.params.bJitterCorrection = 0;
  fake::script().drives = {namedDrive("FIRST"), second};
  TCDRIP r;
  r.SelectDrive(1);
  EXPECT_EQ(r.DriveName(), "SECOND");
  EXPECT_EQ(r.OutputFormat(), MONO11025);
  EXPECT_EQ(r.Speed, 8);
  EXPECT_TRUE(r.JitterCorrect());                  // the property stays
  EXPECT_EQ(CDRipParams().bJitterCorrection, 0);  // the record has the library's value
}

TEST_F(CdripComponent, DriveNameIsTheWholeNulTerminatedField) {
  fake::Drive d = namedDrive("");
  std::memset(d.params.lpszCDROMID, 'A', 255);
  d.params.lpszCDROMID[255] = '\0';
  fake::script().drives = {d};
  TCDRIP r;
  EXPECT_EQ(r.DriveName(), std::string(255, 'A'));
}

TEST_F(CdripComponent, JitterAndFormatSettersWriteTheRecordOnlyOnChange) {
  fake::script().drives = {namedDrive("X")};
  TCDRIP r;
  CDRipParams().bJitterCorrection = 12345;
  r.ApplyJitterCorrect(true);  // same value: nothing written
  EXPECT_EQ(CDRipParams().bJitterCorrection, 12345);
  r.ApplyJitterCorrect(false);
  EXPECT_EQ(CDRipParams().bJitterCorrection, 0);
  r.ApplyJitterCorrect(true);
  EXPECT_EQ(CDRipParams().bJitterCorrection, -1);

  CDRipParams().nOutputFormat = 9;
  r.ApplyOutputFormat(STEREO44100);  // unchanged property: record left alone
  EXPECT_EQ(CDRipParams().nOutputFormat, 9);
  r.ApplyOutputFormat(STEREO11025);
  EXPECT_EQ(CDRipParams().nOutputFormat, STEREO11025);
  EXPECT_EQ(r.OutputFormat(), STEREO11025);
  EXPECT_EQ(fake::count("CR_SetCDROMParameters"), 0);  // nothing sent until ApplyParameters
}

TEST_F(CdripComponent, ApplyParametersSendsTheRecord) {
  fake::script().drives = {namedDrive("X")};
  TCDRIP r;
  r.ApplyJitterCorrect(false);
  EXPECT_TRUE(r.ApplyParameters());
  EXPECT_EQ(fake::script().lastSetParams.bJitterCorrection, 0);
  fake::script().setParamsStatus = CDEX_ERROR;
  EXPECT_FALSE(r.ApplyParameters());
  fake::script().setParamsStatus = 7;  // any other status is success
  EXPECT_TRUE(r.ApplyParameters());
  fake::script().setParamsThrows = true;
  try {
    r.ApplyParameters();
    FAIL() << "expected ECDRIPError";
  } catch (const ECDRIPError& e) {
    EXPECT_STREQ(e.what(), "Error setting parameters");
  }
}

TEST_F(CdripComponent, StoredFormValuesSelectDriveZero) {
  fake::script().drives = {namedDrive("ZERO"), namedDrive("ONE")};
  fake::script().active = 1;
  TCDRIP r;
  EXPECT_EQ(r.CDRomNum(), 1);
  ApplyStoredRipperValues(r, nullptr);
  EXPECT_EQ(r.CDRomNum(), 0);
  EXPECT_EQ(r.DriveName(), "ZERO");
  EXPECT_TRUE(r.WriteWAV);
  EXPECT_FALSE(r.Encode);
  EXPECT_EQ(r.Version, "115");
  EXPECT_EQ(r.Speed, 32);
  EXPECT_EQ(int32_t{r.DriveTable.Density}, 16777216);
  EXPECT_EQ(int32_t{r.DriveTable.Atapi}, -1);
}

TEST_F(CdripComponent, PlayerCallsPassLibraryBooleans) {
  fake::script().drives = {namedDrive("X")};
  TCDRIP r;
  r.PauseCD(true);
  r.PauseCD(false);
  r.EjectCD(true);
  r.PlayTrack(3);
  EXPECT_EQ(fake::script().pauseArgs, (std::vector<int32_t>{-1, 0}));
  EXPECT_EQ(fake::script().ejectArgs, (std::vector<int32_t>{-1}));
  EXPECT_EQ(fake::script().playArgs, (std::vector<int32_t>{3}));
}

TEST_F(CdripComponent, IsPlayingMeansMovedByTenOrMore) {
  fake::script().drives = {namedDrive("X")};
  fake::script().playPositions = {-10, -1, 9, 100, 109, 50, 50};
  TCDRIP r;
  EXPECT_EQ(r.LastPlayPosition(), 0);
  EXPECT_TRUE(r.IsPlaying());   // 0 -> -10
  EXPECT_FALSE(r.IsPlaying());  // -10 -> -1
  EXPECT_TRUE(r.IsPlaying());   // -1 -> 9
  EXPECT_TRUE(r.IsPlaying());   // 9 -> 100
  EXPECT_FALSE(r.IsPlaying());  // 100 -> 109
  EXPECT_TRUE(r.IsPlaying());   // backwards by 59
  EXPECT_FALSE(r.IsPlaying());
  EXPECT_EQ(r.LastPlayPosition(), 50);
}

}  // namespace
