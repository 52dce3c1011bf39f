// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/face.h"

namespace face {

std::optional<HotImage> HotImageAt(int x, int y) {
  for (const HotImageInfo& h : kHotImages)
    if (h.hoverX.contains(x) && h.hoverY.contains(y)) return h.id;
  return std::nullopt;
}

bool IsActivePoint(int x, int y) {
  return HotImageAt(x, y).has_value() || (kSelAllHoverX.contains(x) && kSelAllHoverY.contains(y));
}

const HotImageInfo& Info(HotImage id) { return kHotImages[static_cast<size_t>(id)]; }

}  // namespace face
