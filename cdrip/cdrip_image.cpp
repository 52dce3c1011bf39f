// Disc images as drives: which files a cue sheet or TOC file is read from, the private folder
// that lets libcdio read them as meant, and the probe of an image in a child process before the
// program trusts libcdio with it.
#include <cdio/cdio.h>
#include <cdio/audio.h>
#include <stdlib.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cdrip_internal.h"

namespace cdrip_internal {

std::string g_openProblem;
std::map<std::string, std::string> g_dataFiles;
std::vector<TempFolder> g_retiredShims;
bool g_inProbeChild = false;

namespace {

namespace fs = std::filesystem;

// A child process that has not reported an image's table of contents by then is stopped.
constexpr int kProbeSeconds = 20;

std::string lowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The name a cue sheet's one FILE line gives, as written; empty when there is not exactly one.
std::string cueFileLine(const std::string& cue) {
  std::ifstream in(cue);
  std::string found;
  int files = 0;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 4, "FILE") != 0 || line.size() < start + 5 ||
        (line[start + 4] != ' ' && line[start + 4] != '\t'))
      continue;
    ++files;
    const auto first = line.find_first_not_of(" \t", start + 4);
    if (first == std::string::npos) continue;
    const std::string rest = line.substr(first);
    if (rest[0] == '"') {
      const auto close = rest.find('"', 1);
      if (close != std::string::npos) found = rest.substr(1, close - 1);
    } else {
      found = rest.substr(0, rest.find_first_of(" \t"));
    }
  }
  return files == 1 ? found : std::string();
}

// `file` itself when it exists (a link counts as what it points at), else the one entry of its
// folder whose name matches it without regard to case; empty when there is neither.
fs::path existingOrCaseBlind(const fs::path& file) {
  std::error_code ec;
  if (fs::exists(file, ec)) return file;
  const std::string want = lowerCase(file.filename().string());
  std::vector<fs::path> matches;
  for (fs::directory_iterator it(file.has_parent_path() ? file.parent_path() : fs::path("."), ec), end;
       !ec && it != end; it.increment(ec))
    if (lowerCase(it->path().filename().string()) == want) matches.push_back(it->path());
  if (matches.empty()) return {};
  std::sort(matches.begin(), matches.end());  // the same choice every time
  return matches.front();
}

// The data file a cue sheet's audio is read from: the file its FILE line names, whenever that
// exists beside the sheet; else that name without regard to case (sheets written on other
// systems); else the file named like the sheet (images are often renamed after their sheet was
// written), also without regard to case. Empty when none is there.
fs::path cueDataFile(const fs::path& cue) {
  const std::string named = cueFileLine(cue.string());
  if (!named.empty()) {
    const fs::path p = fs::path(named).is_absolute() ? fs::path(named) : cue.parent_path() / named;
    if (fs::path found = existingOrCaseBlind(p); !found.empty()) return found;
  }
  fs::path sibling = cue;
  return existingOrCaseBlind(sibling.replace_extension(".bin"));
}

// A data file must be a regular file: opening a FIFO or a device as one waits for ever or
// reads something that is not the image.
bool regularDataFile(const fs::path& file, std::string& problem) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    problem = "the data file " + file.string() + " is missing";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = "the data file " + file.string() + " is not a regular file";
    return false;
  }
  return true;
}

