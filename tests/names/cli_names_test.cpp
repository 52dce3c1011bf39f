// tessaly-rip's names as a user sees them: the demo disc named by its CD-Text, MusicBrainz asked
// on demand (a stand-in server, one per run, with the service's rules on), the release chosen,
// the names saved and read back from cdplayer.ini, and a rip that names and tags its files
// with them.
#include <gtest/gtest.h>

#include "../test_support.h"
#include "stand_in_server.h"

namespace {

using namespace testing_support;

std::vector<std::string> strict() { return {"--agent", "Tessaly/" TESSALY_VERSION " (", "--min-interval", "1.0"}; }

class CliNames : public ::testing::Test {
 protected:
  // Each case has a settings folder of its own: ctest runs the cases side by side, and they
  // save and read cdplayer.ini.
  void SetUp() override { setenv("XDG_CONFIG_HOME", (config.path() / "xdg").c_str(), 1); }

  // tessaly-rip on the demo disc against a fresh server serving `kase`.
  CommandResult rip(const std::string& kase, const std::string& args, std::string* broken = nullptr,
                    size_t* requests = nullptr) {
    StandInServer s(ANSWERS_DIR, strict());
    EXPECT_TRUE(s.Running());
    const CommandResult r = run("TESSALY_MUSICBRAINZ_URL=" + shellQuote(s.Url() + "/" + kase) + " " +
                                shellQuote(TESSALY_RIP_PATH) + " " + shellQuote(DEMO_CUE) + " " + args);
    if (broken) *broken = s.Broken();
    if (requests) *requests = s.Requests().size();
    return r;
  }
  TempDir tmp;
  TempDir config;
};

std::string lineStarting(const std::string& text, const std::string& prefix) {
  for (const auto& l : lines(text))
    if (l.rfind(prefix, 0) == 0) return l;
  return {};
}

TEST_F(CliNames, DemoDiscIsNamedByItsCdTextWithoutAsking) {
  size_t requests = 99;
  const auto r = rip("demo", "--list", nullptr, &requests);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineStarting(r.out, "Names: "), "Names: CD-Text");
  EXPECT_EQ(lineStarting(r.out, "Album: "), "Album: The Test Signals / Tessaly Demo");
  EXPECT_EQ(lineStarting(r.out, "Opening "), "Opening 01 Audio 0 2399 0:32");
  EXPECT_EQ(lineStarting(r.out, "Second Thoughts "), "Second Thoughts 02 Audio 2400 4424 0:27");
  EXPECT_EQ(requests, 0u);  // the disc has names: MusicBrainz is not asked
}

TEST_F(CliNames, LookupTakesTheFirstReleaseAndSaysHowToChoose) {
  std::string broken;
  size_t requests = 0;
  auto r = rip("demo", "--list --lookup", &broken, &requests);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineStarting(r.out, "Names: "), "Names: MusicBrainz (33333333-3333-4333-8333-333333333333)");
  EXPECT_EQ(lineStarting(r.out, "Album: "), "Album: The Test Signals with Guest / Signals Live (2024)");
  EXPECT_EQ(lineStarting(r.out, "Overture "), "Overture 01 Audio 0 2399 0:32");
  EXPECT_NE(r.out.find("Zweite Gedanken \xE2\x80\x93 \xC3\x9C 02 Audio"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("--release N or --release MBID"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2. The Test Signals / Signals Studio (2020), GB, CD, 4 tracks"), std::string::npos) << r.err;
  EXPECT_EQ(requests, 1u);
  EXPECT_EQ(broken, "");

  r = rip("demo", "--list --lookup --release 2");
  EXPECT_EQ(lineStarting(r.out, "Album: "), "Album: The Test Signals / Signals Studio (2020)");
  r = rip("demo", "--list --lookup --release 44444444-4444-4444-8444-444444444444");
  EXPECT_EQ(lineStarting(r.out, "Studio 1 "), "Studio 1 01 Audio 0 2399 0:32");
  // A release that is not there keeps the names there were, and says so.
  r = rip("demo", "--list --lookup --release 7");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(lineStarting(r.out, "Names: "), "Names: CD-Text");
  EXPECT_NE(r.err.find("There is no release '7'"), std::string::npos) << r.err;
  EXPECT_EQ(run(shellQuote(TESSALY_RIP_PATH) + " --release").exitCode, 2);
}

TEST_F(CliNames, NotFoundGivesTheAddressToAddTheDisc) {
  const auto r = rip("nothing", "--list --lookup");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineStarting(r.out, "Names: "), "Names: CD-Text");
  EXPECT_NE(r.err.find("This disc is not in MusicBrainz; add it at "
                       "http://musicbrainz.org/cdtoc/attach?id=gBaMwECfS8_CLQi.ke5807Mwp6A-"),
            std::string::npos)
      << r.err;
  const auto off = rip("demo", "--list --no-lookup --release 2");
  EXPECT_EQ(lineStarting(off.out, "Names: "), "Names: CD-Text");
}

TEST_F(CliNames, SavedNamesComeBackFromCdPlayerIniAndWin) {
  auto r = rip("demo", "--lookup --save-names");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string ini = readFile(fs::path(std::getenv("XDG_CONFIG_HOME")) / "tessaly" / "cdplayer.ini");
  EXPECT_NE(ini.find("title=Signals Live"), std::string::npos) << ini;
  EXPECT_NE(ini.find("album=Signals Live"), std::string::npos) << ini;
  EXPECT_NE(ini.find("year=2024"), std::string::npos) << ini;
  EXPECT_NE(ini.find("0=Overture"), std::string::npos) << ini;
  size_t requests = 99;
  r = rip("demo", "--list", nullptr, &requests);
  EXPECT_EQ(lineStarting(r.out, "Names: "), "Names: cdplayer.ini");
  EXPECT_EQ(lineStarting(r.out, "Album: "), "Album: The Test Signals with Guest / Signals Live (2024)");
  EXPECT_EQ(lineStarting(r.out, "Overture "), "Overture 01 Audio 0 2399 0:32");
  EXPECT_EQ(requests, 0u);
}

TEST_F(CliNames, ARipNamesAndTagsItsFilesWithTheNamesFound) {
  const auto r = rip("demo", "--lookup --mp3 --tracks 1 --yes --jobs 1 --out " + shellQuote(tmp.path().string()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const fs::path file = tmp.path() / "Overture.mp3";
  ASSERT_TRUE(fs::exists(file)) << r.out << r.err;
  const std::string bytes = readFile(file);
  for (const char* value : {"Signals Live", "The Test Signals with Guest", "2024", "33333333-3333-4333-8333-333333333333"})
    EXPECT_NE(bytes.find(value), std::string::npos) << value;
}

}  // namespace
