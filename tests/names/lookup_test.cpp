// The MusicBrainz look-up over HTTP against the stand-in server: every answer it can give (a
// hit, not found, busy, silent, broken, huge), the User-Agent, and the one-request-a-second
// rule, which the server answers 503 when broken.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "names/MusicBrainz.h"
#include "names/Resolve.h"
#include "net/http.h"
#include "stand_in_server.h"

using namespace names;
using Clock = std::chrono::steady_clock;

namespace {

TDiscLayout documentedDisc() {
  TDiscLayout d;
  const int offsets[] = {150, 15363, 32314, 46592, 63414, 80489};
  for (int i = 0; i < 6; ++i) d.tracks.push_back({i + 1, static_cast<uint32_t>(offsets[i] - 150), true});
  d.leadOut = 95462 - 150;
  d.iniKey = "DOCEXAMPLE";
  return d;
}

// The server with the service's rules on: a User-Agent naming Tessaly, a second between requests.
std::vector<std::string> strict() { return {"--agent", "Tessaly/" TESSALY_VERSION " (", "--min-interval", "1.0"}; }

TLookupOptions at(const StandInServer& s, const std::string& kase) {
  TLookupOptions o;
  o.server = s.Url() + "/" + kase;
  o.timeout = std::chrono::milliseconds(3000);
  o.retryPause = std::chrono::milliseconds(1000);
  return o;
}

}  // namespace

TEST(Lookup, ExactHitOverHttpWithTheRequiredRequest) {
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  const TLookupResult r = LookUp(documentedDisc(), at(s, "exact"));
  ASSERT_EQ(r.status, TLookupStatus::Found) << r.message;
  ASSERT_EQ(r.releases.size(), 1u);
  EXPECT_EQ(r.releases[0].names.TrackTitles[5], "Sixth");
  EXPECT_EQ(r.discKey, "DOCEXAMPLE");
  const auto req = s.Requests();
  ASSERT_EQ(req.size(), 1u);
  EXPECT_NE(req[0].find(" 200 /exact/ws/2/discid/49HHV7Eb8UKF3aQiNmu1GR8vKTY-?toc=1+6+95462+150+15363+32314+46592+63414+80489"
                        "&inc=recordings+artist-credits&fmt=json"),
            std::string::npos)
      << req[0];
  EXPECT_NE(req[0].find("UA=Tessaly/2.3 ( https://"), std::string::npos) << req[0];
  EXPECT_EQ(s.Broken(), "");
}

TEST(Lookup, NotFoundGivesTheSubmissionUrl) {
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  const TLookupResult r = LookUp(documentedDisc(), at(s, "nothing-here"));
  EXPECT_EQ(r.status, TLookupStatus::NotFound);
  EXPECT_EQ(r.message.rfind("This disc is not in MusicBrainz", 0), 0u) << r.message;
  EXPECT_NE(r.message.find("musicbrainz.org/cdtoc/attach?id=49HHV7Eb8UKF3aQiNmu1GR8vKTY-"), std::string::npos)
      << r.message;
}

TEST(Lookup, BusyIsRetriedAfterAPauseABoundedNumberOfTimes) {
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  TLookupResult r = LookUp(documentedDisc(), at(s, "_503once/exact"));
  ASSERT_EQ(r.status, TLookupStatus::Found) << r.message;
  auto req = s.Requests();
  ASSERT_EQ(req.size(), 2u);
  EXPECT_NE(req[0].find(" 503 "), std::string::npos);
  EXPECT_NE(req[1].find(" 200 "), std::string::npos);
  EXPECT_EQ(s.Broken(), "");

  TLookupOptions o = at(s, "_503always/exact");
  o.retries503 = 2;
  r = LookUp(documentedDisc(), o);
  EXPECT_EQ(r.status, TLookupStatus::Unreachable);
  EXPECT_EQ(r.message.rfind("MusicBrainz could not be reached (", 0), 0u) << r.message;
  EXPECT_EQ(s.Requests().size(), 2u + 3u);  // one try and two retries
  EXPECT_EQ(s.Broken(), "");
}

TEST(Lookup, SilenceAndNoNetworkAreNotReachable) {
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  TLookupOptions o = at(s, "_hang/exact");
  o.timeout = std::chrono::milliseconds(1500);
  const auto t0 = Clock::now();
  TLookupResult r = LookUp(documentedDisc(), o);
  const auto waited = Clock::now() - t0;
  EXPECT_EQ(r.status, TLookupStatus::Unreachable);
  EXPECT_EQ(r.message.rfind("MusicBrainz could not be reached (", 0), 0u) << r.message;
  EXPECT_LT(waited, std::chrono::seconds(5));

  // A port nobody listens on: the server's own, once it is gone.
  TLookupOptions closed;
  closed.server = "http://127.0.0.1:1";
  closed.timeout = std::chrono::milliseconds(2000);
  r = LookUp(documentedDisc(), closed);
  EXPECT_EQ(r.status, TLookupStatus::Unreachable);
  EXPECT_EQ(r.message.rfind("MusicBrainz could not be reached (", 0), 0u) << r.message;
  EXPECT_GT(r.message.size(), std::string("MusicBrainz could not be reached ()").size());
  // The default wait is ten seconds.
  EXPECT_EQ(TLookupOptions{}.timeout, std::chrono::milliseconds(10000));
  EXPECT_EQ(net::Request{}.timeout, std::chrono::milliseconds(10000));
}