// A copy of a cdrdao TOC file with every relative data file name made absolute against the TOC
// file's own folder (libcdio takes them from the current folder). The names go to `files`.
bool copyTocWithAbsoluteNames(const fs::path& toc, const fs::path& copy, std::vector<fs::path>& files,
                              std::string& problem) {
  std::ifstream in(toc, std::ios::binary);
  std::ofstream out(copy, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  std::error_code ec;
  const fs::path folder = fs::absolute(toc, ec).parent_path();
  for (std::string line; std::getline(in, line);) {
    std::string done;
    size_t pos = 0;
    std::string lastWord;
    while (pos < line.size()) {
      const char c = line[pos];
      if (c == '/' && pos + 1 < line.size() && line[pos + 1] == '/') {  // a comment to the end
        done += line.substr(pos);
        break;
      }
      if (std::isspace(static_cast<unsigned char>(c))) {
        done += c;
        ++pos;
        continue;
      }
      // A word, or a string in double quotes.
      const bool quoted = c == '"';
      const size_t end = quoted ? line.find('"', pos + 1) : line.find_first_of(" \t\r\"", pos);
      if (quoted && end == std::string::npos) {
        done += line.substr(pos);
        break;
      }
      std::string text = quoted ? line.substr(pos + 1, end - pos - 1)
                                : line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end == std::string::npos ? line.size() : end + (quoted ? 1 : 0);
      if (lastWord == "FILE" || lastWord == "AUDIOFILE" || lastWord == "DATAFILE") {
        fs::path file = fs::path(text).is_absolute() ? fs::path(text) : folder / text;
        if (file.string().find('"') != std::string::npos) return false;
        if (!regularDataFile(file, problem)) return false;
        files.push_back(file);
        done += "\"" + file.string() + "\"";
        lastWord.clear();
        continue;
      }
      done += quoted ? "\"" + text + "\"" : text;
      lastWord = quoted ? std::string() : text;
    }
    out << done << '\n';
  }
  out.close();
  return static_cast<bool>(out);
}

// How an image is opened: the path libcdio is given and its driver.
struct ImageOpening {
  std::string path;
  driver_id_t driver = DRIVER_UNKNOWN;
};

// Whether two private image folders hold the same: links to the same files, copies alike.
bool sameContents(const fs::path& a, const fs::path& b) {
  for (const char* name : {"disc.cue", "disc.bin", "disc.toc"}) {
    std::error_code ea, eb;
    const bool inA = fs::exists(fs::symlink_status(a / name, ea)), inB = fs::exists(fs::symlink_status(b / name, eb));
    if (inA != inB) return false;
    if (!inA) continue;
    if (fs::is_symlink(fs::symlink_status(a / name, ea))) {
      if (fs::read_symlink(a / name, ea) != fs::read_symlink(b / name, eb) || ea || eb) return false;
      continue;
    }
    std::ifstream fa(a / name, std::ios::binary), fb(b / name, std::ios::binary);
    if (!std::equal(std::istreambuf_iterator<char>(fa), {}, std::istreambuf_iterator<char>(fb), {})) return false;
  }
  return true;
}

// Makes what libcdio needs to read the image as it is meant to be read, in a private folder
// of the drive: for a cue sheet, the sheet and its chosen data file under matching names (the
// cue driver reads the file named like the sheet, whatever its FILE line says); for a TOC file,
// a copy naming its data files absolutely. False, with the reason, when the image cannot be
// read.
bool prepareImage(Drive& d, ImageOpening& how, std::string& problem) {
  const fs::path image(d.path);
  const std::string ext = lowerCase(image.extension().string());
  std::error_code ec;
  how = {d.path, DRIVER_UNKNOWN};
  if (ext != ".cue" && ext != ".toc") {
    g_dataFiles[d.path] = d.path;
    return true;  // NRG and the rest: libcdio knows them by their content
  }
  TempFolder shim;
  if (!shim.Make()) {
    problem = "no room for a temporary folder";
    return false;
  }
  const fs::path dir(shim.path());
  if (ext == ".cue") {
    const fs::path data = cueDataFile(image);
    if (data.empty()) {
      const std::string named = cueFileLine(d.path);
      problem = "the data file " + (named.empty() ? image.stem().string() + ".bin" : named) + " is missing";
      return false;
    }
    if (!regularDataFile(data, problem)) return false;
    fs::create_symlink(fs::absolute(image, ec), dir / "disc.cue", ec);
    if (!ec) fs::create_symlink(fs::absolute(data, ec), dir / "disc.bin", ec);
    if (ec) {
      problem = ec.message();
      return false;
    }
    how = {(dir / "disc.cue").string(), DRIVER_BINCUE};
    g_dataFiles[d.path] = data.string();
  } else {
    std::vector<fs::path> files;
    if (!copyTocWithAbsoluteNames(image, dir / "disc.toc", files, problem)) {
      if (problem.empty()) problem = "the TOC file cannot be read";
      return false;
    }
    how = {(dir / "disc.toc").string(), DRIVER_CDRDAO};
    std::string list;
    for (const auto& f : files)
      if (list.find(f.string()) == std::string::npos) list += (list.empty() ? "" : "\n") + f.string();
    g_dataFiles[d.path] = list;
  }
  if (!d.shim.path().empty()) {
    if (sameContents(fs::path(d.shim.path()), dir)) {
      how.path = (fs::path(d.shim.path()) / fs::path(how.path).filename()).string();
      return true;  // the folder the drive has serves as well
    }
    // A handle opened through the folder the drive had may still be reading through it.
    g_retiredShims.push_back(std::move(d.shim));
  }
  d.shim = std::move(shim);
  return true;
}

}  // namespace

