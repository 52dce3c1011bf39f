// tessaly-rip: the command-line front end. Lists the drives and the chosen drive's tracks.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cdrip/CDRIP.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Options {
  std::vector<std::string> drives;
  int drive = 0;
  bool list = false;
};

const char* const kHelp =
    "Usage: tessaly-rip [IMAGE-OR-DEVICE ...] [options]\n"
    "\n"
    "Lists the tracks of an audio CD in a drive or a disc image.\n"
    "Every IMAGE-OR-DEVICE (a CUE/BIN, TOC or NRG image, or a device such as /dev/sr0) is\n"
    "offered as a drive after the drives found on this system.\n"
    "\n"
    "Options:\n"
    "  --list        print every drive as 'Drive N: NAME', then the chosen drive's DiscID\n"
    "                and one line per track: ENTRY NUMBER TYPE START END DURATION\n"
    "  --drive N     choose drive N (from 0; default 0)\n"
    "  --help        show this text and exit\n";

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "tessaly-rip: " << message << "\nTry 'tessaly-rip --help'.\n";
  std::exit(kExitUsage);
}

bool parseInt(const std::string& text, int& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < 0 || v > 1000000) return false;
  out = static_cast<int>(v);
  return true;
}

Options parseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) usageError(std::string("option ") + name + " needs a value");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      std::exit(0);
    } else if (a == "--list") {
      o.list = true;
    } else if (a == "--drive") {
      const std::string v = value("--drive");
      if (!parseInt(v, o.drive)) usageError("bad drive number '" + v + "'");
    } else if (a.size() > 1 && a[0] == '-') {
      usageError("unknown option '" + a + "'");
    } else {
      o.drives.push_back(a);
    }
  }
  if (!o.list) usageError("nothing to do: give --list");
  return o;
}

int list(TCDRIP& ripper, int drive) {
  const int count = ripper.GetNumCDROM();
  for (int i = 0; i < count; ++i) {
    ripper.SelectDrive(i);
    std::cout << "Drive " << i << ": " << ripper.DriveName() << "\n";
  }
  ripper.SelectDrive(drive);
  if (ripper.Tracks().Count() == 0) {
    std::cerr << "tessaly-rip: no readable disc in drive " << drive << " ("
              << ripper.DriveName() << ")\n";
    return kExitFailure;
  }
  std::cout << "DiscID: " << ripper.DiscID() << "\n";
  for (int i = 0; i < ripper.Tracks().Count(); ++i) {
    const TTrack& t = ripper.Tracks().Objects(i);
    std::cout << ripper.Tracks().Strings(i) << " " << TwoDigitText(static_cast<unsigned>(t.TrackNum))
              << " " << t.TrackType << " " << t.StartSector << " " << t.EndSector << " "
              << ripper.TrackDuration(i) << "\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options opts = parseArgs(argc, argv);
  for (const auto& d : opts.drives) {
    if (CR_AddDrive(d.c_str()) == CDEX_ERROR) {
      std::cerr << "tessaly-rip: cannot open '" << d << "': no such image or device\n";
      return kExitFailure;
    }
  }
  try {
    TCDRIP ripper;
    if (ripper.GetNumCDROM() == 0) {
      std::cerr << "tessaly-rip: no CD drive or disc image found\n";
      return kExitFailure;
    }
    if (opts.drive >= ripper.GetNumCDROM()) {
      std::cerr << "tessaly-rip: there is no drive " << opts.drive << " (drives 0 to "
                << ripper.GetNumCDROM() - 1 << ")\n";
      return kExitFailure;
    }
    return list(ripper, opts.drive);
  } catch (const std::exception& e) {
    std::cerr << "tessaly-rip: " << e.what() << "\n";
    return kExitFailure;
  }
}
