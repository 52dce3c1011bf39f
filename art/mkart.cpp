// SPDX-License-Identifier: GPL-3.0-or-later
// Draws Tessaly's artwork with QPainter: the main window's face, the lit form of each of its
// fourteen buttons, the select-all caption, the three row icons and the application icon.
// Every place comes from app/face.h, so a button moved there is drawn at its new place.
//
// Usage: mkart OUTDIR PREVIEW
// Writes face.jpg, one <hot image>.jpg per button, imgSelAll.png, icon-audio.png,
// icon-data.png and icon-playing.png into OUTDIR, each also at twice the size as <name>@2x
// (the name Qt's image reader takes for a picture of device pixel ratio 2); tessaly.png; the
// icon theme's icons/<n>x<n>/tessaly.png and icons/scalable/tessaly.svg; and the PNG file
// PREVIEW with PREVIEW@2x: the face with every lit button and the select-all caption laid
// over it, for looking at.
//
// A lit button is cut from a whole face drawn with only that button lit, so outside what the
// lighting changes it is the face pixel for pixel, and it lines up when shown at its place.

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QConicalGradient>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <QtMath>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/face.h"

namespace {

using face::HotImage;

// One palette for everything: navy ink, a cool grey body, one blue accent that also lights.
namespace pal {
const QColor ink(0x1c, 0x2b, 0x45);          // text on light surfaces
const QColor inkSoft(0x5d, 0x6d, 0x86);      // captions
const QColor accent(0x23, 0x68, 0xd6);       // icons; lit text
const QColor glow(0x4a, 0xa0, 0xff);         // the halo of a lit button
const QColor headerTop(0x12, 0x21, 0x39);
const QColor headerBottom(0x22, 0x3f, 0x69);
const QColor bodyTop(0xe9, 0xee, 0xf5);
const QColor bodyBottom(0xd6, 0xde, 0xea);
const QColor panelTop(0xf8, 0xfa, 0xfd);
const QColor panelBottom(0xee, 0xf2, 0xf7);
const QColor border(0xa9, 0xb6, 0xc9);
const QColor frame(0x0e, 0x1a, 0x2d);        // the window's outer edge
const QColor onDark(0xc6, 0xd5, 0xea);       // symbols on the dark bars
}  // namespace pal

const char* const kFamily = "Liberation Sans";

// The sizes of the application icon in the hicolor theme.
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

QFont Font(qreal pixels, QFont::Weight weight = QFont::Normal, qreal spacing = 0) {
  QFont f(kFamily);
  f.setPixelSize(qRound(pixels));
  f.setWeight(weight);
  f.setHintingPreference(QFont::PreferVerticalHinting);
  if (spacing != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
  return f;
}

QRect Place(HotImage id) {
  const face::Rect r = face::Info(id).place;
  return QRect(r.left, r.top, r.width, r.height);
}

QRect Place(const face::Rect& r) { return QRect(r.left, r.top, r.width, r.height); }

QColor Alpha(QColor c, int a) {
  c.setAlpha(a);
  return c;
}

// ---- soft shadows and glows ---------------------------------------------------------------

// One box-blur pass along rows or columns of a premultiplied image; three passes come close
// to a Gaussian. Pixels outside the image count as transparent.
void BoxBlurPass(QImage& img, int r, bool alongRows) {
  const int n = alongRows ? img.width() : img.height();
  const int lines = alongRows ? img.height() : img.width();
  const int window = 2 * r + 1;
  std::vector<QRgb> line(static_cast<size_t>(n));
  for (int l = 0; l < lines; ++l) {
    auto at = [&](int i) -> QRgb& {
      return alongRows ? reinterpret_cast<QRgb*>(img.scanLine(l))[i]
                       : reinterpret_cast<QRgb*>(img.scanLine(i))[l];
    };
    for (int i = 0; i < n; ++i) line[static_cast<size_t>(i)] = at(i);
    int sum[4] = {0, 0, 0, 0};
    auto add = [&](int i, int sign) {
      if (i < 0 || i >= n) return;
      const QRgb c = line[static_cast<size_t>(i)];
      sum[0] += sign * qAlpha(c);
      sum[1] += sign * qRed(c);
      sum[2] += sign * qGreen(c);
      sum[3] += sign * qBlue(c);
    };
    for (int i = -r; i <= r; ++i) add(i, 1);
    for (int i = 0; i < n; ++i) {
      at(i) = qRgba((sum[1] + r) / window, (sum[2] + r) / window, (sum[3] + r) / window,
                    (sum[0] + r) / window);
      add(i - r, -1);
      add(i + r + 1, 1);
    }
  }
}

// Draws `shape` filled with `color` and blurred by about `radius` pixels, moved by `offset`:
// a drop shadow below a control, or a glow around a lit one. The layer is made at the
// painter's own scale, so a face drawn at 2x gets a 2x shadow, not an enlarged 1x one.
void DrawBlurred(QPainter& p, const QPainterPath& shape, const QColor& color, int radius,
                 QPointF offset = {}) {
  const qreal scale = std::max<qreal>(1, p.worldTransform().m11());
  const int pad = 3 * radius + 2;
  const QRect box = shape.boundingRect().toAlignedRect().adjusted(-pad, -pad, pad, pad);
  QImage layer((QSizeF(box.size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  {
    QPainter lp(&layer);
    lp.setRenderHint(QPainter::Antialiasing);
    lp.scale(scale, scale);
    lp.translate(-box.topLeft());
    lp.fillPath(shape, color);
  }
  const int pass = std::max(1, qRound(radius * scale) / 2);
  for (int i = 0; i < 3; ++i) {
    BoxBlurPass(layer, pass, true);
    BoxBlurPass(layer, pass, false);
  }
  layer.setDevicePixelRatio(scale);
  p.save();
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(QPointF(box.topLeft()) + offset, layer);
  p.restore();
}

QPainterPath Rounded(const QRectF& r, qreal radius) {
  QPainterPath path;
  path.addRoundedRect(r, radius, radius);
  return path;
}

// A sunken well: the shadow of the rim falls inside, from above.
void DrawWell(QPainter& p, const QRectF& r, qreal radius, const QColor& fill) {
  const QPainterPath inner = Rounded(r, radius);
  p.fillPath(inner, fill);
  QPainterPath rim;
  rim.addRect(r.adjusted(-12, -12, 12, 12));
  rim = rim.subtracted(inner);
  p.save();
  p.setClipPath(inner);
  DrawBlurred(p, rim, QColor(16, 32, 64, 90), 3, QPointF(0, 1.5));
  p.restore();
  p.setPen(QPen(QColor(0x8e, 0x9c, 0xb2), 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(inner);
  // The lower lip catches the light.
  p.setPen(QPen(QColor(255, 255, 255, 200), 1));
  p.drawLine(QPointF(r.left() + radius, r.bottom() + 1), QPointF(r.right() - radius, r.bottom() + 1));
}

// A raised panel with a soft shadow.
void DrawPanel(QPainter& p, const QRectF& r, qreal radius) {
  const QPainterPath path = Rounded(r, radius);
  DrawBlurred(p, path, QColor(20, 40, 80, 55), 4, QPointF(0, 2));
  QLinearGradient fill(r.topLeft(), r.bottomLeft());
  fill.setColorAt(0, pal::panelTop);
  fill.setColorAt(1, pal::panelBottom);
  p.fillPath(path, fill);
  p.setPen(QPen(pal::border, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  p.setPen(QPen(QColor(255, 255, 255, 230), 1));
  p.drawLine(QPointF(r.left() + radius, r.top() + 1), QPointF(r.right() - radius, r.top() + 1));
}

// Small letter-spaced capitals naming a group of controls.
void DrawCaption(QPainter& p, const QPointF& baseline, const QString& text, bool centred = false) {
  p.setFont(Font(9, QFont::Bold, 1.2));
  p.setPen(pal::inkSoft);
  QPointF at = baseline;
  if (centred) at.rx() -= p.fontMetrics().horizontalAdvance(text) / 2.0;
  p.drawText(at, text);
}

// ---- little pictures ------------------------------------------------------------------------

// The rainbow sheen of a disc centred on c.
constexpr qreal kDiscSheenAngle = 30;
QConicalGradient DiscSheen(const QPointF& c = {}) {
  QConicalGradient sheen(c, kDiscSheenAngle);
  sheen.setColorAt(0.00, QColor(0xe9, 0xee, 0xf4));
  sheen.setColorAt(0.10, QColor(0xc9, 0xe4, 0xf7));
  sheen.setColorAt(0.18, QColor(0xf2, 0xdb, 0xf0));
  sheen.setColorAt(0.27, QColor(0xf4, 0xf0, 0xd6));
  sheen.setColorAt(0.36, QColor(0xcf, 0xd8, 0xe4));
  sheen.setColorAt(0.50, QColor(0xee, 0xf2, 0xf7));
  sheen.setColorAt(0.60, QColor(0xc9, 0xe4, 0xf7));
  sheen.setColorAt(0.68, QColor(0xf2, 0xdb, 0xf0));
  sheen.setColorAt(0.77, QColor(0xf4, 0xf0, 0xd6));
  sheen.setColorAt(0.86, QColor(0xcf, 0xd8, 0xe4));
  sheen.setColorAt(1.00, QColor(0xe9, 0xee, 0xf4));
  return sheen;
}

// A compact disc seen from above: silver with a soft rainbow sheen, a clear hub and a hole.
void DrawDisc(QPainter& p, const QPointF& c, qreal r, bool withShadow = true) {
  QPainterPath disc;
  disc.addEllipse(c, r, r);
  if (withShadow) DrawBlurred(p, disc, QColor(0, 0, 0, 90), std::max(1, qRound(r / 8)), QPointF(0, r / 14 + 0.5));
  const QConicalGradient sheen = DiscSheen(c);
  p.fillPath(disc, sheen);
  QRadialGradient depth(c, r);
  depth.setColorAt(0.0, QColor(255, 255, 255, 0));
  depth.setColorAt(0.85, QColor(255, 255, 255, 0));
  depth.setColorAt(1.0, QColor(40, 60, 90, 60));
  p.fillPath(disc, depth);
  p.setPen(QPen(QColor(0x7d, 0x8c, 0xa3), std::max(0.8, r / 20)));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, r, r);
  // Hub: a clear ring, then the hole, which shows what lies below.
  p.setPen(QPen(QColor(0x9a, 0xa8, 0xbc), std::max(0.6, r / 30)));
  p.setBrush(QColor(0xf7, 0xf9, 0xfc, 220));
  p.drawEllipse(c, r * 0.36, r * 0.36);
  p.setBrush(QColor(0x2a, 0x6c, 0xd8));
  p.setPen(Qt::NoPen);
  p.drawEllipse(c, r * 0.22, r * 0.22);
  p.setBrush(QColor(0x16, 0x26, 0x40));
  p.drawEllipse(c, r * 0.11, r * 0.11);
}

// A sheet of paper with a folded corner, the picture of an output file.
void DrawSheet(QPainter& p, const QRectF& r, const QColor& line) {
  const qreal fold = r.width() * 0.34;
  QPainterPath sheet;
  sheet.moveTo(r.topLeft());
  sheet.lineTo(r.right() - fold, r.top());
  sheet.lineTo(r.right(), r.top() + fold);
  sheet.lineTo(r.bottomRight());
  sheet.lineTo(r.bottomLeft());
  sheet.closeSubpath();
  p.setPen(QPen(line, 1));
  p.setBrush(Qt::white);
  p.drawPath(sheet);
  QPainterPath corner;
  corner.moveTo(r.right() - fold, r.top());
  corner.lineTo(r.right() - fold, r.top() + fold);
  corner.lineTo(r.right(), r.top() + fold);
  p.drawPath(corner);
}

// A sound wave: bars of a waveform, centred on c.
void DrawWave(QPainter& p, const QPointF& c, const QColor& color) {
  static const qreal heights[] = {3, 7, 12, 8, 14, 9, 5, 11, 6, 3};
  const int n = sizeof heights / sizeof heights[0];
  const qreal step = 2.6, width = 1.6;
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  for (int i = 0; i < n; ++i) {
    const qreal x = c.x() + (i - (n - 1) / 2.0) * step;
    p.drawRoundedRect(QRectF(x - width / 2, c.y() - heights[i] / 2, width, heights[i]), 0.8, 0.8);
  }
}

// Two beamed eighth notes, centred on c, about 14 pixels tall.
void DrawNotes(QPainter& p, const QPointF& c, const QColor& color) {
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  const QPointF a = c + QPointF(-4.5, 4.5), b = c + QPointF(4.5, 3.0);
  auto head = [&](const QPointF& at) {
    p.save();
    p.translate(at);
    p.rotate(-22);
    p.drawEllipse(QRectF(-3.0, -2.1, 6.0, 4.2));
    p.restore();
  };
  head(a);
  head(b);
  const qreal stemA = a.x() + 2.4, stemB = b.x() + 2.4;
  p.drawRect(QRectF(stemA - 0.7, a.y() - 11.0, 1.4, 11.0));
  p.drawRect(QRectF(stemB - 0.7, b.y() - 11.0, 1.4, 11.0));
  QPainterPath beam;
  beam.moveTo(stemA - 0.7, a.y() - 11.0);
  beam.lineTo(stemB + 0.7, b.y() - 12.5);
  beam.lineTo(stemB + 0.7, b.y() - 9.5);
  beam.lineTo(stemA - 0.7, a.y() - 8.0);
  beam.closeSubpath();
  p.drawPath(beam);
}

// ---- the buttons ----------------------------------------------------------------------------
//
// Each button is drawn inside its hot image's rectangle (the lit form is cut from there), a
// pixel or two in, so that its glow stays within the picture that shows it.

// The two big buttons of the extract commands: a picture above the format's name.
void DrawFormatButton(QPainter& p, HotImage id, bool lit) {
  const QRect place = Place(id);
  // Both the same size, and in one column however their rectangles differ.
  const QRectF plate(39.5, place.top() + 1.5, 46, 35);
  const QPainterPath path = Rounded(plate, 6);
  if (lit)
    DrawBlurred(p, path, Alpha(pal::glow, 210), 2);
  else
    DrawBlurred(p, path, QColor(20, 40, 80, 70), 2, QPointF(0, 1));
  QLinearGradient fill(plate.topLeft(), plate.bottomLeft());
  fill.setColorAt(0, lit ? QColor(0xf6, 0xfb, 0xff) : QColor(0xff, 0xff, 0xff));
  fill.setColorAt(1, lit ? QColor(0xc8, 0xe1, 0xff) : QColor(0xe2, 0xe8, 0xf1));
  p.fillPath(path, fill);
  p.setPen(QPen(lit ? QColor(0x2f, 0x86, 0xff) : pal::border, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  const bool wav = id == HotImage::imgToWave;
  const QPointF picture(plate.center().x(), plate.top() + 12);
  const QColor pictureColor = lit ? QColor(0x0f, 0x6a, 0xf0) : pal::accent;
  if (wav)
    DrawWave(p, picture, pictureColor);
  else
    DrawNotes(p, picture + QPointF(0, 0.5), pictureColor);
  p.setFont(Font(11, QFont::Bold, 0.4));
  p.setPen(lit ? QColor(0x0b, 0x4e, 0xbf) : pal::ink);
  p.drawText(QRectF(plate.left(), plate.top() + 21, plate.width(), 12), Qt::AlignCenter,
             wav ? QStringLiteral("WAV") : QStringLiteral("MP3"));
}

// The three word buttons: Options, Help and Exit.
void DrawWordButton(QPainter& p, HotImage id, bool lit) {
  const QString word = id == HotImage::imgOptions ? QStringLiteral("Options")
                       : id == HotImage::imgHelp  ? QStringLiteral("Help")
                                                  : QStringLiteral("Exit");
  const qreal width = id == HotImage::imgOptions ? 46 : 30;
  // Vertically centred on the hover band, which is narrower than the rectangle.
  const face::Range band = face::Info(id).hoverY;
  const qreal mid = (band.lo + band.hi + 1) / 2.0;
  const QRectF pill(39.5, std::floor(mid - 8) + 0.5, width, 16);
  const QPainterPath path = Rounded(pill, 8);
  if (lit)
    DrawBlurred(p, path, Alpha(pal::glow, 200), 2);
  else
    DrawBlurred(p, path, QColor(20, 40, 80, 60), 1, QPointF(0, 1));
  QLinearGradient fill(pill.topLeft(), pill.bottomLeft());
  fill.setColorAt(0, lit ? QColor(0xf4, 0xfa, 0xff) : QColor(0xfd, 0xfe, 0xff));
  fill.setColorAt(1, lit ? QColor(0xc6, 0xdf, 0xff) : QColor(0xe3, 0xe9, 0xf1));
  p.fillPath(path, fill);
  p.setPen(QPen(lit ? QColor(0x2f, 0x86, 0xff) : pal::border, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  p.setFont(Font(10, QFont::Bold, 0.2));
  p.setPen(lit ? QColor(0x0b, 0x4e, 0xbf) : pal::ink);
  p.drawText(pill.adjusted(0, 0, 0, -0.5), Qt::AlignCenter, word);
}

// Minimize and close on the dark header.
void DrawWindowButton(QPainter& p, HotImage id, bool lit) {
  const QRect place = Place(id);
  const bool close = id == HotImage::imgClose;
  const QRectF box(place.left() + 1.5, 22.5, 15, 15);
  const QPainterPath path = Rounded(box, 4);
  if (lit) {
    const QColor hue = close ? QColor(0xe5, 0x48, 0x4d) : QColor(0x2f, 0x7f, 0xf0);
    DrawBlurred(p, path, Alpha(close ? QColor(0xff, 0x6b, 0x6b) : pal::glow, 200), 1);
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, hue.lighter(125));
    fill.setColorAt(1, hue);
    p.fillPath(path, fill);
    p.setPen(QPen(hue.lighter(150), 1));
  } else {
    p.fillPath(path, QColor(255, 255, 255, 22));
    p.setPen(QPen(QColor(255, 255, 255, 50), 1));
  }
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  p.setPen(QPen(lit ? Qt::white : pal::onDark, 1.6, Qt::SolidLine, Qt::RoundCap));
  const QPointF c = box.center();
  if (close) {
    p.drawLine(c + QPointF(-3.5, -3.5), c + QPointF(3.5, 3.5));
    p.drawLine(c + QPointF(-3.5, 3.5), c + QPointF(3.5, -3.5));
  } else {
    p.drawLine(c + QPointF(-4, 3.5), c + QPointF(4, 3.5));
  }
}

// The maker's mark in the lower left corner.
void DrawMark(QPainter& p, bool lit) {
  const face::HotImageInfo& info = face::Info(HotImage::imgCorvane);
  const qreal mid = (info.hoverY.lo + info.hoverY.hi + 1) / 2.0;
  const QString text = QStringLiteral("tessaly.org");
  const QFont font = Font(11, QFont::Bold, 0.3);
  const qreal textLeft = 33;
  const QFontMetricsF fm(font);
  const qreal baseline = std::round(mid + fm.capHeight() / 2);
  const qreal textRight = textLeft + fm.horizontalAdvance(text);
  if (lit) {
    QPainterPath word;
    word.addText(QPointF(textLeft, baseline), font, text);
    DrawBlurred(p, word, Alpha(pal::glow, 160), 2);
  }
  p.save();
  p.translate(24.5, mid);
  if (lit) {
    QPainterPath ring;
    ring.addEllipse(QPointF(0, 0), 7.5, 7.5);
    DrawBlurred(p, ring, Alpha(pal::glow, 220), 2);
  }
  DrawDisc(p, QPointF(0, 0), 6.5, false);
  p.restore();
  p.setFont(font);
  p.setPen(lit ? QColor(0x0f, 0x5c, 0xd6) : pal::inkSoft);
  p.drawText(QPointF(textLeft, baseline), text);
  if (lit) {
    p.setPen(QPen(QColor(0x0f, 0x5c, 0xd6, 200), 1));
    p.drawLine(QPointF(textLeft, baseline + 2.5), QPointF(textRight, baseline + 2.5));
  }
}

// The player: one dark bar holding the six symbols, each centred on its hover area.
struct PlayerKey {
  HotImage id;
  qreal centre;  // x of the symbol's centre
};

std::vector<PlayerKey> PlayerKeys() {
  std::vector<PlayerKey> keys;
  for (HotImage id : {HotImage::imgBack, HotImage::imgPlay, HotImage::imgPause, HotImage::imgStop,
                      HotImage::imgForward, HotImage::imgEject}) {
    const face::HotImageInfo& info = face::Info(id);
    keys.push_back({id, (info.hoverX.lo + info.hoverX.hi + 1) / 2.0});
  }
  return keys;
}

// The band every player rectangle covers, so that each lit key holds the bar's full height.
QRectF PlayerBar() {
  int top = 0, bottom = 1 << 20, left = 1 << 20, right = 0;
  for (const PlayerKey& k : PlayerKeys()) {
    const QRect r = Place(k.id);
    top = std::max(top, r.top());
    bottom = std::min(bottom, r.bottom());
    left = std::min(left, r.left());
    right = std::max(right, r.right());
  }
  return QRectF(left - 2.5, top + 0.5, right - left - 2, bottom - top);
}


constexpr qreal kPlayerGlowRadius = 10;

QPainterPath PlayerSymbol(HotImage id, const QPointF& c) {
  QPainterPath s;
  s.setFillRule(Qt::WindingFill);
  auto triangle = [&](qreal x0, qreal x1, qreal halfHeight) {  // pointing from x0 to x1
    s.moveTo(x0, c.y() - halfHeight);
    s.lineTo(x1, c.y());
    s.lineTo(x0, c.y() + halfHeight);
    s.closeSubpath();
  };
  switch (id) {
    case HotImage::imgBack:
      s.addRect(QRectF(c.x() - 5.5, c.y() - 5, 2, 10));
      triangle(c.x() + 5, c.x() - 3.5, 5);
      break;
    case HotImage::imgPlay:
      triangle(c.x() - 3.5, c.x() + 5.5, 5.5);
      break;
    case HotImage::imgPause:
      s.addRect(QRectF(c.x() - 4, c.y() - 5, 3, 10));
      s.addRect(QRectF(c.x() + 1, c.y() - 5, 3, 10));
      break;
    case HotImage::imgStop:
      s.addRoundedRect(QRectF(c.x() - 4.5, c.y() - 4.5, 9, 9), 1, 1);
      break;
    case HotImage::imgForward:
      triangle(c.x() - 5, c.x() + 3.5, 5);
      s.addRect(QRectF(c.x() + 3.5, c.y() - 5, 2, 10));
      break;
    case HotImage::imgEject:
      s.moveTo(c.x() - 5.5, c.y() + 1);
      s.lineTo(c.x(), c.y() - 5.5);
      s.lineTo(c.x() + 5.5, c.y() + 1);
      s.closeSubpath();
      s.addRect(QRectF(c.x() - 5.5, c.y() + 3, 11, 2.2));
      break;
    default:
      break;
  }
  return s;
}

void DrawPlayer(QPainter& p, std::optional<HotImage> lit) {
  const QRectF bar = PlayerBar();
  const QPainterPath path = Rounded(bar, bar.height() / 2);
  DrawBlurred(p, path, QColor(10, 20, 40, 80), 2, QPointF(0, 1.5));
  QLinearGradient fill(bar.topLeft(), bar.bottomLeft());
  fill.setColorAt(0, QColor(0x2d, 0x4b, 0x78));
  fill.setColorAt(0.5, QColor(0x1f, 0x38, 0x5d));
  fill.setColorAt(1, QColor(0x16, 0x29, 0x46));
  p.fillPath(path, fill);
  p.setPen(QPen(pal::frame, 1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  p.setPen(QPen(QColor(255, 255, 255, 45), 1));
  p.drawLine(QPointF(bar.left() + bar.height() / 2, bar.top() + 1),
             QPointF(bar.right() - bar.height() / 2, bar.top() + 1));

  const std::vector<PlayerKey> keys = PlayerKeys();
  const qreal cy = bar.center().y();
  const QString caption = QStringLiteral("PLAYER");
  const qreal captionWidth = QFontMetricsF(Font(9, QFont::Bold, 1.2)).horizontalAdvance(caption);
  DrawCaption(p, QPointF(bar.left() - 9 - captionWidth, cy + 3.5), caption);
  // Grooves between the keys, halfway between their symbols.
  for (size_t i = 1; i < keys.size(); ++i) {
    const qreal x = std::floor((keys[i - 1].centre + keys[i].centre) / 2) + 0.5;
    p.setPen(QPen(QColor(0, 0, 0, 90), 1));
    p.drawLine(QPointF(x, bar.top() + 4), QPointF(x, bar.bottom() - 4));
    p.setPen(QPen(QColor(255, 255, 255, 30), 1));
    p.drawLine(QPointF(x + 1, bar.top() + 4), QPointF(x + 1, bar.bottom() - 4));
  }
  for (const PlayerKey& k : keys) {
    const QPointF c(k.centre, cy);
    const QPainterPath symbol = PlayerSymbol(k.id, c);
    if (lit == k.id) {
      // A pool of light on the bar, kept inside the key's own picture, and a halo round the symbol.
      p.save();
      p.setClipPath(path);
      p.setClipRect(Place(k.id), Qt::IntersectClip);
      QRadialGradient pool(c, kPlayerGlowRadius);
      pool.setColorAt(0, Alpha(pal::glow, 150));
      pool.setColorAt(0.6, Alpha(pal::glow, 50));
      pool.setColorAt(1, Alpha(pal::glow, 0));
      p.fillRect(bar, pool);
      DrawBlurred(p, symbol, QColor(0x9c, 0xd0, 0xff, 255), 2);
      p.restore();
    }
    p.fillPath(symbol, lit == k.id ? QColor(Qt::white) : pal::onDark);
  }
}

// ---- the face -------------------------------------------------------------------------------

constexpr int kMargin = 14;          // between the window's edge and the panels
constexpr qreal kHeaderHeight = 58;

void DrawHeader(QPainter& p) {
  const QRectF header(0, 0, 640, kHeaderHeight);
  QLinearGradient fill(0, 0, 0, header.bottom());
  fill.setColorAt(0, pal::headerTop);
  fill.setColorAt(1, pal::headerBottom);
  p.fillRect(header, fill);
  QRadialGradient sheen(QPointF(150, -70), 360);
  sheen.setColorAt(0, QColor(255, 255, 255, 34));
  sheen.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillRect(header, sheen);
  p.fillRect(QRectF(0, kHeaderHeight - 1, 640, 1), QColor(0x3a, 0x62, 0x98));
  p.fillRect(QRectF(0, kHeaderHeight, 640, 1), pal::frame);
  QLinearGradient shade(0, kHeaderHeight + 1, 0, kHeaderHeight + 7);
  shade.setColorAt(0, QColor(10, 20, 40, 70));
  shade.setColorAt(1, QColor(10, 20, 40, 0));
  p.fillRect(QRectF(0, kHeaderHeight + 1, 640, 6), shade);

  DrawDisc(p, QPointF(33, 29), 16);
  const QFont wordFont = Font(28, QFont::Bold, 0.2);
  const QString name = QStringLiteral("Tessaly");
  QPainterPath word;
  word.addText(QPointF(57, 39), wordFont, name);
  DrawBlurred(p, word, QColor(0, 0, 0, 110), 2, QPointF(0, 1.5));
  QLinearGradient wordFill(0, 16, 0, 40);
  wordFill.setColorAt(0, Qt::white);
  wordFill.setColorAt(1, QColor(0xcf, 0xe0, 0xf6));
  p.setFont(wordFont);
  p.setPen(QPen(QBrush(wordFill), 1));
  p.drawText(QPointF(57, 39), name);
  const qreal after = 57 + QFontMetricsF(wordFont).horizontalAdvance(name);
  p.setFont(Font(11, QFont::Normal, 0.6));
  p.setPen(QColor(0x8f, 0xae, 0xd6));
  p.drawText(QPointF(after + 12, 38), QStringLiteral("CD ripper & player"));
}

// The status label stands on a pale strip, so its navy text reads well.
void DrawStatusStrip(QPainter& p) {
  const QRectF strip(kMargin + 0.5, face::kStatusTop - 7.5, 638 - 2 * kMargin - 1, 27);
  DrawWell(p, strip, 5, QColor(0xfb, 0xfd, 0xff));
}

// The column of command buttons on the left.
void DrawCommands(QPainter& p, std::optional<HotImage> lit) {
  const face::Rect list = face::kTrackList;
  const QRectF column(kMargin + 4.5, 96.5, 90, list.top + list.height + 5 - 96);
  DrawPanel(p, column, 8);
  const qreal mid = column.center().x();
  DrawCaption(p, QPointF(mid, 112), QStringLiteral("EXTRACT"), true);
  // A disc giving up a file: what the two buttons below do.
  DrawDisc(p, QPointF(mid - 15, 134), 9);
  p.setPen(QPen(pal::accent, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(mid - 3, 134), QPointF(mid + 4, 134));
  p.drawPolyline(QPolygonF({QPointF(mid + 1, 131), QPointF(mid + 4, 134), QPointF(mid + 1, 137)}));
  DrawSheet(p, QRectF(mid + 8.5, 125.5, 13, 17), QColor(0x8e, 0x9c, 0xb2));
  p.setPen(QPen(QColor(0xb4, 0xc2, 0xd6), 1));
  for (int i = 0; i < 3; ++i) p.drawLine(QPointF(mid + 11, 133.5 + 3 * i), QPointF(mid + 19, 133.5 + 3 * i));

  DrawFormatButton(p, HotImage::imgToWave, lit == HotImage::imgToWave);
  DrawFormatButton(p, HotImage::imgToMP3, lit == HotImage::imgToMP3);
  // A rule between the extract commands and the rest.
  const qreal rule = (Place(HotImage::imgToMP3).bottom() + Place(HotImage::imgOptions).top()) / 2.0 + 0.5;
  p.setPen(QPen(QColor(0xc3, 0xcd, 0xdb), 1));
  p.drawLine(QPointF(column.left() + 14, rule), QPointF(column.right() - 14, rule));
  p.setPen(QPen(QColor(255, 255, 255, 220), 1));
  p.drawLine(QPointF(column.left() + 14, rule + 1), QPointF(column.right() - 14, rule + 1));
  for (HotImage id : {HotImage::imgOptions, HotImage::imgHelp, HotImage::imgExit})
    DrawWordButton(p, id, lit == id);
}

// The panel of the track area: the drive box, the select-all box and the list are real
// controls laid over it, each in a well of its own.
void DrawTrackArea(QPainter& p) {
  const face::Rect list = face::kTrackList, drive = face::kDriveBox;
  const QRectF panel(list.left - 9.5, 96.5, list.width + 18, list.top + list.height + 5 - 96);
  DrawPanel(p, panel, 8);
  DrawCaption(p, QPointF(drive.left + 1, 112), QStringLiteral("CD DRIVE"));
  DrawWell(p, QRectF(drive.left - 1.5, drive.top - 1.5, drive.width + 2, drive.height + 2), 3, Qt::white);
  DrawWell(p, QRectF(list.left - 1.5, list.top - 1.5, list.width + 2, list.height + 2), 2, Qt::white);
  // A word on what to do, between the drive box and the select-all box.
  p.setFont(Font(10.5));
  p.setPen(QColor(0x7b, 0x8a, 0xa0));
  const face::Rect box = face::kSelAllBox;
  p.drawText(QRectF(drive.left + drive.width + 12, drive.top, box.left - 14 - (drive.left + drive.width + 12), drive.height),
             Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Tick the tracks you want"));
}

// The face with every button unlit, or with one of them lit, at `scale` device pixels per
// client pixel.
QImage DrawFace(std::optional<HotImage> lit, int scale) {
  const QRect whole = Place(face::kFacePicture);
  QImage img(whole.size() * scale, QImage::Format_RGB32);
  QPainter p(&img);
  p.scale(scale, scale);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient body(0, kHeaderHeight, 0, whole.height());
  body.setColorAt(0, pal::bodyTop);
  body.setColorAt(1, pal::bodyBottom);
  p.fillRect(whole, body);
  DrawHeader(p);
  for (HotImage id : {HotImage::imgMin, HotImage::imgClose}) DrawWindowButton(p, id, lit == id);
  DrawStatusStrip(p);
  DrawCommands(p, lit);
  DrawTrackArea(p);
  DrawMark(p, lit == HotImage::imgCorvane);
  DrawPlayer(p, lit);
  // The window's edge, on the client area's last column (the face's last two fall outside).
  const int right = face::kClient.width - 1;
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(QRect(right + 1, 0, whole.width() - right - 1, whole.height()), pal::frame);
  // Rectangles rather than lines, so each edge covers whole pixels at any scale.
  const int bottom = whole.height() - 1;
  for (const QRect& edge : {QRect(0, 0, right + 1, 1), QRect(0, bottom, right + 1, 1), QRect(0, 0, 1, bottom + 1),
                            QRect(right, 0, 1, bottom + 1)})
    p.fillRect(edge, pal::frame);
  const int below = static_cast<int>(kHeaderHeight) + 1;
  p.fillRect(QRect(1, below, 1, bottom - below), QColor(255, 255, 255, 120));
  return img;
}

// ---- the small pictures ---------------------------------------------------------------------

QImage Transparent(int w, int h) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

QImage DrawSelAllCaption(int scale) {
  const QRect place = Place(face::kSelAllPicture);
  QImage img = Transparent(place.width() * scale, place.height() * scale);
  QPainter p(&img);
  p.scale(scale, scale);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(Font(11.5, QFont::DemiBold));
  p.setPen(pal::ink);
  // The box stands to the left; the words start just right of it, on the hover band.
  const int mid = (face::kSelAllHoverY.lo + face::kSelAllHoverY.hi + 1) / 2 - place.top();
  p.drawText(QRectF(3, mid - 8, place.width() - 3, 16), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Select all"));
  return img;
}

enum class RowIcon { Audio, Data, Playing };

QImage DrawRowIcon(RowIcon kind, int scale) {
  QImage img = Transparent(16 * scale, 16 * scale);
  QPainter p(&img);
  p.scale(scale, scale);
  p.setRenderHint(QPainter::Antialiasing);
  switch (kind) {
    case RowIcon::Audio: {  // a note
      p.setPen(Qt::NoPen);
      p.setBrush(pal::accent);
      p.save();
      p.translate(6, 12);
      p.rotate(-22);
      p.drawEllipse(QRectF(-3.4, -2.4, 6.8, 4.8));
      p.restore();
      p.drawRect(QRectF(8.2, 2, 1.5, 10));
      QPainterPath flag;
      flag.moveTo(9.7, 2);
      flag.cubicTo(10.5, 5, 14, 5.5, 12.5, 9.5);
      flag.cubicTo(12.8, 7, 11, 6.2, 9.7, 5.8);
      flag.closeSubpath();
      p.drawPath(flag);
      break;
    }
    case RowIcon::Data: {  // a sheet with lines of text
      DrawSheet(p, QRectF(3.5, 1.5, 10, 13), QColor(0x7d, 0x8c, 0xa3));
      p.setPen(QPen(QColor(0x9a, 0xa8, 0xbc), 1));
      for (int i = 0; i < 3; ++i) p.drawLine(QPointF(5.5, 7.5 + 2.5 * i), QPointF(11.5, 7.5 + 2.5 * i));
      break;
    }
    case RowIcon::Playing: {  // a lit play key
      QRadialGradient fill(QPointF(6.5, 5), 10);
      fill.setColorAt(0, QColor(0x5c, 0xb0, 0xff));
      fill.setColorAt(1, QColor(0x1a, 0x5f, 0xd0));
      p.setPen(QPen(QColor(0x12, 0x4a, 0xa8), 1));
      p.setBrush(fill);
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      QPainterPath play;
      play.moveTo(6.3, 4.8);
      play.lineTo(11.3, 8);
      play.lineTo(6.3, 11.2);
      play.closeSubpath();
      p.fillPath(play, Qt::white);
      break;
    }
  }
  return img;
}

// The application's icon: a disc on a navy tile, with a blue badge carrying a note; designed
// on 256 x 256 and drawn at `size` pixels square (the SVG copy below draws the same shapes).
QImage DrawAppIcon(int size) {
  QImage img = Transparent(size, size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.scale(size / 256.0, size / 256.0);
  const QRectF tile(16, 16, 224, 224);
  const QPainterPath tilePath = Rounded(tile, 50);
  DrawBlurred(p, tilePath, QColor(0, 0, 0, 90), 6, QPointF(0, 4));
  QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
  fill.setColorAt(0, pal::headerBottom.lighter(115));
  fill.setColorAt(1, pal::headerTop);
  p.fillPath(tilePath, fill);
  QRadialGradient sheen(QPointF(70, 0), 260);
  sheen.setColorAt(0, QColor(255, 255, 255, 50));
  sheen.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillPath(tilePath, sheen);
  p.setPen(QPen(QColor(255, 255, 255, 40), 2));
  p.drawPath(Rounded(tile.adjusted(1, 1, -1, -1), 49));
  DrawDisc(p, QPointF(118, 118), 82);
  // The badge.
  const QPointF badge(182, 180);
  QPainterPath circle;
  circle.addEllipse(badge, 40, 40);
  DrawBlurred(p, circle, QColor(0, 0, 0, 110), 4, QPointF(0, 3));
  QLinearGradient blue(badge - QPointF(0, 40), badge + QPointF(0, 40));
  blue.setColorAt(0, QColor(0x5a, 0xae, 0xff));
  blue.setColorAt(1, QColor(0x16, 0x5c, 0xd2));
  p.fillPath(circle, blue);
  p.setPen(QPen(QColor(255, 255, 255, 230), 4));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(badge, 40, 40);
  p.save();
  p.translate(badge + QPointF(-1, 2));
  p.scale(2.6, 2.6);
  DrawNotes(p, QPointF(0, 0), Qt::white);
  p.restore();
  return img;
}

// ---- the scalable icon ----------------------------------------------------------------------
//
// The application icon again, as SVG for the hicolor theme's scalable folder: the same shapes
// at the same places on the 256 x 256 design. SVG has no conical gradient, so the disc's
// rainbow sheen is laid out as thin wedges, each in its colour of that gradient.

QString SvgColor(const QColor& c) { return c.name(QColor::HexRgb); }

QString Num(qreal v) { return QString::number(v, 'f', 2).remove(QRegularExpression(QStringLiteral("\\.?0+$"))); }

// The colour of a gradient given by stops (position, colour) at position t.
QColor ColorAt(const QGradientStops& stops, qreal t) {
  for (int i = 1; i < stops.size(); ++i) {
    if (t > stops[i].first) continue;
    const qreal span = stops[i].first - stops[i - 1].first;
    const qreal f = span > 0 ? (t - stops[i - 1].first) / span : 0;
    const QColor a = stops[i - 1].second, b = stops[i].second;
    return QColor::fromRgbF(a.redF() + f * (b.redF() - a.redF()), a.greenF() + f * (b.greenF() - a.greenF()),
                            a.blueF() + f * (b.blueF() - a.blueF()));
  }
  return stops.last().second;
}

QString AppIconSvg() {
  const QPointF c(118, 118);
  const qreal r = 82;
  QString svg;
  QTextStream o(&svg);
  o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<!-- SPDX-License-Identifier: GPL-3.0-or-later -->\n"
    << "<!-- Drawn by art/mkart.cpp; the PNG icons are drawn from the same design. -->\n"
    << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n"
    << "  <defs>\n"
    << "    <linearGradient id=\"tile\" x1=\"0\" y1=\"16\" x2=\"0\" y2=\"240\" gradientUnits=\"userSpaceOnUse\">"
    << "<stop offset=\"0\" stop-color=\"" << SvgColor(pal::headerBottom.lighter(115)) << "\"/>"
    << "<stop offset=\"1\" stop-color=\"" << SvgColor(pal::headerTop) << "\"/></linearGradient>\n"
    << "    <radialGradient id=\"sheen\" cx=\"70\" cy=\"0\" r=\"260\" gradientUnits=\"userSpaceOnUse\">"
    << "<stop offset=\"0\" stop-color=\"#ffffff\" stop-opacity=\"0.2\"/>"
    << "<stop offset=\"1\" stop-color=\"#ffffff\" stop-opacity=\"0\"/></radialGradient>\n"
    << "    <radialGradient id=\"depth\" cx=\"" << Num(c.x()) << "\" cy=\"" << Num(c.y()) << "\" r=\"" << Num(r)
    << "\" gradientUnits=\"userSpaceOnUse\">"
    << "<stop offset=\"0.85\" stop-color=\"#283c5a\" stop-opacity=\"0\"/>"
    << "<stop offset=\"1\" stop-color=\"#283c5a\" stop-opacity=\"0.24\"/></radialGradient>\n"
    << "    <linearGradient id=\"badge\" x1=\"0\" y1=\"140\" x2=\"0\" y2=\"220\" gradientUnits=\"userSpaceOnUse\">"
    << "<stop offset=\"0\" stop-color=\"#5aaeff\"/><stop offset=\"1\" stop-color=\"#165cd2\"/></linearGradient>\n"
    << "    <filter id=\"shadow6\" x=\"-20%\" y=\"-20%\" width=\"140%\" height=\"140%\">"
    << "<feGaussianBlur stdDeviation=\"5\"/></filter>\n"
    << "    <filter id=\"shadow4\" x=\"-30%\" y=\"-30%\" width=\"160%\" height=\"160%\">"
    << "<feGaussianBlur stdDeviation=\"4\"/></filter>\n"
    << "    <clipPath id=\"disc\"><circle cx=\"" << Num(c.x()) << "\" cy=\"" << Num(c.y()) << "\" r=\"" << Num(r)
    << "\"/></clipPath>\n"
    << "  </defs>\n";
  // The tile and its shadow.
  o << "  <rect x=\"16\" y=\"20\" width=\"224\" height=\"224\" rx=\"50\" fill=\"#000000\" fill-opacity=\"0.35\" "
       "filter=\"url(#shadow6)\"/>\n"
    << "  <rect x=\"16\" y=\"16\" width=\"224\" height=\"224\" rx=\"50\" fill=\"url(#tile)\"/>\n"
    << "  <rect x=\"16\" y=\"16\" width=\"224\" height=\"224\" rx=\"50\" fill=\"url(#sheen)\"/>\n"
    << "  <rect x=\"17\" y=\"17\" width=\"222\" height=\"222\" rx=\"49\" fill=\"none\" stroke=\"#ffffff\" "
       "stroke-opacity=\"0.16\" stroke-width=\"2\"/>\n";
  // The disc: shadow, sheen in wedges, depth, rim, hub and hole.
  o << "  <circle cx=\"" << Num(c.x()) << "\" cy=\"" << Num(c.y() + r / 14 + 0.5) << "\" r=\"" << Num(r)
    << "\" fill=\"#000000\" fill-opacity=\"0.35\" filter=\"url(#shadow6)\"/>\n";
  const QGradientStops sheen = DiscSheen().stops();
  o << "  <g clip-path=\"url(#disc)\">\n";
  const int wedges = 90;
  const qreal reach = r + 2;
  for (int i = 0; i < wedges; ++i) {
    // Angles counter-clockwise on the screen from the gradient's start, as Qt lays them. Each
    // wedge reaches half-way over the next, so no seam of the background shows between them.
    const qreal a0 = qDegreesToRadians(kDiscSheenAngle + 360.0 * i / wedges);
    const qreal a1 = qDegreesToRadians(kDiscSheenAngle + 360.0 * (i + 1.5) / wedges);
    const QColor col = ColorAt(sheen, (i + 0.5) / wedges);
    o << "    <path d=\"M" << Num(c.x()) << ' ' << Num(c.y()) << " L" << Num(c.x() + reach * std::cos(a0)) << ' '
      << Num(c.y() - reach * std::sin(a0)) << " L" << Num(c.x() + reach * std::cos(a1)) << ' '
      << Num(c.y() - reach * std::sin(a1)) << " Z\" fill=\"" << SvgColor(col) << "\"/>\n";
  }
  o << "  </g>\n";
  o << "  <circle cx=\"" << Num(c.x()) << "\" cy=\"" << Num(c.y()) << "\" r=\"" << Num(r)
    << "\" fill=\"url(#depth)\" stroke=\"#7d8ca3\" stroke-width=\"" << Num(r / 20) << "\"/>\n"
    << "  <circle cx=\"" << Num(c.x()) << "\" cy=\"" << Num(c.y()) << "\" r=\"" << Num(r * 0.36)
    << "\" fill=\"#f7f9fc\" fill-opacity=\"0.86\" stroke=\"#9aa8bc\" stroke-width=\"" << Num(r / 30) << "\"/>\n"
    << "  <circle cx=\"" << Num(c.x()) << "\" cy=\"" << Num(c.y()) << "\" r=\"" << Num(r * 0.22)
    << "\" fill=\"#2a6cd8\"/>\n"
    << "  <circle cx=\"" << Num(c.x()) << "\" cy=\"" << Num(c.y()) << "\" r=\"" << Num(r * 0.11)
    << "\" fill=\"#162640\"/>\n";
  // The badge with its note.
  o << "  <circle cx=\"182\" cy=\"183\" r=\"40\" fill=\"#000000\" fill-opacity=\"0.43\" filter=\"url(#shadow4)\"/>\n"
    << "  <circle cx=\"182\" cy=\"180\" r=\"40\" fill=\"url(#badge)\" stroke=\"#ffffff\" stroke-opacity=\"0.9\" "
       "stroke-width=\"4\"/>\n"
    << "  <g transform=\"translate(181 182) scale(2.6)\" fill=\"#ffffff\">\n"
    << "    <ellipse cx=\"-4.5\" cy=\"4.5\" rx=\"3\" ry=\"2.1\" transform=\"rotate(-22 -4.5 4.5)\"/>\n"
    << "    <ellipse cx=\"4.5\" cy=\"3\" rx=\"3\" ry=\"2.1\" transform=\"rotate(-22 4.5 3)\"/>\n"
    << "    <rect x=\"-2.8\" y=\"-6.5\" width=\"1.4\" height=\"11\"/>\n"
    << "    <rect x=\"6.2\" y=\"-8\" width=\"1.4\" height=\"11\"/>\n"
    << "    <path d=\"M-2.8 -6.5 L7.6 -9.5 L7.6 -6.5 L-2.8 -3.5 Z\"/>\n"
    << "  </g>\n"
    << "</svg>\n";
  return svg;
}

// ---- writing --------------------------------------------------------------------------------

bool Save(const QImage& img, const QString& path, int quality = -1) {
  QImageWriter writer(path);
  if (quality >= 0) writer.setQuality(quality);
  if (!writer.write(img)) {
    std::fprintf(stderr, "mkart: cannot write %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
    return false;
  }
  return true;
}

// Writes the face, the lit buttons, the caption and the row icons at `scale`, with `suffix`
// ("" or "@2x") before each extension, and the preview of them all.
bool WriteFaceArt(const QString& out, const QString& preview, int scale, const QString& suffix) {
  // Near-lossless JPEG, so a lit button and the face around it agree at their shared edge.
  const int kJpegQuality = 96;
  auto at = [scale](const QRect& r) { return QRect(r.topLeft() * scale, r.size() * scale); };
  const QImage faceImage = DrawFace(std::nullopt, scale);
  bool ok = Save(faceImage, out + QStringLiteral("face") + suffix + QStringLiteral(".jpg"), kJpegQuality);
  QImage previewImage = faceImage.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  QPainter previewPainter(&previewImage);
  for (const face::HotImageInfo& info : face::kHotImages) {
    const QImage litImage = DrawFace(info.id, scale).copy(at(Place(info.id)));
    const QString name = QString::fromLatin1(info.name.data(), static_cast<int>(info.name.size()));
    ok = Save(litImage, out + name + suffix + QStringLiteral(".jpg"), kJpegQuality) && ok;
    previewPainter.drawImage(at(Place(info.id)).topLeft(), litImage);
  }
  const QImage selAll = DrawSelAllCaption(scale);
  ok = Save(selAll, out + QStringLiteral("imgSelAll") + suffix + QStringLiteral(".png")) && ok;
  previewPainter.drawImage(at(Place(face::kSelAllPicture)).topLeft(), selAll);
  previewPainter.end();
  ok = Save(previewImage, preview) && ok;

  ok = Save(DrawRowIcon(RowIcon::Audio, scale), out + QStringLiteral("icon-audio") + suffix + QStringLiteral(".png")) && ok;
  ok = Save(DrawRowIcon(RowIcon::Data, scale), out + QStringLiteral("icon-data") + suffix + QStringLiteral(".png")) && ok;
  ok = Save(DrawRowIcon(RowIcon::Playing, scale), out + QStringLiteral("icon-playing") + suffix + QStringLiteral(".png")) &&
       ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: mkart OUTDIR PREVIEW\n");
    return 2;
  }
  if (!QFontDatabase::families().contains(QString::fromLatin1(kFamily)))
    std::fprintf(stderr, "mkart: warning: font \"%s\" not found (install fonts-liberation); using a substitute\n",
                 kFamily);
  const QString out = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
  const QString preview = QString::fromLocal8Bit(argv[2]);
  QString preview2x = preview;
  const int dot = preview2x.lastIndexOf(QLatin1Char('.'));
  preview2x.insert(dot < 0 ? preview2x.size() : dot, QStringLiteral("@2x"));

  // Every picture at 1x, and at 2x for high-density screens (scales between are drawn from
  // the 2x pictures, made smaller).
  bool ok = WriteFaceArt(out, preview, 1, QString());
  ok = WriteFaceArt(out, preview2x, 2, QStringLiteral("@2x")) && ok;
  ok = Save(DrawAppIcon(256), out + QStringLiteral("tessaly.png")) && ok;

  // The icon theme's sizes, and the scalable copy.
  for (int size : kIconSizes) {
    const QString dir = out + QStringLiteral("icons/%1x%1/").arg(size);
    QDir().mkpath(dir);
    ok = Save(DrawAppIcon(size), dir + QStringLiteral("tessaly.png")) && ok;
  }
  QDir().mkpath(out + QStringLiteral("icons/scalable"));
  QFile svg(out + QStringLiteral("icons/scalable/tessaly.svg"));
  if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) || svg.write(AppIconSvg().toUtf8()) < 0) {
    std::fprintf(stderr, "mkart: cannot write %s\n", qPrintable(svg.fileName()));
    ok = false;
  }
  return ok ? 0 : 1;
}
