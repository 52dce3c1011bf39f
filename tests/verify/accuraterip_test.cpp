// SPDX-License-Identifier: GPL-3.0-or-later
// The AccurateRip disc identifiers, the look-up path, the answer's parser and the verdicts;
// the network cases against sockets on 127.0.0.1 that refuse or never answer.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <discid/discid.h>

#include <random>

#include "tests/verify/ar_answers.h"
#include "verify/AccurateRip.h"

using namespace verify;
using namespace ar_answers;

namespace {

const std::vector<TTocTrack> kThreeTracks = tocOf({0, 15000, 31000}, 47000);

}  // namespace

TEST(ArDiscIds, MatchAPublishedLookUpOfATwentyTrackDisc) {
  // A disc whose look-up was published with its TOC (CDDB offsets, i.e. LSN + 150, and the
  // lead-out LSN 604760): dBAR-020-004422d7-04240b28-291f7f14 under 7/d/2/.
  const std::vector<int> cddb = {150,    12709,  22804,  35141,  49687,  64064,  77211,  90398,  105428, 224854,
                                 236775, 248697, 258296, 272526, 286350, 301199, 316242, 328952, 342126, 589998};
  std::vector<int> starts;
  for (int o : cddb) starts.push_back(o - 150);
  const TArDiscIds ids = ArDiscIds(tocOf(starts, 604760));
  EXPECT_EQ(ArDiscIdText(ids), "004422d7-04240b28-291f7f14");
  EXPECT_EQ(ArLookupPath(ids), "7/d/2/dBAR-020-004422d7-04240b28-291f7f14.bin");
  EXPECT_EQ(ArLookupUrl("http://www.accuraterip.com/", ids),
            "http://www.accuraterip.com/accuraterip/7/d/2/dBAR-020-004422d7-04240b28-291f7f14.bin");
}

TEST(ArDiscIds, AnEnhancedCdsDataTrackCountsForTheLeadOutOnly) {
  // Two audio tracks, then a data session after the 11400-sector gap, ending at 40000.
  // ID1 = 0 + 10000 + 40000; ID2 = 1*1 + 10000*2 + 40000*3 (lead-out weighed as audio + 1);
  // freedb: start seconds 2, 135, 420 (digit sums 2 + 9 + 6 = 17), 535 - 2 = 533 s, 3 tracks.
  const TArDiscIds ids = ArDiscIds(tocOf({0, 10000, 31400}, 40000, {3}));
  EXPECT_EQ(ids.AudioTracks, 2);
  EXPECT_EQ(ids.Id1, 50000u);
  EXPECT_EQ(ids.Id2, 140001u);
  EXPECT_EQ(ids.CddbId, 0x11021503u);
  EXPECT_EQ(ArLookupPath(ids), "0/5/3/dBAR-002-0000c350-000222e1-11021503.bin");
  // A data track first: the audio track keeps its number as its weight.
  const TArDiscIds first = ArDiscIds(tocOf({0, 10000}, 30000, {1}));
  EXPECT_EQ(first.Id1, 40000u);
  EXPECT_EQ(first.Id2, 10000u * 2 + 30000u * 2);
}

TEST(ArDiscIds, TheFreedbIdIsLibdiscidsOnEveryDiscItAccepts) {
  std::mt19937 rng(22);
  int accepted = 0;
  for (int round = 0; round < 200; ++round) {
    const int tracks = 1 + static_cast<int>(rng() % 99);
    std::vector<int> starts;
    int at = static_cast<int>(rng() % 3000);
    for (int i = 0; i < tracks; ++i, at += 300 + static_cast<int>(rng() % 4000)) starts.push_back(at);
    const int leadOut = at + static_cast<int>(rng() % 200);
    const std::vector<TTocTrack> toc = tocOf(starts, leadOut, rng() % 4 == 0 ? std::vector<int>{tracks} : std::vector<int>{});
    DiscId* disc = discid_new();
    int offsets[100] = {leadOut + 150};
    for (int i = 0; i < tracks; ++i) offsets[i + 1] = starts[i] + 150;
    if (discid_put(disc, 1, tracks, offsets)) {
      ++accepted;
      EXPECT_EQ(ArDiscIds(toc).CddbId, std::stoul(discid_get_freedb_id(disc), nullptr, 16)) << round;
    }
    discid_free(disc);
  }
  EXPECT_GT(accepted, 100);
}

TEST(ArResponse, ParsesPressingsAndKeepsTheWholeBlocksOfATruncatedBody) {
  const TArDiscIds ids = ArDiscIds(kThreeTracks);
  const std::string one = block(ids, {{5, 0x11111111}, {7, 0x22222222}, {200, 0x33333333}});
  const std::string two = block(ids, {{1, 0xaaaaaaaa}, {0, 0}, {2, 0xcccccccc}});
  const TArResponse r = ParseArResponse(one + two);
  ASSERT_EQ(r.Blocks.size(), 2u);
  EXPECT_FALSE(r.Truncated);
  EXPECT_EQ(r.Blocks[0].Ids, ids);
  EXPECT_EQ(r.Blocks[0].Tracks[2].Confidence, 200);
  EXPECT_EQ(r.Blocks[0].Tracks[2].Crc, 0x33333333u);
  EXPECT_EQ(r.Blocks[0].Tracks[1].Frame450, 0x451u);
  EXPECT_EQ(r.Blocks[1].Tracks[0].Crc, 0xaaaaaaaau);
  // Every cut of the body keeps the whole blocks before the cut, and never reads past it.
  for (size_t cut = 0; cut < one.size() + two.size(); ++cut) {
    const std::string body = (one + two).substr(0, cut);
    const TArResponse t = ParseArResponse(std::string_view(body));
    EXPECT_EQ(t.Blocks.size(), cut < one.size() ? 0u : 1u) << cut;
    EXPECT_EQ(t.Truncated, cut != 0 && cut != one.size()) << cut;
  }
}

