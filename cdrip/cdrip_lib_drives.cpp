// SPDX-License-Identifier: GPL-3.0-or-later
// The CD library's drives: the devices libcdio finds, then every path offered with CR_AddDrive
// (disc images or devices), each known once whatever name leads to it and named by its maker's
// identity. Init and de-init, the selected drive, its parameters, and its table of contents with
// the reason it could not be read (a permission, a damaged image, a table no disc can have). The
// extraction on the selected drive is cdrip_lib.cpp's.
#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <stdlib.h>

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "CdRip_dll.h"
#include "cdrip_internal.h"

using namespace cdrip_internal;

namespace {

constexpr int32_t kVersion = 115;

std::vector<std::string> g_added;
// A deque, so that a drive opened after init leaves the others where they are (the analog
// player holds one).
std::deque<Drive> g_drives;
int32_t g_active = 0;
bool g_initialised = false;

bool isImagePath(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

void setText(CDROMPARAMS& p, const std::string& text) {
  std::memset(p.lpszCDROMID, 0, sizeof p.lpszCDROMID);
  std::strncpy(p.lpszCDROMID, text.c_str(), sizeof p.lpszCDROMID - 1);
}

std::string identify(Drive& d) {
  if (d.image) return "Disc image " + std::filesystem::path(d.path).filename().string();
  std::string text = d.path;
  if (CdIo_t* p = cdio_open(d.path.c_str(), DRIVER_DEVICE)) {
    cdio_hwinfo_t hw{};
    if (cdio_get_hwinfo(p, &hw)) {
      text = std::string(hw.psz_vendor) + " " + hw.psz_model + " " + hw.psz_revision;
      // The fields come blank-padded from the drive's inquiry data.
      std::string squeezed;
      for (char c : text)
        if (!(c == ' ' && (squeezed.empty() || squeezed.back() == ' '))) squeezed += c;
      while (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
      text = squeezed;
    }
    cdio_destroy(p);
  }
  return text;
}

// The device number of a block or character device node; 0 for anything else.
dev_t deviceNumber(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode))) return 0;
  return st.st_rdev;
}

// The kernel's own name of a device reached through a link (/dev/cdrom -> /dev/sr0).
std::string kernelName(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return path;
  const std::string real = resolved;
  return real.rfind("/dev/", 0) == 0 && deviceNumber(real) == deviceNumber(path) ? real : path;
}

// Why the device cannot be opened when the reason is a permission; empty otherwise.
std::string permissionProblem(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return {};
  }
  if (errno != EACCES && errno != EPERM) return {};
  std::string text = "No permission to read " + path;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    const group* g = getgrgid(st.st_gid);
    const std::string name = g && g->gr_name ? g->gr_name : std::to_string(st.st_gid);
    text += " (owned by group " + name + "): add your user to that group";
  }
  return text;
}

void addDrive(const std::string& path, bool image) {
  Drive d;
  d.path = path;
  d.image = image;
  d.params.nSpeed = 0;
  d.params.bJitterCorrection = CR_TRUE;
  d.params.bAtapi = image ? CR_FALSE : CR_TRUE;
  d.params.nOutputFormat = STEREO44100;
  setText(d.params, identify(d));
  g_drives.push_back(std::move(d));
}

// The index of the drive `path` leads to: a device by its device number (/dev/cdrom beside
// /dev/sr0), an image by its file (device and inode), else by the path's text; -1 for none.
int32_t findDrive(const std::string& path) {
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  const bool device = exists && (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode));
  for (size_t i = 0; i < g_drives.size(); ++i) {
    const Drive& d = g_drives[i];
    if (d.path == path) return static_cast<int32_t>(i);
    if (!exists) continue;
    struct stat other {};
    if (stat(d.path.c_str(), &other) != 0) continue;
    if (device ? !d.image && (S_ISBLK(other.st_mode) || S_ISCHR(other.st_mode)) && other.st_rdev == st.st_rdev
               : d.image && other.st_dev == st.st_dev && other.st_ino == st.st_ino)
      return static_cast<int32_t>(i);
  }
  return -1;
}

// One drive is one device, whatever names lead to it: known by its device number, shown by
// the kernel's name.
void addDevice(const std::string& path) {
  const std::string name = kernelName(path);
  if (findDrive(name) < 0) addDrive(name, false);
}

// Why the selected drive's last CR_ReadToc found no readable disc; empty when nothing more is
// known.
std::string g_tocProblem;

// libcdio's own handler ends the process on an error message (exit) and on an assertion
// (abort): a bad sector or a bad image would take the program down in the middle of a file.
// The last error is kept (an image refused says it), and the caller's status says what failed.
void logHandler(cdio_log_level_t level, const char* message) {
  if (level < CDIO_LOG_ERROR) return;
  g_openProblem = message ? message : "";
  // In the child that reads an image's table of contents, an assertion means a reader gone
  // astray: end there, so the image is refused.
  if (level == CDIO_LOG_ASSERT && g_inProbeChild) _exit(3);
}

}  // namespace

