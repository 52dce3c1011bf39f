// The main window's artwork, built by art/mkart.cpp and linked in as Qt resources:
//   :/art/face.jpg            the whole face, 640 x 480, shown unscaled at 0,0
//   :/art/<name>.jpg          the lit form of each hot image of face::kHotImages, exactly its size
//   :/art/imgSelAll.png       the select-all caption, 62 x 17, transparent
//   :/art/icon-audio.png, icon-data.png, icon-playing.png   the 16 x 16 row icons
//   :/art/tessaly.png         the window icon, 256 x 256
#pragma once

// Registers the resources of the static library; call once before loading any :/art/ file.
void InitTessalyArt();
