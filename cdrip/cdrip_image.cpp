// SPDX-License-Identifier: GPL-3.0-or-later
// Disc images as drives: which files a cue sheet or TOC file is read from, the private folder
// that lets libcdio read them as meant, the sheets read through a reader of our own
// (cdrip_image_source.cpp), the probe of an image in a process of its own before the program
// trusts libcdio with it, and the images that changed on disk since they were opened.
#include <cdio/cdio.h>
#include <cdio/audio.h>
#include <stdlib.h>

#include <fcntl.h>
#include <spawn.h>
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
#include <mutex>
#include <string>
#include <vector>

#include "cdrip_image_source.h"
#include "cdrip_internal.h"
#include "cdrip_probe.h"
#include "cue_sheet.h"

extern char** environ;

namespace cdrip_internal {

std::string g_openProblem;
std::map<std::string, std::string> g_dataFiles;
std::vector<TempFolder> g_retiredShims;
bool g_inProbeChild = false;

namespace {

namespace fs = std::filesystem;

// A cue sheet is a few kilobytes; a larger file named .cue is not one.
constexpr std::uintmax_t kMaxSheetBytes = 1 << 20;
// How often a handle's reads look whether its image's files changed on disk.
constexpr auto kRecheckEvery = std::chrono::milliseconds(250);

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
  std::shared_ptr<DiscSource> source;  // a sheet read by our own reader; null for libcdio's
  std::vector<std::string> files;      // the image and every data file it is read from
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

// Who the files are (device, inode, size, time of change), so a file replaced or rewritten on
// disk is told from the one that was read.
std::string identityOf(const std::vector<std::string>& files) {
  std::string id;
  for (const std::string& file : files) {
    struct stat st {};
    id += file;
    if (::stat(file.c_str(), &st) == 0)
      id += ":" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) +
            ":" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    id += "\n";
  }
  return id;
}

std::string joinLines(const std::vector<std::string>& files) {
  std::string list;
  for (const auto& f : files)
    if (("\n" + list + "\n").find("\n" + f + "\n") == std::string::npos) list += (list.empty() ? "" : "\n") + f;
  return list;
}

// The sheets read by our own reader, by image path: what they were read from and the private
// folder libcdio is handed their table of contents in.
struct OwnImage {
  std::vector<std::string> files;
  std::string identity;
  std::string sheet;  // the generated sheet in the drive's private folder
  std::shared_ptr<DiscSource> source;
};
std::map<std::string, OwnImage> g_own;

// Whether libcdio's cue reader reads the sheet as meant: one BINARY (or MOTOROLA) file of raw
// sectors and nothing it trips on. Everything else goes to our own reader.
bool libcdioReadsSheet(const cue::Sheet& sheet, const fs::path& image) {
  if (sheet.byteOrderMark || sheet.files.size() > 1) return false;
  if (sheet.files.size() == 1 && sheet.files[0].type != "BINARY" && sheet.files[0].type != "MOTOROLA") return false;
  const fs::path data = cueDataFile(image);
  return data.empty() || sniffDataFile(data) == DataKind::Raw;
}

// A file of `sectors` zero sectors that takes no room: what libcdio reads the generated sheet
// over (our reader serves the audio).
bool sparseFile(const fs::path& file, int64_t sectors) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = ::ftruncate(fd, static_cast<off_t>(sectors) * CDIO_CD_FRAMESIZE_RAW) == 0;
  return ::close(fd) == 0 && ok;
}

