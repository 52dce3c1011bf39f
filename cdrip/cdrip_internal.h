// SPDX-License-Identifier: GPL-3.0-or-later
// What the CD library's files share: the drives and the open-ripper state. Internal to the
// library; the program sees only CdRip_dll.h.
#pragma once

#include <cdio/cdio.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "CdRip_dll.h"

namespace cdrip_internal {

struct CdioCloser {
  void operator()(CdIo_t* p) const { cdio_destroy(p); }
};

// The folder temporary files go in: TMPDIR when it names a folder that can be written, else /tmp.
std::filesystem::path temporaryFolder();

// A private folder that is removed with its holder.
class TempFolder {
 public:
  TempFolder() = default;
  TempFolder(TempFolder&& o) noexcept : path_(std::move(o.path_)) { o.path_.clear(); }
  TempFolder& operator=(TempFolder&& o) noexcept {
    std::swap(path_, o.path_);
    return *this;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  bool Make() {
    std::string tmpl = (temporaryFolder() / "tessaly-cue-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return false;
    path_ = tmpl;
    return true;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Drive {
  std::string path;
  bool image = false;
  CDROMPARAMS params{};
  std::unique_ptr<CdIo_t, CdioCloser> cdio;
  bool trayOpen = false;
  std::vector<TOCENTRY> toc;  // tracks, then the lead-out
  TempFolder shim;            // see openImage (cdrip_image.cpp)
};

// The selected drive, or null.
Drive* active();
// Opens the drive's libcdio handle when it is not open; false without a readable medium.
bool openCdio(Drive& d);
// A new libcdio handle on the drive's medium, for a reader of its own (playback); the caller
// destroys it. Null when the tray is open or there is no readable medium.
CdIo_t* openDriveHandle(Drive& d);
void closeCdio(Drive& d);
// Whether an extraction is open.
bool ripperOpen();
// Closes the open extraction, if any; de-init ends one left open.
void freeRipper();
// Stops playback of any drive; called before a drive change, an extraction and de-init.
void stopPlayback();
// Why the last extraction or playback was refused, for CR_GetRipperProblem.
extern std::string g_ripperProblem;
// Whether a device's disc differs from the one listed (a table of contents read afresh); if
// so the listing is dropped and g_ripperProblem says "The disc was changed: list it again".
bool refuseChangedDisc(Drive& d);

// --- disc images (cdrip_image.cpp) ---

// The last sector a CD can address is 99:59:74, LSN 449849; a lead-out past it is a claim no
// disc can make.
constexpr int32_t kMaxLeadOut = 449850;
// Why the last attempt to open an image failed (also what libcdio's log said last).
extern std::string g_openProblem;
// The files each image drive's audio is read from, by the image's path, one per line.
extern std::map<std::string, std::string> g_dataFiles;
// Set in the child process that probes an image: an assertion there ends it.
extern bool g_inProbeChild;
// A libcdio handle on the image, once a child process read it unharmed; null with
// g_openProblem set when it cannot be read.
CdIo_t* openImage(Drive& d);
// The TOC as libcdio reports it: tracks, then the lead-out; empty when it reports no track.
std::vector<TOCENTRY> readTocEntries(CdIo_t* p);
// Empty when the TOC can be true of a CD; else why not.
std::string implausibleToc(const std::vector<TOCENTRY>& toc);
// Reads n audio sectors of an image's handle (the ripper's and the player's image reads).
driver_return_code_t readAudioSectors(CdIo_t* p, void* buf, lsn_t lsn, uint32_t n);
// Whether the files of an image handle changed on disk since it was opened (false for any
// handle that is not an image's): its table of contents may no longer be theirs.
bool imageHandleStale(CdIo_t* p);
// Drops what the library knows of every image (de-init).
void forgetImages();

}  // namespace cdrip_internal
