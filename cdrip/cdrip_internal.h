// What the CD library's files share: the drives and the open-ripper state. Internal to the
// library; the program sees only CdRip_dll.h.
#pragma once

#include <cdio/cdio.h>
#include <stdlib.h>

#include <filesystem>
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
    std::string tmpl = (std::filesystem::temp_directory_path() / "tessaly-cue-XXXXXX").string();
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
  TempFolder shim;            // see openCueByItsFileLine (cdrip_lib.cpp)
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
// Stops playback of any drive; called before a drive change, an extraction and de-init.
void stopPlayback();

}  // namespace cdrip_internal