// Reads a cue sheet with our own reader into the drive's private folder: the sheet libcdio is
// handed (one BINARY file, the same table of contents and texts) over a sparse file. The
// reader is kept while the image's files stay as they were.
bool prepareOwnSheet(Drive& d, const cue::Sheet& sheet, ImageOpening& how, std::string& problem) {
  const auto known = g_own.find(d.path);
  if (known != g_own.end() && identityOf(known->second.files) == known->second.identity &&
      fs::path(known->second.sheet).parent_path() == fs::path(d.shim.path())) {
    how = {known->second.sheet, DRIVER_BINCUE, known->second.source, known->second.files};
    return true;
  }
  const fs::path image(d.path);
  const bool single = sheet.files.size() == 1;
  auto locate = [&](const std::string& name) -> fs::path {
    const fs::path p = fs::path(name).is_absolute() ? fs::path(name) : image.parent_path() / name;
    if (fs::path found = existingOrCaseBlind(p); !found.empty()) return found;
    if (!single) return {};
    fs::path sibling = image;  // renamed with its sheet, as for libcdio's sheets
    return existingOrCaseBlind(sibling.replace_extension(fs::path(name).extension()));
  };
  std::shared_ptr<DiscSource> source = DiscSource::open(sheet, locate, problem);
  if (!source) return false;
  TempFolder shim;
  if (!shim.Make()) {
    problem = "no private folder can be made in " + temporaryFolder().string() + ": " + std::strerror(errno);
    return false;
  }
  const fs::path dir(shim.path());
  {
    std::ofstream out(dir / "disc.cue", std::ios::binary | std::ios::trunc);
    out << source->tocSheet("disc.bin");
    out.close();
    if (!out || !sparseFile(dir / "disc.bin", source->toc().back().dwStartSector)) {
      problem = "the image's table of contents cannot be written to " + dir.string();
      return false;
    }
  }
  std::vector<std::string> files{d.path};
  files.insert(files.end(), source->files().begin(), source->files().end());
  how = {(dir / "disc.cue").string(), DRIVER_BINCUE, source, files};
  g_dataFiles[d.path] = joinLines(source->files());
  // A handle opened through the folder the drive had may still be reading through it.
  if (!d.shim.path().empty()) g_retiredShims.push_back(std::move(d.shim));
  d.shim = std::move(shim);
  g_own[d.path] = OwnImage{files, identityOf(files), how.path, source};
  return true;
}

// Makes what libcdio needs to read the image as it is meant to be read, in a private folder
// of the drive: for a cue sheet libcdio reads well, the sheet and its chosen data file under
// matching names (the cue driver reads the file named like the sheet, whatever its FILE line
// says); for any other sheet, our own reader and the sheet libcdio is handed; for a TOC file,
// a copy naming its data files absolutely. False, with the reason, when the image cannot be
// read.
bool prepareImage(Drive& d, ImageOpening& how, std::string& problem) {
  const fs::path image(d.path);
  const std::string ext = lowerCase(image.extension().string());
  std::error_code ec;
  how = {d.path, DRIVER_UNKNOWN, nullptr, {d.path}};
  if (ext != ".cue" && ext != ".toc") {
    g_dataFiles[d.path] = d.path;
    return true;  // NRG and the rest: libcdio knows them by their content
  }
  if (ext == ".cue") {
    const std::uintmax_t size = fs::file_size(image, ec);
    if (ec || size > kMaxSheetBytes) {
      problem = ec ? ec.message() : "the file is too large to be a cue sheet";
      return false;
    }
    std::ifstream in(image, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    cue::Sheet sheet;
    std::string why;
    // A sheet our reader refuses never reaches libcdio's: that one leaks and misreads on the
    // same malformed lines, and the user gets our reason either way.
    if (!cue::parse(text, sheet, why)) {
      problem = why;
      return false;
    }
    if (!libcdioReadsSheet(sheet, image)) return prepareOwnSheet(d, sheet, how, problem);
  }
  TempFolder shim;
  if (!shim.Make()) {
    problem = "no private folder can be made in " + temporaryFolder().string() + ": " + std::strerror(errno);
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
    how = {(dir / "disc.cue").string(), DRIVER_BINCUE, nullptr, {d.path, data.string()}};
    g_dataFiles[d.path] = data.string();
  } else {
    std::vector<fs::path> files;
    if (!copyTocWithAbsoluteNames(image, dir / "disc.toc", files, problem)) {
      if (problem.empty()) problem = "the TOC file cannot be read";
      return false;
    }
    how = {(dir / "disc.toc").string(), DRIVER_CDRDAO, nullptr, {d.path}};
    for (const auto& f : files) how.files.push_back(f.string());
    g_dataFiles[d.path] = joinLines({how.files.begin() + 1, how.files.end()});
  }
  const bool wasOwn = g_own.erase(d.path) > 0;
  if (!d.shim.path().empty()) {
    if (!wasOwn && sameContents(fs::path(d.shim.path()), dir)) {
      how.path = (fs::path(d.shim.path()) / fs::path(how.path).filename()).string();
      return true;  // the folder the drive has serves as well
    }
    g_retiredShims.push_back(std::move(d.shim));
  }
  d.shim = std::move(shim);
  return true;
}

}  // namespace

