// SPDX-License-Identifier: GPL-3.0-or-later
// The artwork as the main window loads it: every resource path it relies on, each picture's
// size at 1x and 2x, the picture chosen for a screen's pixel ratio, each lit button lying
// exactly over the button the face shows unlit, and the scalable icon.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QXmlStreamReader>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QString>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "app/face.h"
#include "art/art.h"

// Under the sanitizers: this libasan's leak checker crashes reading a thread's dynamic
// thread-local storage once Qt's image plugins are loaded (after every test has passed). Read
// none; what glib keeps there for its threads then looks lost, and is glib's, not ours.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libglib-2.0.so\n"; }

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

  // The same picture drawn at twice the size: name@2x.ext.
  static QString At2x(const QString& path) {
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
  }

  // The path of the face or of a lit button at scale 1 or 2.
  static QString FaceAt(int scale) {
    return scale == 1 ? QStringLiteral(":/art/face.jpg") : QStringLiteral(":/art/face@2x.jpg");
  }
  static QString LitAt(std::string_view name, int scale) {
    return scale == 1 ? Path(name, ".jpg") : At2x(Path(name, ".jpg"));
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

// Every picture of the face again at twice the size, in the same format, which Qt's image
// reader marks as of device pixel ratio 2 (QIcon picks the row icons' from that name alone).
TEST_F(ArtTest, EachPictureOfTheFaceIsThereAtTwiceTheSize) {
  std::vector<std::pair<QString, QSize>> pictures{
      {QStringLiteral(":/art/face.jpg"), QSize(face::kFacePicture.width, face::kFacePicture.height)},
      {QStringLiteral(":/art/imgSelAll.png"), QSize(face::kSelAllPicture.width, face::kSelAllPicture.height)}};
  for (const face::HotImageInfo& h : face::kHotImages) pictures.push_back({Path(h.name, ".jpg"), QSize(h.place.width, h.place.height)});
  for (const char* icon : {"icon-audio", "icon-data", "icon-playing"}) pictures.push_back({Path(icon, ".png"), QSize(16, 16)});
  for (const auto& [path, size] : pictures) {
    SCOPED_TRACE(path.toStdString());
    QByteArray format1x, format2x;
    Load(path, &format1x);
    QImageReader reader(At2x(path));
    format2x = reader.format();
    const QImage big = reader.read();
    ASSERT_FALSE(big.isNull());
    EXPECT_EQ(format2x, format1x);
    EXPECT_EQ(big.size(), size * 2);
    EXPECT_EQ(big.devicePixelRatio(), 2.0);
  }
}

// The picture for a screen: 1x up to a ratio of 1, the 2x picture at 2, and in between the 2x
// picture brought to the screen's pixels; each covers the same window pixels.
TEST_F(ArtTest, ThePictureForAScreenHasItsPixelsAndCoversTheSameWindowPixels) {
  struct Case {
    qreal dpr;
    QSize pixels;  // of the 59 x 41 WAV button
  };
  for (const Case c : {Case{1, {59, 41}}, Case{0.75, {59, 41}}, Case{2, {118, 82}}, Case{1.5, {89, 62}},
                       Case{1.25, {74, 51}}, Case{3, {177, 123}}}) {
    SCOPED_TRACE(c.dpr);
    const QImage img = ArtImage(QStringLiteral("imgToWave.jpg"), c.dpr);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), c.pixels);
    EXPECT_EQ(img.devicePixelRatio(), std::max<qreal>(1, c.dpr));
    EXPECT_EQ((QSizeF(img.size()) / img.devicePixelRatio()).toSize(), QSize(59, 41));
  }
  EXPECT_TRUE(ArtImage(QStringLiteral("nothing.jpg"), 2).isNull());
  EXPECT_TRUE(ArtImage(QStringLiteral("nothing.jpg"), 1).isNull());
}