// The TOC as libcdio reports it: tracks, then the lead-out; empty when it reports no track.
std::vector<TOCENTRY> readTocEntries(CdIo_t* p) {
  std::vector<TOCENTRY> toc;
  const track_t firstTrack = cdio_get_first_track_num(p);
  const track_t count = cdio_get_num_tracks(p);
  if (firstTrack == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 ||
      firstTrack + count > CDIO_CD_MAX_TRACKS + 1)
    return toc;
  for (track_t t = firstTrack; t < firstTrack + count; ++t) {
    TOCENTRY e{};
    e.dwStartSector = static_cast<uint32_t>(cdio_get_track_lsn(p, t));
    e.btFlag = cdio_get_track_format(p, t) == TRACK_FORMAT_AUDIO ? CR_FLAG_AUDIO : CR_FLAG_DATA;
    e.btTrackNumber = t;
    toc.push_back(e);
  }
  TOCENTRY lead{};
  lead.dwStartSector = static_cast<uint32_t>(cdio_get_track_lsn(p, CDIO_CDROM_LEADOUT_TRACK));
  lead.btFlag = CR_FLAG_DATA;
  lead.btTrackNumber = CDIO_CDROM_LEADOUT_TRACK;
  toc.push_back(lead);
  return toc;
}

// Empty when the TOC can be true of a CD; else why not. libcdio reports some damaged images
// with starts that go backwards or a lead-out before the last track.
std::string implausibleToc(const std::vector<TOCENTRY>& toc) {
  int64_t previous = -1;
  for (size_t i = 0; i < toc.size(); ++i) {
    const int64_t start = static_cast<int32_t>(toc[i].dwStartSector);
    const bool leadOut = i + 1 == toc.size();
    if (start < 0)
      return "the table of contents cannot be true: " +
             (leadOut ? std::string("the lead-out") : "track " + std::to_string(toc[i].btTrackNumber)) +
             " starts at a negative sector";
    if (start <= previous)
      return "the table of contents cannot be true: " +
             (leadOut ? std::string("the lead-out comes before the end of the last track")
                      : "track " + std::to_string(toc[i].btTrackNumber) + " starts before the track ahead of it");
    previous = start;
  }
  if (!toc.empty() && static_cast<int32_t>(toc.back().dwStartSector) > kMaxLeadOut)
    return "the image claims more than a CD holds (past 99:59:74)";
  return {};
}

