// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's face: where its buttons are, which points light a button and which drag
// the window. Plain functions of client coordinates, so they are tested without a window; the
// artwork generator draws the buttons from the same table.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace face {

struct Rect {  // left, top, width, height in client pixels
  int left, top, width, height;
};

struct Range {  // both ends included
  int lo, hi;
  bool contains(int v) const { return v >= lo && v <= hi; }
};

enum class HotImage {
  imgToWave, imgToMP3, imgOptions, imgHelp, imgExit, imgCorvane, imgMin, imgClose,
  imgBack, imgPlay, imgPause, imgStop, imgForward, imgEject
};
constexpr int kHotImageCount = 14;

struct HotImageInfo {
  HotImage id;
  std::string_view name;  // the control's name, also the artwork's file name
  Rect place;             // the hot image's own rectangle
  std::string_view hint;  // empty for imgCorvane, whose hint names the maker's address
  Range hoverX, hoverY;   // the hover area
};

// The maker's web address and the support address of the error report.
inline constexpr std::string_view kMakerUrl = "https://tessaly.org";
inline constexpr std::string_view kSupportEmail = "support@tessaly.org";

// In table order: the order in which hover areas are looked at.
inline constexpr std::array<HotImageInfo, kHotImageCount> kHotImages{{
    {HotImage::imgToWave, "imgToWave", {38, 156, 59, 41}, "Extract selected track(s) to WAV file(s)", {37, 93}, {155, 190}},
    {HotImage::imgToMP3, "imgToMP3", {36, 210, 52, 40}, "Extract selected track(s) to MP3 file(s)", {37, 93}, {211, 242}},
    {HotImage::imgOptions, "imgOptions", {36, 269, 54, 22}, "Show options dialog", {37, 93}, {273, 283}},
    {HotImage::imgHelp, "imgHelp", {36, 315, 36, 20}, "Open Help", {37, 93}, {317, 328}},
    {HotImage::imgExit, "imgExit", {35, 359, 36, 20}, "Quit application", {37, 93}, {362, 373}},
    {HotImage::imgCorvane, "imgCorvane", {7, 443, 106, 21}, "", {17, 99}, {449, 458}},
    {HotImage::imgMin, "imgMin", {585, 21, 18, 20}, "Minimize window", {585, 596}, {22, 31}},
    {HotImage::imgClose, "imgClose", {603, 20, 18, 20}, "Quit application", {605, 615}, {22, 31}},
    {HotImage::imgBack, "imgBack", {169, 435, 29, 23}, "Skip to previous track", {172, 191}, {437, 449}},
    {HotImage::imgPlay, "imgPlay", {199, 433, 29, 23}, "Play track", {206, 218}, {437, 449}},
    {HotImage::imgPause, "imgPause", {229, 434, 29, 23}, "Stop playing", {231, 250}, {437, 449}},
    {HotImage::imgStop, "imgStop", {258, 434, 29, 23}, "Stop playing", {264, 277}, {437, 449}},
    {HotImage::imgForward, "imgForward", {285, 434, 29, 23}, "Skip to next track", {286, 305}, {437, 449}},
    {HotImage::imgEject, "imgEject", {313, 434, 29, 23}, "Eject CD", {315, 328}, {437, 449}},
}};

// The select-all picture: an active area without a hot image.
inline constexpr Rect kSelAllPicture{556, 120, 62, 17};
inline constexpr Range kSelAllHoverX{557, 612}, kSelAllHoverY{121, 130};

// Other places on the face, for the artwork and the window.
inline constexpr Rect kClient{0, 0, 638, 480};
inline constexpr Rect kFacePicture{0, 0, 640, 480};
inline constexpr Rect kDriveBox{135, 118, 217, 23};
inline constexpr Rect kSelAllBox{544, 123, 12, 13};
inline constexpr Rect kTrackList{134, 145, 478, 277};
inline constexpr int kStatusLeft = 20, kStatusTop = 72;

// The hot image whose hover area holds (x, y), the first in table order; none elsewhere.
std::optional<HotImage> HotImageAt(int x, int y);
// Whether (x, y) lies in one of the fifteen active areas (the fourteen hover areas and the
// select-all picture). Every other point of the face drags the window.
bool IsActivePoint(int x, int y);
const HotImageInfo& Info(HotImage id);

}  // namespace face