TEST(Lookup, MalformedAndHugeAnswersAreRefused) {
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  TLookupResult r = LookUp(documentedDisc(), at(s, "malformed"));
  EXPECT_EQ(r.status, TLookupStatus::BadAnswer) << r.message;
  r = LookUp(documentedDisc(), at(s, "_huge/exact"));
  EXPECT_EQ(r.status, TLookupStatus::BadAnswer) << r.message;
  r = LookUp(documentedDisc(), at(s, "_hugedeclared/exact"));
  EXPECT_EQ(r.status, TLookupStatus::BadAnswer) << r.message;
  r = LookUp(documentedDisc(), at(s, "_status500/exact"));
  EXPECT_EQ(r.status, TLookupStatus::Unreachable);
  EXPECT_NE(r.message.find("HTTP 500"), std::string::npos) << r.message;
  EXPECT_EQ(s.Broken(), "");
}

TEST(Lookup, OneRequestASecondAcrossThreads) {
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  // Four look-ups at once from four threads (a window's commands, say): one at a time, a
  // second apart, all answered.
  std::vector<TLookupStatus> got(4);
  std::vector<std::thread> threads;
  const auto t0 = Clock::now();
  for (size_t i = 0; i < got.size(); ++i)
    threads.emplace_back([&, i] { got[i] = LookUp(documentedDisc(), at(s, i % 2 ? "two" : "exact")).status; });
  for (auto& t : threads) t.join();
  for (auto st : got) EXPECT_EQ(st, TLookupStatus::Found);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(2900));
  EXPECT_EQ(s.Requests().size(), 4u);
  EXPECT_EQ(s.Broken(), "");
}

TEST(Lookup, TheServerCatchesABrokenRuleAndABadAgent) {
  // Without the limiter the server sees the rule broken: the check above can fail.
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  net::Request q;
  q.url = s.Url() + "/exact/ws/2/discid/49HHV7Eb8UKF3aQiNmu1GR8vKTY-";
  q.userAgent = net::UserAgent();
  q.minInterval = std::chrono::milliseconds(0);
  EXPECT_EQ(net::Get(q).status, 200);
  EXPECT_EQ(net::Get(q).status, 503);
  EXPECT_NE(s.Broken().find("BROKEN rate"), std::string::npos);
  q.userAgent = "curl/7";
  q.minInterval = std::chrono::milliseconds(1100);
  EXPECT_EQ(net::Get(q).status, 403);
  EXPECT_NE(s.Broken().find("BROKEN agent"), std::string::npos);
}

TEST(Lookup, CancelEndsTheWait) {
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  std::atomic<bool> cancel{false};
  TLookupOptions o = at(s, "_hang/exact");
  o.timeout = std::chrono::milliseconds(20000);
  o.cancel = &cancel;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancel = true;
  });
  const auto t0 = Clock::now();
  const TLookupResult r = LookUp(documentedDisc(), o);
  stopper.join();
  EXPECT_EQ(r.status, TLookupStatus::Cancelled);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
}

TEST(Lookup, ResolveAsksOnlyWhenTheDiscHasNoNames) {
  StandInServer s(ANSWERS_DIR, strict());
  ASSERT_TRUE(s.Running());
  TResolveOptions o;
  o.service = at(s, "two");
  TResolved r = ResolveNames(documentedDisc(), nullptr, o);
  EXPECT_TRUE(r.lookedUp);
  EXPECT_EQ(r.sourceText, "MusicBrainz (11111111-1111-4111-8111-111111111111)");
  EXPECT_EQ(r.names.TrackTitles[0], "First 1");
  o.release = "2";
  r = ResolveNames(documentedDisc(), nullptr, o);
  EXPECT_EQ(r.names.AlbumTitle, "Remaster");
  // CD-Text names the disc: no request, unless the look-up is forced.
  TCdTextInfo text;
  text.present = true;
  text.title = {"Album", "One"};
  o.release.clear();
  const size_t before = s.Requests().size();
  r = ResolveNames(documentedDisc(), &text, o);
  EXPECT_FALSE(r.lookedUp);
  EXPECT_EQ(r.sourceText, "CD-Text");
  EXPECT_EQ(s.Requests().size(), before);
  o.lookup = TLookupMode::Always;
  r = ResolveNames(documentedDisc(), &text, o);
  EXPECT_EQ(r.source, TNameSource::MusicBrainz);
  // A failed forced look-up keeps the names there were.
  o.service = at(s, "nothing-here");
  r = ResolveNames(documentedDisc(), &text, o);
  EXPECT_EQ(r.sourceText, "CD-Text");
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.notes[0].rfind("This disc is not in MusicBrainz", 0), 0u);
}

TEST(Net, OriginsAndEscapes) {
  EXPECT_EQ(net::OriginOf("HTTP://Example.org/ws/2?x=1"), "http://example.org:80");
  EXPECT_EQ(net::OriginOf("https://musicbrainz.org"), "https://musicbrainz.org:443");
  EXPECT_EQ(net::OriginOf("http://127.0.0.1:8080/a"), "http://127.0.0.1:8080");
  EXPECT_EQ(net::OriginOf("http://user@h:81/"), "http://h:81");
  EXPECT_EQ(net::Escape("a b/+.~"), "a%20b%2F%2B.~");
}