namespace {

// What a child process reports of an image: its TOC, or why it has none.
struct ProbeRecord {
  int32_t count = 0;  // entries, the lead-out included; 0: no disc
  TOCENTRY toc[CDIO_CD_MAX_TRACKS + 1]{};
  char problem[256]{};
};
static_assert(sizeof(ProbeRecord) <= PIPE_BUF, "one write, read whole");

struct ProbeOutcome {
  bool ok = false;
  std::vector<TOCENTRY> toc;
  std::string problem;
};

// Who the image's files are, so an image changed on disk is looked at again.
std::string imageIdentity(const Drive& d) {
  std::string id;
  auto add = [&](const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return;
    id += file + ":" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
          std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
          std::to_string(st.st_mtim.tv_nsec) + "\n";
  };
  add(d.path);
  const auto it = g_dataFiles.find(d.path);
  if (it != g_dataFiles.end())
    for (size_t pos = 0; pos < it->second.size();) {
      const size_t nl = std::min(it->second.find('\n', pos), it->second.size());
      add(it->second.substr(pos, nl - pos));
      pos = nl + 1;
    }
  return id;
}

std::map<std::string, std::pair<std::string, ProbeOutcome>> g_probes;  // by image path

// libcdio's image readers crash on some malformed files (a division by zero, an assertion, a
// wild pointer), and no check before them can tell which. So an image is first opened, its TOC
// read and each track's first and last sector read in a short-lived child process: a crash
// there takes only the child down, and the image is refused.
ProbeOutcome probeImage(const ImageOpening& how) {
  ProbeOutcome out;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    out.problem = std::strerror(errno);
    return out;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    out.problem = std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return out;
  }
  if (pid == 0) {
    // The child: a fault ends it plainly, whatever handlers the program installed.
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGALRM}) ::signal(sig, SIG_DFL);
    ::alarm(kProbeSeconds);
    g_inProbeChild = true;
    ::close(fds[0]);
    ProbeRecord rec;
    g_openProblem.clear();
    if (CdIo_t* p = cdio_open(how.path.c_str(), how.driver)) {
      const std::vector<TOCENTRY> toc = readTocEntries(p);
      rec.count = static_cast<int32_t>(toc.size());
      std::copy(toc.begin(), toc.end(), rec.toc);
      static uint8_t sector[CDIO_CD_FRAMESIZE_RAW];
      for (size_t i = 0; i + 1 < toc.size(); ++i) {
        if (toc[i].btFlag != CR_FLAG_AUDIO) continue;
        const auto first = static_cast<lsn_t>(toc[i].dwStartSector);
        const auto last = static_cast<lsn_t>(toc[i + 1].dwStartSector) - 1;
        if (first >= 0 && first <= last && last < kMaxLeadOut) {
          cdio_read_audio_sectors(p, sector, first, 1);
          cdio_read_audio_sectors(p, sector, last, 1);
        }
      }
      cdio_destroy(p);
    }
    std::strncpy(rec.problem, g_openProblem.c_str(), sizeof rec.problem - 1);
    const ssize_t w = ::write(fds[1], &rec, sizeof rec);
    _exit(w == static_cast<ssize_t>(sizeof rec) ? 0 : 1);
  }
  ::close(fds[1]);
  ProbeRecord rec;
  size_t got = 0;
  bool timedOut = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kProbeSeconds);
  while (got < sizeof rec) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    pollfd pfd{fds[0], POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    const ssize_t n = ::read(fds[0], reinterpret_cast<char*>(&rec) + got, sizeof rec - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fds[0]);
  if (timedOut) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) {
    out.problem = "the image could not be read: its reader did not finish";
  } else if (got != sizeof rec || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    out.problem = "the image is damaged: its reader failed on it";
  } else if (rec.count <= 0 || rec.count > CDIO_CD_MAX_TRACKS + 1) {
    rec.problem[sizeof rec.problem - 1] = '\0';
    out.problem = rec.problem;
  } else {
    out.ok = true;
    out.toc.assign(rec.toc, rec.toc + rec.count);
  }
  return out;
}

// The image's probe, made again only when its files changed.
const ProbeOutcome& checkedImage(const Drive& d, const ImageOpening& how) {
  const std::string id = imageIdentity(d);
  auto it = g_probes.find(d.path);
  if (it == g_probes.end() || it->second.first != id)
    it = g_probes.insert_or_assign(d.path, std::make_pair(id, probeImage(how))).first;
  return it->second.second;
}

}  // namespace

// Opens an image the way prepareImage made ready, once a child process read it unharmed.
CdIo_t* openImage(Drive& d) {
  ImageOpening how;
  std::string problem;
  if (!prepareImage(d, how, problem)) {
    g_openProblem = problem;
    return nullptr;
  }
  const ProbeOutcome& probe = checkedImage(d, how);
  if (!probe.ok) {
    g_openProblem = probe.problem;
    return nullptr;
  }
  CdIo_t* p = cdio_open(how.path.c_str(), how.driver);
  // The image changed between the child's look and this one: refused rather than trusted.
  const auto same = [&](const std::vector<TOCENTRY>& toc) {
    return toc.size() == probe.toc.size() &&
           std::memcmp(toc.data(), probe.toc.data(), toc.size() * sizeof(TOCENTRY)) == 0;
  };
  if (p && !same(readTocEntries(p))) {
    cdio_destroy(p);
    g_openProblem = "the image changed while it was read";
    return nullptr;
  }
  return p;
}

driver_return_code_t readAudioSectors(CdIo_t* p, void* buf, lsn_t lsn, uint32_t n) {
  return cdio_read_audio_sectors(p, buf, lsn, n);
}

void forgetImages() {
  g_dataFiles.clear();
  g_retiredShims.clear();
}

}  // namespace cdrip_internal