// The 2x face is the 1x face drawn finer, not another picture: made half as large it matches
// the 1x face closely everywhere (a part left undrawn or misplaced at 2x would stand out).
TEST_F(ArtTest, TheFaceAt2xIsTheFaceAt1xDrawnFiner) {
  const QImage small = Load(FaceAt(1)), big = Load(FaceAt(2));
  ASSERT_FALSE(small.isNull());
  ASSERT_FALSE(big.isNull());
  const QImage halved = big.scaled(small.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  // Compared in tiles of 16 x 16, so a local fault is not lost in the average.
  double worst = 0;
  QPoint where;
  for (int ty = 0; ty < small.height(); ty += 16)
    for (int tx = 0; tx < small.width(); tx += 16) {
      const Box tile{tx, ty, std::min(tx + 16, small.width()), std::min(ty + 16, small.height())};
      const double d = MeanDiff(halved, small, 0, 0, tile);
      if (d > worst) worst = d, where = QPoint(tx, ty);
    }
  // Text is hinted anew at each size, which alone makes a tile of small letters differ by
  // up to about 18; a line half a pixel off differs by more.
  EXPECT_LT(worst, 20.0) << "the faces differ most in the tile at " << where.x() << "," << where.y();
  // And it holds more than an enlargement would: pixels differ within 2 x 2 blocks.
  long detailed = 0;
  for (int y = 0; y + 1 < big.height(); y += 2)
    for (int x = 0; x + 1 < big.width(); x += 2) {
      const QRgb a = big.pixel(x, y), b = big.pixel(x + 1, y + 1);
      detailed += std::abs(qGray(a) - qGray(b)) > 24;
    }
  EXPECT_GT(detailed, 2000);
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
  for (const int s : {1, 2}) {
  SCOPED_TRACE("at " + std::to_string(s) + "x");
  const QImage faceImage = Load(FaceAt(s));
  ASSERT_FALSE(faceImage.isNull());
  for (const face::HotImageInfo& h : face::kHotImages) {
    SCOPED_TRACE(std::string(h.name));
    const QImage lit = Load(LitAt(h.name, s));
    ASSERT_FALSE(lit.isNull());
    const Box whole{0, 0, lit.width(), lit.height()};
    const int x = h.place.left * s, y = h.place.top * s;

    const double atPlace = MeanDiff(lit, faceImage, x, y, whole);
    double bestElsewhere = std::numeric_limits<double>::max();
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx)
        if (dx != 0 || dy != 0) bestElsewhere = std::min(bestElsewhere, MeanDiff(lit, faceImage, x + dx, y + dy, whole));
    EXPECT_LT(atPlace, bestElsewhere) << "the lit button matches the face better when moved";

    // The hover area within the picture.
    const Box hover{std::max(0, h.hoverX.lo * s - x), std::max(0, h.hoverY.lo * s - y),
                    std::min(lit.width(), (h.hoverX.hi + 1) * s - x), std::min(lit.height(), (h.hoverY.hi + 1) * s - y)};
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
    const double lx = cx / sum / s, ly = cy / sum / s;  // in window pixels
    EXPECT_TRUE(h.hoverX.contains(static_cast<int>(lx)) && h.hoverY.contains(static_cast<int>(ly)))
        << "the light is centred at (" << lx << ", " << ly << "), outside the hover area";
  }
  }
}

// The scalable icon is the same picture as the PNG icons: well-formed SVG on the 256 x 256
// design which, drawn by librsvg (what desktops use for SVG icons), matches the 256 PNG.
TEST_F(ArtTest, TheScalableIconIsThePngIconAsSvg) {
  const QString svgPath = QStringLiteral(ART_ICON_DIR "/scalable/tessaly.svg");
  QFile svg(svgPath);
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly)) << svgPath.toStdString();
  QXmlStreamReader xml(&svg);
  ASSERT_TRUE(xml.readNextStartElement());
  EXPECT_EQ(xml.name().toString(), QStringLiteral("svg"));
  EXPECT_EQ(xml.attributes().value(QStringLiteral("viewBox")).toString(), QStringLiteral("0 0 256 256"));
  while (!xml.atEnd()) xml.readNext();
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();

  const QString png = QDir::temp().filePath(QStringLiteral("art_test_svg_%1.png").arg(QCoreApplication::applicationPid()));
  QProcess rsvg;
  rsvg.start(QStringLiteral("rsvg-convert"), {QStringLiteral("-w"), QStringLiteral("256"), QStringLiteral("-h"),
                                              QStringLiteral("256"), QStringLiteral("-o"), png, svgPath});
  ASSERT_TRUE(rsvg.waitForStarted(5000)) << "rsvg-convert is missing (scripts/setup.sh installs librsvg2-bin)";
  ASSERT_TRUE(rsvg.waitForFinished(20000));
  ASSERT_EQ(rsvg.exitCode(), 0) << rsvg.readAllStandardError().toStdString();
  const QImage drawn = Load(png);
  QFile::remove(png);
  const QImage icon = Load(QStringLiteral(ART_ICON_DIR "/256x256/tessaly.png"));
  ASSERT_EQ(drawn.size(), QSize(256, 256));
  ASSERT_EQ(icon.size(), QSize(256, 256));
  // Colour over the pixels both cover well, and coverage everywhere.
  double colour = 0, cover = 0;
  long n = 0, solid = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      const QRgb a = drawn.pixel(x, y), b = icon.pixel(x, y);
      cover += std::abs(qAlpha(a) - qAlpha(b));
      ++n;
      if (qAlpha(a) > 240 && qAlpha(b) > 240) {
        colour += (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b))) / 3.0;
        ++solid;
      }
    }
  ASSERT_GT(solid, 256 * 256 / 2);
  EXPECT_LT(colour / solid, 8.0);
  EXPECT_LT(cover / n, 8.0);
}

// The icon theme's sizes are the design drawn at each size, not one picture stretched.
TEST_F(ArtTest, TheIconIsThereAtEachSizeOfTheTheme) {
  const QImage big = Load(QStringLiteral(ART_ICON_DIR "/256x256/tessaly.png"));
  ASSERT_FALSE(big.isNull());
  for (int size : {16, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(size);
    const QImage icon = Load(QStringLiteral(ART_ICON_DIR "/%1x%1/tessaly.png").arg(size));
    ASSERT_EQ(icon.size(), QSize(size, size));
    // Compared as a desktop shows them, over a grey panel.
    auto onGrey = [](const QImage& img) {
      QImage out(img.size(), QImage::Format_ARGB32);
      out.fill(QColor(128, 128, 128));
      QPainter p(&out);
      p.drawImage(0, 0, img);
      return out;
    };
    const QImage reference = big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LT(MeanDiff(onGrey(icon), onGrey(reference), 0, 0, Box{0, 0, size, size}), 10.0);
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);  // the tile's rounded corner lets the desktop show
  }
}

}  // namespace
