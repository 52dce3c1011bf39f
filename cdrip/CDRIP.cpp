// SPDX-License-Identifier: GPL-3.0-or-later
// TCDRIP: creation, drive selection, the parameter properties, the track list, durations and
// the disc identifier. Extraction lives in CDRIP_rip.cpp, playback in CDRIP_play.cpp.
#include "CDRIP.h"

#include "flac/FlacCoder.h"

#include <cstdio>
#include <cstring>

namespace {
CDROMPARAMS g_params{};

constexpr int32_t kTrue = -1;
}  // namespace

CDROMPARAMS& CDRipParams() { return g_params; }

std::string TwoDigitText(unsigned n) {
  std::string s = std::to_string(n & 0xffffu);
  if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
  return s;
}

void TTrackList::Add(std::string text, std::unique_ptr<TTrack> track) {
  items_.push_back({std::move(text), std::move(track)});
}

const TTrackList::Entry& TTrackList::at(int index) const {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return items_[static_cast<size_t>(index)];
}

TCDRIP::TCDRIP() : flacCoder_(std::make_unique<TFlacCoder>()) {
  try {
    Version = std::to_string(CR_GetCDRipVersion());
    if (CR_Init() != CDEX_ERROR) {
      if (CR_GetCDROMParameters(&g_params) != CDEX_ERROR) {
        copyFromRecord();
        cdRomNum_ = CR_GetActiveCDROM();
        jitterCorrect_ = true;
        g_params.bJitterCorrection = kTrue;
      }
      if (CR_ReadToc() != CDEX_ERROR) trackCount_ = CR_GetNumTocEntries();
      buildTrackList();
    }
    jitterErrorCount_ = 0;
  } catch (const std::exception&) {
    throw ECDRIPError("Initialization failure");
  }
}

TCDRIP::~TCDRIP() = default;

int TCDRIP::GetNumCDROM() const { return CR_GetNumCDROM(); }

bool TCDRIP::OpenImage(const std::string& path, std::string* reason) {
  char text[1024] = {};
  const bool ok = CR_OpenImage(path.c_str(), text, sizeof text) != CDEX_ERROR;
  if (reason) *reason = ok ? std::string() : std::string(text);
  return ok;
}

int TCDRIP::FindDrive(const std::string& path) const { return CR_FindDrive(path.c_str()); }

void TCDRIP::copyFromRecord() {
  driveName_.assign(g_params.lpszCDROMID, strnlen(g_params.lpszCDROMID, sizeof g_params.lpszCDROMID));
  std::memcpy(&DriveTable, &g_params.DriveType, sizeof DriveTable);
  outputFormat_ = static_cast<TOutputFormat>(g_params.nOutputFormat);
  Speed = g_params.nSpeed;
}

void TCDRIP::SelectDrive(int value) {
  tracks_.Clear();
  try {
    if (CR_SetActiveCDROM(value) != CDEX_ERROR && CR_GetCDROMParameters(&g_params) != CDEX_ERROR) {
      copyFromRecord();
      cdRomNum_ = value;
    }
    // The table is read even when the selection failed, from whichever drive is selected.
    if (CR_ReadToc() != CDEX_ERROR) {
      trackCount_ = CR_GetNumTocEntries();
      buildTrackList();
    } else {
      trackCount_ = 0;
    }
  } catch (const std::exception&) {
    throw ECDRIPError("Initialization failure");
  }
}

void TCDRIP::buildTrackList() {
  tracks_.Clear();
  for (int i = 0; i < trackCount_; ++i) {
    const TOCENTRY e0 = CR_GetTocEntry(i);
    const TOCENTRY e1 = CR_GetTocEntry(i + 1);
    auto t = std::make_unique<TTrack>();
    t->TrackNum = i + 1;
    t->StartSector = static_cast<int>(e0.dwStartSector);
    t->EndSector = static_cast<int>(e1.dwStartSector) - 1;
    t->TrackType = e0.btFlag == CR_FLAG_AUDIO ? "Audio" : "Data";
    tracks_.Add("Track" + TwoDigitText(static_cast<unsigned>(i + 1)), std::move(t));
  }
}

void TCDRIP::ApplyJitterCorrect(bool value) {
  if (value == jitterCorrect_) return;
  jitterCorrect_ = value;
  g_params.bJitterCorrection = value ? kTrue : 0;
}

void TCDRIP::ApplyOutputFormat(TOutputFormat value) {
  if (value != outputFormat_) g_params.nOutputFormat = static_cast<uint8_t>(value);
  outputFormat_ = value;
  UpdateCoder();
}

bool TCDRIP::ApplyParameters() {
  try {
    return CR_SetCDROMParameters(&g_params) != CDEX_ERROR;
  } catch (const std::exception&) {
    throw ECDRIPError("Error setting parameters");
  }
}

bool TCDRIP::IsAudioTrack(int index) const { return tracks_.Objects(index).TrackType == "Audio"; }

std::string TCDRIP::TrackDuration(int index) const {
  if (index < 0 || index >= tracks_.Count()) return "00:00";
  const TTrack& t = tracks_.Objects(index);
  const long long sectors = static_cast<long long>(t.EndSector) - t.StartSector + 1;
  if (sectors < 0) return "00:00";
  const long long minutes = sectors / 4500;
  const unsigned seconds = static_cast<unsigned>((sectors % 4500) / 75);
  return std::to_string(minutes) + ":" + TwoDigitText(seconds);
}

std::string TCDRIP::DiscID() const {
  uint32_t sum = 0;
  for (int i = 0; i < trackCount_; ++i) {
    const uint32_t a = static_cast<uint32_t>(tracks_.Objects(i).StartSector) + 150u;
    sum += (a / 4500u) * 65536u + ((a / 75u) % 60u) * 256u + a % 75u;
  }
  if (trackCount_ == 1) sum += static_cast<uint32_t>(tracks_.Objects(0).StartSector);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06X", static_cast<unsigned>(sum));
  return buf;
}

void ApplyStoredRipperValues(TCDRIP& ripper, TLameCoder* coder) {
  ripper.SelectDrive(0);
  ripper.DriveTable = TDriveTableClass{GENERIC, READMMC, SPEEDNONE, BIGENDIAN, ENABLENONE,
                                       16777216, kTrue};
  ripper.WriteWAV = true;
  ripper.Version = "115";
  ripper.Speed = 32;
  if (coder) ripper.AttachCoder(coder);
}