// The cases a served answer can give, decided from the body (the transport is apart).
TEST(ArVerdict, MatchesMismatchesPressingsAndAbsence) {
  const TArDiscIds ids = ArDiscIds(kThreeTracks);
  const std::string url = ArLookupUrl("http://127.0.0.1:1", ids);
  auto lookupOf = [&](const std::string& body, long status = 200) {
    return ArLookupFromAnswer(url, status, body, ids);
  };
  // A match: v1 of track 1 in the database.
  const TArLookup match = lookupOf(block(ids, {{5, 0x11111111}, {7, 0x22222222}, {3, 0x33333333}}));
  ASSERT_EQ(match.Status, TArLookupStatus::Found);
  EXPECT_EQ(ArVerdict(match, 1, 0x11111111, 0x99999999, true).Text(), "Accurately ripped (confidence 5) [v1]");
  // A mismatch counts the submissions of the track.
  EXPECT_EQ(ArVerdict(match, 2, 0x12345678, 0x87654321, true).Text(), "Does not match (7 submissions)");
  // A track not read to its end is not compared.
  EXPECT_EQ(ArVerdict(match, 1, 0x11111111, 0, false).Match, TArMatch::NotVerified);

  // Confidence 200 on v2 only.
  const TArLookup v2 = lookupOf(block(ids, {{200, 0xbeefbeef}, {200, 0x2}, {200, 0x3}}));
  EXPECT_EQ(ArVerdict(v2, 1, 0x0badf00d, 0xbeefbeef, true).Text(), "Accurately ripped (confidence 200) [v2]");

  // Two pressings: the matching one's confidence; a mismatch counts both pressings' submissions.
  const TArLookup two = lookupOf(block(ids, {{4, 0xa1}, {4, 0xa2}, {4, 0xa3}}) +
                                 block(ids, {{9, 0xb1}, {0, 0}, {9, 0xb3}}));
  EXPECT_EQ(ArVerdict(two, 1, 0xb1, 0, true).Text(), "Accurately ripped (confidence 9) [v1]");
  EXPECT_EQ(ArVerdict(two, 3, 0, 0xa3, true).Text(), "Accurately ripped (confidence 4) [v2]");
  EXPECT_EQ(ArVerdict(two, 2, 0xc2, 0xd2, true).Text(), "Does not match (4 submissions)");
  // A block of another disc under the same name says nothing.
  TArDiscIds other = ids;
  other.Id2 ^= 1;
  const TArLookup foreign = lookupOf(block(other, {{4, 0xa1}, {4, 0xa2}, {4, 0xa3}}));
  EXPECT_EQ(foreign.Status, TArLookupStatus::BadAnswer);

  // 404: the disc is not in the database, said as such, not an error.
  const TArLookup absent = lookupOf("", 404);
  EXPECT_EQ(absent.Status, TArLookupStatus::NotPresent);
  EXPECT_EQ(absent.Text(), "AccurateRip: the disc is not in the database");
  EXPECT_EQ(ArVerdict(absent, 1, 1, 2, true).Text(), "Not present in the database");

  // A truncated body: the whole pressing before the cut still decides.
  const std::string full = block(ids, {{6, 0x61}, {6, 0x62}, {6, 0x63}});
  const TArLookup cut = lookupOf(full + block(ids, {{1, 1}, {1, 2}, {1, 3}}).substr(0, 20));
  ASSERT_EQ(cut.Status, TArLookupStatus::Found);
  EXPECT_TRUE(cut.Response.Truncated);
  EXPECT_EQ(ArVerdict(cut, 3, 0x63, 0, true).Text(), "Accurately ripped (confidence 6) [v1]");
  const TArLookup cutOnly = lookupOf(full.substr(0, full.size() - 1));
  EXPECT_EQ(cutOnly.Status, TArLookupStatus::BadAnswer);
  EXPECT_EQ(ArVerdict(cutOnly, 1, 0x61, 0, true).Match, TArMatch::NotVerified);
}

namespace {
// A listening socket on 127.0.0.1, port chosen by the system, that never accepts: a connection
// is made and no answer ever comes.
struct SilentListener {
  int fd = -1;
  int port = 0;
  explicit SilentListener(bool listening) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n))
      throw std::runtime_error("bind");
    port = ntohs(a.sin_port);
    if (listening) ::listen(fd, 8);
    else {
      ::close(fd);  // the port is free again: a connection is refused
      fd = -1;
    }
  }
  ~SilentListener() {
    if (fd >= 0) ::close(fd);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }
};
}  // namespace

TEST(ArLookup, NoNetworkAndAnAnswerThatNeverComesAreSaidPlainly) {
  const TArDiscIds ids = ArDiscIds(kThreeTracks);
  const SilentListener refused(false);
  const TArLookup down = ArLookup(refused.url(), ids, std::chrono::milliseconds(3000));
  EXPECT_EQ(down.Status, TArLookupStatus::Unreachable);
  EXPECT_NE(down.Text().find("AccurateRip: the database could not be reached ("), std::string::npos) << down.Text();
  EXPECT_EQ(ArVerdict(down, 1, 1, 2, true).Text(), "Not verified (the database could not be reached)");

  const SilentListener silent(true);
  const auto before = std::chrono::steady_clock::now();
  const TArLookup late = ArLookup(silent.url(), ids, std::chrono::milliseconds(1500));
  EXPECT_EQ(late.Status, TArLookupStatus::Unreachable);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_EQ(late.Url, silent.url() + "/accuraterip/" + ArLookupPath(ids));
}
