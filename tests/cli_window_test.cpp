// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line, run as a user would: answers without a window, and clear
// failures where no window can open.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace {

using namespace testing_support;

// Runs tessaly with no display of any kind to open.
CommandResult tessaly(const std::string& args) {
  return run("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + shellQuote(TESSALY_PATH) + " " + args +
             " </dev/null");
}

TEST(WindowProgram, HelpAndVersionNeedNoDisplay) {
  const CommandResult help = tessaly("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: tessaly [IMAGE-OR-DEVICE ...]"), std::string::npos);
  const CommandResult version = tessaly("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.substr(0, version.out.find('\n') + 1), "Tessaly 2.3\n");
  EXPECT_NE(version.out.find("License GPL-3.0-or-later"), std::string::npos) << version.out;
  EXPECT_EQ(tessaly("--bogus").exitCode, 2);
}

TEST(WindowProgram, NoDisplayIsOneClearLineAndStatusOne) {
  TempDir tmp;
  const fs::path cue = makeDisc(tmp.path(), "disc", {"music:75"});
  const CommandResult r = tessaly(shellQuote(cue.string()));
  EXPECT_EQ(r.exitCode, 1);  // not a signal: no abort, no core dump
  EXPECT_EQ(r.err.rfind("tessaly: cannot open a display", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  // A display that does not answer is the same.
  const CommandResult unreachable =
      run("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97 " + shellQuote(TESSALY_PATH) + " </dev/null");
  EXPECT_EQ(unreachable.exitCode, 1);
  EXPECT_NE(unreachable.err.find("tessaly: cannot open a display (DISPLAY=:97"), std::string::npos) << unreachable.err;
}

TEST(WindowProgram, APathThatIsNeitherImageNorDeviceIsRefusedBeforeAnyWindow) {
  TempDir tmp;
  for (const std::string& bad : {(tmp / "missing.cue").string(), tmp.path().string()}) {
    const CommandResult r = tessaly(shellQuote(bad));
    EXPECT_EQ(r.exitCode, 1) << bad;
    EXPECT_EQ(r.err, "tessaly: cannot open '" + bad + "': no such image or device\n");
  }
}

}  // namespace
