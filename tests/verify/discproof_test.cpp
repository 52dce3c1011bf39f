// SPDX-License-Identifier: GPL-3.0-or-later
// A disc's proof: each track's read bounded by the audio around it (a data track first or
// last, an Enhanced CD's second session), the first and last audio tracks known as such,
// and the log row a run gets for a track.
#include <gtest/gtest.h>

#include "verify/DiscProof.h"

using namespace verify;

namespace {
// Data, two audio tracks, data in a session of its own.
const std::vector<TTocTrack> kMixed = {
    {1, 0, 999, false}, {2, 1000, 1999, true}, {3, 2000, 2999, true}, {4, 14400, 15999, false}};
}

TEST(DiscProof, ReadsStayWithinTheAudioAroundEachTrack) {
  TDiscProof disc(kMixed, -700);
  EXPECT_EQ(disc.Ids().AudioTracks, 2);
  EXPECT_EQ(disc.AudioOrdinal(1), 0);
  EXPECT_EQ(disc.AudioOrdinal(3), 2);
  // Track 2 with -700 would reach into the data track: silence instead.
  const TTrackProof second = disc.TrackProof(2);
  EXPECT_EQ(second.FirstSector(), 1000);
  EXPECT_EQ(second.Plan().LeadingSilence, 700u);
  // Track 3 reads its neighbour before it.
  const TTrackProof third = disc.TrackProof(3);
  EXPECT_EQ(third.FirstSector(), 1998);
  EXPECT_EQ(third.LastSector(), 2998);

  TDiscProof later(kMixed, 700);
  const TTrackProof last = later.TrackProof(3);
  EXPECT_EQ(last.LastSector(), 2999);  // never into the gap before the data session
  EXPECT_EQ(last.Plan().TrailingSilence, 700u);
  EXPECT_EQ(later.TrackProof(2).LastSector(), 2001);
  EXPECT_THROW(later.TrackProof(9), std::out_of_range);
}

TEST(DiscProof, FirstAndLastAudioTracksSkipTheirEdgesInTheSums) {
  // A track of value-1 words everywhere: the v1 sum is the sum of the positions that count.
  auto v1Of = [](TTrackProof proof) {
    const std::vector<uint8_t> sector(2352, 0);
    std::vector<uint8_t> ones(2352);
    for (size_t i = 0; i < ones.size(); i += 4) ones[i] = 1;
    for (int s = proof.FirstSector(); s <= proof.LastSector(); ++s) proof.Take(ones);
    proof.Finish();
    return proof.Sums().ArV1();
  };
  TDiscProof disc(kMixed, 0);
  const uint64_t n = 1000 * 588;
  EXPECT_EQ(v1Of(disc.TrackProof(2)), static_cast<uint32_t>(n * (n + 1) / 2 - 2939u * 2940u / 2));
  EXPECT_EQ(v1Of(disc.TrackProof(3)), static_cast<uint32_t>((n - 2940) * (n - 2940 + 1) / 2));
}

TEST(DiscProof, ARowCarriesTheSumsTheVerdictAndTheReading) {
  TDiscProof disc(kMixed, 0);
  TTrackProof proof = disc.TrackProof(2);
  const std::vector<uint8_t> loud(2352, 0x7f);
  for (int s = proof.FirstSector(); s <= proof.LastSector(); ++s) proof.Take(loud);
  proof.Finish();
  TRipLogTrack row = disc.Row(2, proof.Sums(), "/m/a.wav", "OK", 1, {"5 6"});
  EXPECT_EQ(row.Peak, 0x7f7fu);
  EXPECT_TRUE(row.ChecksumsKnown);
  EXPECT_TRUE(row.ArKnown);
  EXPECT_EQ(row.ReadErrors, 1);
  EXPECT_EQ(row.Verification.Text(), "Not verified (the database was not asked)");
  row = disc.Row(2, proof.Sums(), "/m/a.mp3", "OK", 0, {}, true);
  EXPECT_FALSE(row.ArKnown);
  EXPECT_EQ(row.Verification.Text(), "Not verified (the samples were converted before they were written)");
  // A track cut short by a cancel is not compared.
  TTrackProof cut = disc.TrackProof(3);
  cut.Take(loud);
  EXPECT_EQ(disc.Row(3, cut.Sums(), "/m/b.wav", "Cancelled", 0, {}).Verification.Text(),
            "Not verified (the track was not read to its end)");
}