fs::path temporaryFolder() {
  // TMPDIR may name a folder that is gone; the library does not fail for it.
  if (const char* t = std::getenv("TMPDIR"); t && *t == '/') {
    struct stat st {};
    if (::stat(t, &st) == 0 && S_ISDIR(st.st_mode) && ::access(t, W_OK | X_OK) == 0) return t;
  }
  return "/tmp";
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

struct ProbeOutcome {
  bool ok = false;
  std::vector<TOCENTRY> toc;
  std::string problem;
};

std::map<std::string, std::pair<std::string, ProbeOutcome>> g_probes;  // by image path

// The probe program: beside the program that uses the library, where an installation puts it
// relative to the program (whatever prefix it was installed under) or where the build meant to
// install it; for programs run from the build tree, where the build made it.
std::string probeProgram() {
  std::vector<fs::path> candidates;
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  const fs::path exe = n > 0 ? fs::path(std::string(self, static_cast<size_t>(n))) : fs::path();
  if (!exe.empty()) candidates.push_back(exe.parent_path() / "tessaly-image-probe");
#ifdef TESSALY_PROBE_RELATIVE
  if (!exe.empty()) candidates.push_back(exe.parent_path() / TESSALY_PROBE_RELATIVE);
#endif
#ifdef TESSALY_PROBE_INSTALLED
  candidates.emplace_back(TESSALY_PROBE_INSTALLED);
#endif
#if defined(TESSALY_PROBE_BUILT) && defined(TESSALY_BUILD_DIR)
  if (exe.string().rfind(std::string(TESSALY_BUILD_DIR) + "/", 0) == 0) candidates.emplace_back(TESSALY_PROBE_BUILT);
#endif
  for (const auto& c : candidates)
    if (::access(c.c_str(), X_OK) == 0) return c.lexically_normal().string();
  return {};
}

// libcdio's image readers crash on some malformed files (a division by zero, an assertion, a
// wild pointer), and no check before them can tell which. So an image is first opened, its TOC
// read and each track's first and last sector read by the probe program, started afresh (a fork
// of this process could inherit a lock another thread holds, and hang): a crash there takes
// only the probe down, and the image is refused.
ProbeOutcome probeImage(const ImageOpening& how) {
  ProbeOutcome out;
  const std::string program = probeProgram();
  if (program.empty()) {
    out.problem = "the image cannot be checked: the program tessaly-image-probe is not installed";
    return out;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    out.problem = std::strerror(errno);
    return out;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);  // whatever the calling thread blocks
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const std::string driver = std::to_string(static_cast<int>(how.driver));
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(how.path.c_str()),
                  const_cast<char*>(driver.c_str()), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    out.problem = "the image cannot be checked: " + program + ": " + std::strerror(spawned);
    return out;
  }
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
  } else if (got != sizeof rec || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || rec.magic != kProbeMagic) {
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
  const std::string id = identityOf(how.files);
  auto it = g_probes.find(d.path);
  if (it == g_probes.end() || it->second.first != id)
    it = g_probes.insert_or_assign(d.path, std::make_pair(id, probeImage(how))).first;
  return it->second.second;
}

// Starts and kinds of two tables of contents agree.
bool sameToc(const std::vector<TOCENTRY>& a, const std::vector<TOCENTRY>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TOCENTRY& x, const TOCENTRY& y) {
    return x.dwStartSector == y.dwStartSector && x.btFlag == y.btFlag;
  });
}

// Every handle openImage gave out: what its image was read from and who those files were then.
// A handle's address may be taken again by a new handle once it is destroyed; libcdio's
// "source" of the handle tells whether the record is still about it.
// Who one file is, to be compared without allocating (the ripper's reads must not).
struct FileId {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  bool operator==(const FileId& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};
FileId fileId(const std::string& file) {
  struct stat st {};
  FileId id;
  if (::stat(file.c_str(), &st) != 0) return id;
  id = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  return id;
}
std::vector<FileId> fileIds(const std::vector<std::string>& files) {
  std::vector<FileId> ids;
  for (const auto& f : files) ids.push_back(fileId(f));
  return ids;
}
bool filesAre(const std::vector<std::string>& files, const std::vector<FileId>& ids) {
  for (size_t i = 0; i < files.size(); ++i)
    if (!(fileId(files[i]) == ids[i])) return false;
  return true;
}

struct HandleRecord {
  std::string source;
  std::vector<std::string> files;
  std::vector<FileId> ids;
  std::shared_ptr<DiscSource> disc;  // our own reader, for sheets libcdio does not read as meant
  std::chrono::steady_clock::time_point checked;
  bool stale = false;
  int64_t next = -1;  // the sector after the last read
};
std::mutex g_handlesLock;  // the player's thread reads through image handles too
std::map<const CdIo_t*, HandleRecord> g_handles;

const char* sourceOf(CdIo_t* p) {
  const char* s = cdio_get_arg(p, "source");
  return s ? s : "";
}

// The record of an image handle, null for any other handle; its staleness is looked at again
// when the last look is older than kRecheckEvery, or at once with `now` (a read that does not
// follow on from the last: a new extraction, a new track). Locked by the caller.
HandleRecord* recordOf(CdIo_t* p, bool now) {
  const auto it = g_handles.find(p);
  if (it == g_handles.end()) return nullptr;
  if (it->second.source != sourceOf(p)) {
    g_handles.erase(it);
    return nullptr;
  }
  HandleRecord& h = it->second;
  const auto t = std::chrono::steady_clock::now();
  if (!h.stale && (now || t - h.checked >= kRecheckEvery)) {
    h.checked = t;
    h.stale = !filesAre(h.files, h.ids);
  }
  return &h;
}

}  // namespace

