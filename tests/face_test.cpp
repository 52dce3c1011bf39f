// SPDX-License-Identifier: GPL-3.0-or-later
// The face's areas: which points light a button and which drag the window.
#include <gtest/gtest.h>

#include "app/face.h"

namespace {

using face::HotImage;

TEST(Face, HoverAreasIncludeBothEnds) {
  EXPECT_FALSE(face::IsActivePoint(36, 170));
  EXPECT_TRUE(face::IsActivePoint(37, 170));
  EXPECT_EQ(face::HotImageAt(37, 155), HotImage::imgToWave);
  EXPECT_EQ(face::HotImageAt(93, 190), HotImage::imgToWave);
  EXPECT_FALSE(face::HotImageAt(93, 191).has_value());
  EXPECT_FALSE(face::HotImageAt(94, 170).has_value());  // still on the lit WAV picture
  EXPECT_EQ(face::HotImageAt(615, 31), HotImage::imgClose);
  EXPECT_EQ(face::HotImageAt(585, 22), HotImage::imgMin);
  EXPECT_EQ(face::HotImageAt(20, 450), HotImage::imgCorvane);
}

TEST(Face, TheSelectAllPictureIsActiveWithoutAHotImage) {
  EXPECT_TRUE(face::IsActivePoint(557, 121));
  EXPECT_TRUE(face::IsActivePoint(612, 130));
  EXPECT_FALSE(face::IsActivePoint(556, 125));
  EXPECT_FALSE(face::IsActivePoint(613, 125));
  EXPECT_FALSE(face::HotImageAt(580, 125).has_value());
}

TEST(Face, NoTwoHoverAreasOverlap) {
  // Exactly one hot image may light under the pointer.
  for (const auto& h : face::kHotImages) EXPECT_EQ(face::Info(h.id).name, h.name);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 638; ++x) {
      int n = 0;
      for (const auto& h : face::kHotImages) n += h.hoverX.contains(x) && h.hoverY.contains(y);
      ASSERT_LE(n, 1) << x << "," << y;
    }
}

TEST(Face, ThePlayerRowIsActiveOnlyOnItsSymbols) {
  // Between the back and play areas, and between pause and stop, the face drags.
  EXPECT_FALSE(face::IsActivePoint(200, 440));
  EXPECT_TRUE(face::IsActivePoint(206, 440));
  EXPECT_FALSE(face::IsActivePoint(255, 440));
  EXPECT_EQ(face::HotImageAt(250, 449), HotImage::imgPause);
  EXPECT_EQ(face::HotImageAt(264, 437), HotImage::imgStop);
}

}  // namespace
