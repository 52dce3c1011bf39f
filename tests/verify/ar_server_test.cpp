// SPDX-License-Identifier: GPL-3.0-or-later
// The AccurateRip look-up end to end against the stand-in web service on 127.0.0.1: generated
// database files under the path the database uses, the server named by
// TESSALY_ACCURATERIP_URL, and each track's verdict from what came back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/globals.h"
#include "tests/names/stand_in_server.h"
#include "tests/test_support.h"
#include "tests/verify/ar_answers.h"
#include "verify/AccurateRip.h"

using namespace testing_support;
using namespace ar_answers;
using namespace verify;

namespace {

// A disc of its own per case, so each case has its own database file.
std::vector<TTocTrack> discNumber(int n) { return tocOf({0, 10000 + n, 25000 + 3 * n}, 40000 + 7 * n); }

class ArServer : public ::testing::Test {
 protected:
  void put(const TArDiscIds& ids, const std::string& body) {
    const fs::path file = root_.path() / "accuraterip" / ArLookupPath(ids);
    fs::create_directories(file.parent_path());
    writeFile(file, body);
  }
  TArLookup lookup(const TArDiscIds& ids, const std::string& faultPrefix = "",
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    setenv("TESSALY_ACCURATERIP_URL", (server_.Url() + faultPrefix).c_str(), 1);
    return ArLookup(AccurateRipServer(), ids, timeout);
  }
  void TearDown() override { unsetenv("TESSALY_ACCURATERIP_URL"); }

  TempDir root_;
  StandInServer server_{root_.path().string(), {"--agent", "Tessaly/"}};
};

}  // namespace

TEST_F(ArServer, AnswersMatchesPressingsAbsenceTruncationAndSilence) {
  ASSERT_TRUE(server_.Running());
  const TArDiscIds match = ArDiscIds(discNumber(1)), v2only = ArDiscIds(discNumber(2)),
                   mismatch = ArDiscIds(discNumber(3)), pressings = ArDiscIds(discNumber(4)),
                   absent = ArDiscIds(discNumber(5)), truncated = ArDiscIds(discNumber(6)),
                   hang = ArDiscIds(discNumber(7));
  put(match, block(match, {{12, 0x1001}, {11, 0x1002}, {10, 0x1003}}));
  put(v2only, block(v2only, {{200, 0x2001}, {200, 0x2002}, {200, 0x2003}}));
  put(mismatch, block(mismatch, {{3, 0x3001}, {3, 0x3002}, {3, 0x3003}}));
  put(pressings, block(pressings, {{2, 0x4001}, {2, 0x4002}, {2, 0x4003}}) +
                     block(pressings, {{5, 0x5001}, {5, 0x5002}, {0, 0}}));
  put(truncated, block(truncated, {{8, 0x6001}, {8, 0x6002}, {8, 0x6003}}) +
                     block(truncated, {{1, 0x7001}, {1, 0x7002}, {1, 0x7003}}).substr(0, 17));

  const TArLookup m = lookup(match);
  ASSERT_EQ(m.Status, TArLookupStatus::Found) << m.Text();
  EXPECT_EQ(ArVerdict(m, 1, 0x1001, 0xffff, true).Text(), "Accurately ripped (confidence 12) [v1]");
  EXPECT_EQ(ArVerdict(m, 3, 0xeeee, 0x1003, true).Text(), "Accurately ripped (confidence 10) [v2]");
  EXPECT_EQ(m.Text(), "AccurateRip: 1 pressing in the database");

  const TArLookup v = lookup(v2only);
  EXPECT_EQ(ArVerdict(v, 2, 0x0bad, 0x2002, true).Text(), "Accurately ripped (confidence 200) [v2]");

  const TArLookup x = lookup(mismatch);
  EXPECT_EQ(ArVerdict(x, 2, 0x0bad, 0x0bad, true).Text(), "Does not match (3 submissions)");

  const TArLookup p = lookup(pressings);
  EXPECT_EQ(p.Text(), "AccurateRip: 2 pressings in the database");
  EXPECT_EQ(ArVerdict(p, 2, 0x5002, 0, true).Text(), "Accurately ripped (confidence 5) [v1]");
  EXPECT_EQ(ArVerdict(p, 3, 0, 0x0bad, true).Text(), "Does not match (2 submissions)");

  const TArLookup a = lookup(absent);
  EXPECT_EQ(a.Status, TArLookupStatus::NotPresent);
  EXPECT_EQ(a.Text(), "AccurateRip: the disc is not in the database");
  EXPECT_EQ(ArVerdict(a, 1, 1, 1, true).Text(), "Not present in the database");

  const TArLookup t = lookup(truncated);
  ASSERT_EQ(t.Status, TArLookupStatus::Found);
  EXPECT_TRUE(t.Response.Truncated);
  EXPECT_EQ(t.Response.Blocks.size(), 1u);
  EXPECT_EQ(ArVerdict(t, 1, 0x6001, 0, true).Text(), "Accurately ripped (confidence 8) [v1]");

  // An answer that never comes ends at the time limit, said as the database not reached.
  const auto before = std::chrono::steady_clock::now();
  const TArLookup h = lookup(hang, "/_hang", std::chrono::milliseconds(1500));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_EQ(h.Status, TArLookupStatus::Unreachable);
  EXPECT_EQ(ArVerdict(h, 1, 1, 1, true).Text(), "Not verified (the database could not be reached)");

  // Every request asked for the database's own path, with the program's User-Agent.
  const std::vector<std::string> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_NE(requests[0].find(" 200 /accuraterip/" + ArLookupPath(match) + "?"), std::string::npos) << requests[0];
  EXPECT_NE(requests[4].find(" 404 /accuraterip/" + ArLookupPath(absent)), std::string::npos) << requests[4];
  EXPECT_EQ(server_.Broken(), "");
}
