// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's artwork, built by art/mkart.cpp and linked in as Qt resources:
//   :/art/face.jpg            the whole face, 640 x 480, shown unscaled at 0,0
//   :/art/<name>.jpg          the lit form of each hot image of face::kHotImages, exactly its size
//   :/art/imgSelAll.png       the select-all caption, 62 x 17, transparent
//   :/art/icon-audio.png, icon-data.png, icon-playing.png   the 16 x 16 row icons
//   :/art/tessaly.png         the window icon, 256 x 256
// Each but the window icon also as <name>@2x.<ext>, drawn at twice the size for high-density
// screens. QIcon finds those by itself; a picture shown as a pixmap comes from ArtPixmap.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

// Registers the resources of the static library; call once before loading any :/art/ file.
void InitTessalyArt();

// The picture `file` (a name under :/art/, such as "face.jpg") for a screen of `dpr` device
// pixels per window pixel: the 1x picture up to 1, the 2x one at 2, and above 1 otherwise the
// 2x one made smaller (or larger) to the screen's pixels, never a 1x picture enlarged. The
// result's device pixel ratio is set, so it covers the 1x picture's size in window pixels.
// A null image when the file is not there.
QImage ArtImage(const QString& file, qreal dpr);
QPixmap ArtPixmap(const QString& file, qreal dpr);