namespace cdrip_internal {

Drive* active() {
  if (g_active < 0 || g_active >= static_cast<int32_t>(g_drives.size())) return nullptr;
  return &g_drives[static_cast<size_t>(g_active)];
}

void closeCdio(Drive& d) { d.cdio.reset(); }

bool refuseChangedDisc(Drive& d) {
  g_ripperProblem.clear();
  if (d.image || d.toc.empty()) return false;
  // A table of contents read afresh through a handle of its own (libcdio keeps the one it
  // read first): a disc swapped since the listing has another one, or none at all.
  std::vector<TOCENTRY> now;
  if (CdIo_t* p = cdio_open(d.path.c_str(), DRIVER_DEVICE)) {
    now = readTocEntries(p);
    cdio_destroy(p);
  }
  const auto same = [](const TOCENTRY& a, const TOCENTRY& b) {
    return a.dwStartSector == b.dwStartSector && a.btFlag == b.btFlag;
  };
  if (now.size() == d.toc.size() && std::equal(now.begin(), now.end(), d.toc.begin(), same)) return false;
  g_ripperProblem = "The disc was changed: list it again";
  closeCdio(d);
  d.toc.clear();
  return true;
}

CdIo_t* openDriveHandle(Drive& d) {
  if (d.trayOpen) return nullptr;
  g_openProblem.clear();
  return d.image ? openImage(d) : cdio_open(d.path.c_str(), DRIVER_DEVICE);
}

bool openCdio(Drive& d) {
  if (d.trayOpen) return false;
  if (!d.cdio) d.cdio.reset(openDriveHandle(d));
  return d.cdio != nullptr;
}

}  // namespace cdrip_internal

extern "C" {

CDEX_ERR CR_AddDrive(const char* path) {
  if (g_initialised || !path || !*path) return CDEX_ERROR;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return CDEX_ERROR;
  g_added.emplace_back(path);
  return CDEX_OK;
}

CDEX_ERR CR_OpenImage(const char* path, char* reason, int32_t size) {
  std::string why;
  const CDEX_ERR status = [&]() -> CDEX_ERR {
    if (!path || !*path) {
      why = "no file was named";
      return CDEX_ERROR;
    }
    const std::string name = std::filesystem::path(path).filename().string();
    const std::string notImage = name + " is not a disc image (cue, toc, nrg ...)";
    if (!g_initialised) {
      why = "the CD library is not started";
      return CDEX_ERROR;
    }
    struct stat st {};
    if (stat(path, &st) != 0) {
      why = name + ": " + std::strerror(errno);
      return CDEX_ERROR;
    }
    if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
      addDevice(path);
      return CDEX_OK;
    }
    if (!S_ISREG(st.st_mode)) {
      why = notImage;
      return CDEX_ERROR;
    }
    if (findDrive(path) >= 0) return CDEX_OK;
    // Said plainly before the image's readers get to guess at it.
    if (const int fd = open(path, O_RDONLY | O_CLOEXEC); fd < 0) {
      why = name + ": " + std::strerror(errno);
      return CDEX_ERROR;
    } else {
      close(fd);
    }
    // The image is read once here, so that a file that is no disc is refused now, with its
    // reason, instead of being listed as a drive without a disc.
    addDrive(path, true);
    Drive& d = g_drives.back();
    g_openProblem.clear();
    CdIo_t* p = openImage(d);
    std::vector<TOCENTRY> toc;
    if (p) toc = readTocEntries(p);
    if (!p || toc.empty()) {
      if (p) cdio_destroy(p);
      std::string ext = std::filesystem::path(path).extension().string();
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const bool named = ext == ".cue" || ext == ".toc" || ext == ".nrg";
      why = named && !g_openProblem.empty() ? name + ": " + g_openProblem : notImage;
      g_drives.pop_back();
      return CDEX_ERROR;
    }
    d.cdio.reset(p);
    return CDEX_OK;
  }();
  if (reason && size > 0) {
    std::strncpy(reason, why.c_str(), static_cast<size_t>(size) - 1);
    reason[size - 1] = '\0';
  }
  return status;
}

int32_t CR_FindDrive(const char* path) { return path && *path ? findDrive(path) : -1; }

void CR_DeInit(void) {
  stopPlayback();
  freeRipper();
  for (auto& d : g_drives) closeCdio(d);
  g_drives.clear();
  g_added.clear();
  forgetImages();
  g_tocProblem.clear();
  g_active = 0;
  g_initialised = false;
}

