// The artwork as the main window loads it: every resource path it relies on, each picture's
// size, and each lit button lying exactly over the button the face shows unlit.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "app/face.h"
#include "art/art.h"

namespace {

class ArtTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "art_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);  // image plugins (JPEG) are found through it
    InitTessalyArt();
  }

  static QString Path(std::string_view name, const char* ext) {
    return QStringLiteral(":/art/") + QString::fromLatin1(name.data(), static_cast<int>(name.size())) +
           QLatin1String(ext);
  }

  static QImage Load(const QString& path, QByteArray* format = nullptr) {
    QImageReader reader(path);
    if (format) *format = reader.format();
    return reader.read().convertToFormat(QImage::Format_ARGB32);
  }
};

struct Box {
  int left, top, right, bottom;  // right and bottom excluded
};

// Mean absolute difference per colour channel between the picture and the face under it when
// the picture is laid with its top left corner at (x, y), over the picture's pixels in `area`
// (picture coordinates).
double MeanDiff(const QImage& picture, const QImage& face, int x, int y, Box area) {
  double sum = 0;
  long n = 0;
  for (int py = area.top; py < area.bottom; ++py)
    for (int px = area.left; px < area.right; ++px) {
      const QRgb a = picture.pixel(px, py), b = face.pixel(x + px, y + py);
      sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
      n += 3;
    }
  return n ? sum / n : 0;
}

TEST_F(ArtTest, EveryPictureTheWindowLoadsIsThereAtItsSize) {
  QByteArray format;
  const QImage faceImage = Load(QStringLiteral(":/art/face.jpg"), &format);
  ASSERT_FALSE(faceImage.isNull()) << "face.jpg";
  EXPECT_EQ(format, "jpeg");
  EXPECT_EQ(faceImage.size(), QSize(face::kFacePicture.width, face::kFacePicture.height));

  for (const face::HotImageInfo& h : face::kHotImages) {
    const QImage img = Load(Path(h.name, ".jpg"), &format);
    ASSERT_FALSE(img.isNull()) << h.name;
    EXPECT_EQ(format, "jpeg") << h.name;
    EXPECT_EQ(img.size(), QSize(h.place.width, h.place.height)) << h.name;
  }

  const QImage selAll = Load(QStringLiteral(":/art/imgSelAll.png"));
  ASSERT_FALSE(selAll.isNull());
  EXPECT_EQ(selAll.size(), QSize(face::kSelAllPicture.width, face::kSelAllPicture.height));

  for (const char* icon : {"icon-audio", "icon-data", "icon-playing"}) {
    const QImage img = Load(Path(icon, ".png"));
    ASSERT_FALSE(img.isNull()) << icon;
    EXPECT_EQ(img.size(), QSize(16, 16)) << icon;
  }
  const QImage appIcon = Load(QStringLiteral(":/art/tessaly.png"));
  ASSERT_FALSE(appIcon.isNull());
  EXPECT_EQ(appIcon.size(), QSize(256, 256));
}

// The select-all caption and the row icons are laid over other pictures: their background
// must let those show through, and they must hold something to see.
TEST_F(ArtTest, PicturesLaidOverOthersAreTransparentAroundTheirDrawing) {
  for (const char* name : {"imgSelAll", "icon-audio", "icon-data", "icon-playing"}) {
    const QImage img = Load(Path(name, ".png"));
    ASSERT_FALSE(img.isNull()) << name;
    int clear = 0, solid = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const int a = qAlpha(img.pixel(x, y));
        clear += a == 0;
        solid += a > 200;
      }
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0) << name << ": the corner is not transparent";
    EXPECT_GT(clear, img.width() * img.height() / 4) << name;
    EXPECT_GT(solid, 10) << name << ": nothing drawn";
  }
}

// Each lit button is the button the face shows at that place, lit: laid at its rectangle it
// matches the face better than one or two pixels off in any direction, it is visibly
// different from the face on the button, and its light is centred on the button's hover area.
TEST_F(ArtTest, EachLitButtonLiesOverItsUnlitButtonAndIsVisiblyLit) {
  const QImage faceImage = Load(QStringLiteral(":/art/face.jpg"));
  ASSERT_FALSE(faceImage.isNull());
  for (const face::HotImageInfo& h : face::kHotImages) {
    SCOPED_TRACE(std::string(h.name));
    const QImage lit = Load(Path(h.name, ".jpg"));
    ASSERT_FALSE(lit.isNull());
    const Box whole{0, 0, lit.width(), lit.height()};
    const int x = h.place.left, y = h.place.top;

    const double atPlace = MeanDiff(lit, faceImage, x, y, whole);
    double bestElsewhere = std::numeric_limits<double>::max();
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx)
        if (dx != 0 || dy != 0) bestElsewhere = std::min(bestElsewhere, MeanDiff(lit, faceImage, x + dx, y + dy, whole));
    EXPECT_LT(atPlace, bestElsewhere) << "the lit button matches the face better when moved";

    // The hover area within the picture.
    const Box hover{std::max(0, h.hoverX.lo - x), std::max(0, h.hoverY.lo - y),
                    std::min(lit.width(), h.hoverX.hi + 1 - x), std::min(lit.height(), h.hoverY.hi + 1 - y)};
    ASSERT_LT(hover.left, hover.right);
    ASSERT_LT(hover.top, hover.bottom);
    const double onButton = MeanDiff(lit, faceImage, x, y, hover);
    EXPECT_GT(onButton, 8.0) << "not visibly lit";

    // Where the light is: the centre of the differences, weighted by their size.
    double sum = 0, cx = 0, cy = 0;
    for (int py = 0; py < lit.height(); ++py)
      for (int px = 0; px < lit.width(); ++px) {
        const QRgb a = lit.pixel(px, py), b = faceImage.pixel(x + px, y + py);
        const double d = std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
        sum += d;
        cx += d * (x + px + 0.5);
        cy += d * (y + py + 0.5);
      }
    ASSERT_GT(sum, 0);
    EXPECT_TRUE(h.hoverX.contains(static_cast<int>(cx / sum)) && h.hoverY.contains(static_cast<int>(cy / sum)))
        << "the light is centred at (" << cx / sum << ", " << cy / sum << "), outside the hover area";
  }
}

}  // namespace