// Opens an image the way prepareImage made ready, once its reader read it unharmed; refused
// when its table of contents is no longer the one the drive listed.
CdIo_t* openImage(Drive& d) {
  ImageOpening how;
  std::string problem;
  if (!prepareImage(d, how, problem)) {
    g_openProblem = problem;
    return nullptr;
  }
  std::vector<TOCENTRY> expected;
  if (how.source) {
    expected = how.source->toc();
  } else {
    const ProbeOutcome& probe = checkedImage(d, how);
    if (!probe.ok) {
      g_openProblem = probe.problem;
      return nullptr;
    }
    expected = probe.toc;
  }
  if (!d.toc.empty() && !sameToc(d.toc, expected)) {
    g_openProblem = "the image changed on disk since it was listed";
    return nullptr;
  }
  const std::vector<FileId> ids = fileIds(how.files);
  CdIo_t* p = cdio_open(how.path.c_str(), how.driver);
  if (!p) {
    if (g_openProblem.empty()) g_openProblem = "libcdio cannot open the image";
    return nullptr;
  }
  // The image changed between the probe's look and this one: refused rather than trusted.
  if (!sameToc(libcdioToc(p), expected) || !filesAre(how.files, ids)) {
    cdio_destroy(p);
    g_openProblem = "the image changed while it was read";
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(g_handlesLock);
  g_handles[p] = HandleRecord{sourceOf(p), how.files, ids, how.source, std::chrono::steady_clock::now(), false};
  return p;
}

std::vector<TOCENTRY> readTocEntries(CdIo_t* p) {
  const bool stale = imageHandleStale(p);
  // The drive's handle on an image that changed on disk since it was opened: its table of
  // contents is not the file's, so the image is opened again and that one is listed.
  Drive* d = active();
  if (stale && d && d->image && d->cdio.get() == p) {
    d->cdio.reset(openImage(*d));
    p = d->cdio.get();
    if (!p) return {};
  }
  return libcdioToc(p);
}

bool imageHandleStale(CdIo_t* p) {
  std::lock_guard<std::mutex> hold(g_handlesLock);
  const HandleRecord* h = recordOf(p, true);
  return h && h->stale;
}

driver_return_code_t readAudioSectors(CdIo_t* p, void* buf, lsn_t lsn, uint32_t n) {
  std::shared_ptr<DiscSource> disc;
  {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    const auto it = g_handles.find(p);
    const bool followsOn = it != g_handles.end() && it->second.next == lsn;
    if (HandleRecord* h = recordOf(p, !followsOn)) {
      h->next = int64_t{lsn} + n;
      if (h->stale) {
        // The files are no longer those the table of contents was read from: silence, and
        // a failed read, rather than another image's bytes.
        std::memset(buf, 0, static_cast<size_t>(n) * CDIO_CD_FRAMESIZE_RAW);
        return DRIVER_OP_ERROR;
      }
      disc = h->disc;
    }
  }
  if (disc) return disc->read(static_cast<uint8_t*>(buf), lsn, n) ? DRIVER_OP_SUCCESS : DRIVER_OP_ERROR;
  return cdio_read_audio_sectors(p, buf, lsn, n);
}

void forgetImages() {
  {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    g_handles.clear();
  }
  g_own.clear();
  g_dataFiles.clear();
  g_retiredShims.clear();
}

}  // namespace cdrip_internal