int32_t CR_GetCDRipVersion(void) { return kVersion; }

CDEX_ERR CR_Init(void) {
  if (g_initialised) return CDEX_OK;
  cdio_loglevel_default = CDIO_LOG_ERROR;
  cdio_log_set_handler(logHandler);
  if (char** devs = cdio_get_devices(DRIVER_DEVICE)) {
    for (char** p = devs; *p; ++p) addDevice(*p);
    cdio_free_device_list(devs);
  }
  // libcdio passes over a drive it may not open; it is listed all the same, so that the user
  // hears why it cannot be read instead of finding no drive at all.
  for (int n = 0; n < 28; ++n) {
    const std::string path = "/dev/sr" + std::to_string(n);
    if (deviceNumber(path) != 0 && permissionProblem(path).size() > 0) addDevice(path);
  }
  for (const auto& path : g_added) {
    if (!isImagePath(path) && deviceNumber(path) != 0) {
      addDevice(path);
      continue;
    }
    const bool known = std::any_of(g_drives.begin(), g_drives.end(),
                                   [&](const Drive& d) { return d.path == path; });
    if (!known) addDrive(path, isImagePath(path));
  }
  g_active = 0;
  g_initialised = true;
  return g_drives.empty() ? CDEX_ERROR : CDEX_OK;
}

int32_t CR_GetNumCDROM(void) { return static_cast<int32_t>(g_drives.size()); }
int32_t CR_GetActiveCDROM(void) { return g_active; }

CDEX_ERR CR_SetActiveCDROM(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(g_drives.size()) || ripperOpen()) return CDEX_ERROR;
  if (index != g_active) stopPlayback();
  g_active = index;
  return CDEX_OK;
}

CDEX_ERR CR_GetCDROMParameters(CDROMPARAMS* params) {
  Drive* d = active();
  if (!d || !params) return CDEX_ERROR;
  *params = d->params;
  return CDEX_OK;
}

CDEX_ERR CR_SetCDROMParameters(const CDROMPARAMS* params) {
  Drive* d = active();
  if (!d || !params || params->nOutputFormat > MONO11025) return CDEX_ERROR;
  d->params = *params;
  if (!d->image && params->nSpeed > 0 && openCdio(*d)) cdio_set_speed(d->cdio.get(), params->nSpeed);
  return CDEX_OK;
}

CDEX_ERR CR_ReadToc(void) {
  Drive* d = active();
  if (!d) return CDEX_ERROR;
  d->toc.clear();
  g_tocProblem.clear();
  if (ripperOpen()) return CDEX_ERROR;
  // A device may have had its disc changed since the last look: open it afresh.
  if (!d->image) closeCdio(*d);
  if (!openCdio(*d)) {
    if (d->image && !d->trayOpen) g_tocProblem = g_openProblem;
    if (!d->image) g_tocProblem = permissionProblem(d->path);
    return CDEX_ERROR;
  }
  std::vector<TOCENTRY> toc = readTocEntries(d->cdio.get());
  if (toc.empty()) {
    closeCdio(*d);
    return CDEX_ERROR;
  }
  // A table of nonsense is no disc, and says why.
  if (std::string why = implausibleToc(toc); !why.empty()) {
    g_tocProblem = std::move(why);
    closeCdio(*d);
    return CDEX_ERROR;
  }
  d->toc = std::move(toc);
  // The disc now listed is the one in the drive: a change before this read is old news.
  if (!d->image) cdio_get_media_changed(d->cdio.get());
  return CDEX_OK;
}

int32_t CR_GetTocProblem(char* text, int32_t size) {
  if (text && size > 0) {
    std::strncpy(text, g_tocProblem.c_str(), static_cast<size_t>(size) - 1);
    text[size - 1] = '\0';
  }
  return static_cast<int32_t>(g_tocProblem.size());
}

int32_t CR_GetImageDataFile(char* path, int32_t size) {
  const Drive* d = active();
  std::string file;
  if (d && d->image) {
    const auto it = g_dataFiles.find(d->path);
    if (it != g_dataFiles.end()) file = it->second;
  }
  if (path && size > 0) {
    std::strncpy(path, file.c_str(), static_cast<size_t>(size) - 1);
    path[size - 1] = '\0';
  }
  return static_cast<int32_t>(file.size());
}

int32_t CR_GetNumTocEntries(void) {
  Drive* d = active();
  return d && !d->toc.empty() ? static_cast<int32_t>(d->toc.size()) - 1 : 0;
}

TOCENTRY CR_GetTocEntry(int32_t index) {
  Drive* d = active();
  if (!d || index < 0 || index >= static_cast<int32_t>(d->toc.size())) return TOCENTRY{};
  return d->toc[static_cast<size_t>(index)];
}

}  // extern "C"
