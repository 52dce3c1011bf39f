// SPDX-License-Identifier: GPL-3.0-or-later
#include "GradProgress.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

namespace {

// Windows' MulDiv: a × b / c rounded, halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const long long p = static_cast<long long>(a) * b;
  long long q = p / c;
  const long long r = p % c;
  if (2 * std::llabs(r) >= std::llabs(static_cast<long long>(c))) q += ((p < 0) != (c < 0)) ? -1 : 1;
  return static_cast<int>(q);
}

int roundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

// Contrast between two colours as the accessibility guidelines measure it, 1 to 21.
double Luminance(const QColor& c) {
  auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The ink for text over `under` (the colours of the part it stands on): the font's own colour
// when it reads well on all of them, otherwise whichever of it, black and white reads best on
// the worst of them. Small text wants 4.5:1.
QColor Ink(const QColor& font, const std::vector<QColor>& under) {
  if (under.empty()) return font;
  auto worst = [&](const QColor& ink) {
    double w = 21;
    for (const QColor& c : under) w = std::min(w, Contrast(ink, c));
    return w;
  };
  if (worst(font) >= 4.5) return font;
  QColor best = font;
  for (const QColor& candidate : {QColor(Qt::black), QColor(Qt::white)})
    if (worst(candidate) > worst(best)) best = candidate;
  return best;
}

}  // namespace

QColor ResolveColor(TColor c, const QPalette& pal) {
  if ((c & 0xFF000000u) != 0x80000000u) return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
  switch (c & 0xFF) {
    case 4: return pal.color(QPalette::Window);            // menu
    case 5: return pal.color(QPalette::Base);              // window
    case 7:                                                // menu text
    case 8: return pal.color(QPalette::WindowText);        // window text
    case 13: return pal.color(QPalette::Highlight);
    case 14: return pal.color(QPalette::HighlightedText);
    case 15: return pal.color(QPalette::Button);           // button face
    case 16: return pal.color(QPalette::Dark);             // button shadow
    case 17: return pal.color(QPalette::Disabled, QPalette::Text);
    case 18: return pal.color(QPalette::ButtonText);
    case 20: return pal.color(QPalette::Light);            // button highlight
    case 21: return pal.color(QPalette::Shadow);           // dark shadow
    case 22: return pal.color(QPalette::Midlight);         // 3-D light
    case 23: return pal.color(QPalette::ToolTipText);
    case 24: return pal.color(QPalette::ToolTipBase);
    default: return pal.color(QPalette::Window);
  }
}

TGradProgress::TGradProgress(QWidget* parent) : QWidget(parent) {
  resize(150, 16);
  QFont f(QStringLiteral("Default"));
  f.setPointSize(8);
  setFont(f);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, Qt::white);  // the font's colour
  setPalette(pal);
  colorsChanged();
  // Only scalable faces can be turned; the list is made once, here.
  for (const QString& family : QFontDatabase::families())
    if (QFontDatabase::isScalable(family)) scalableFonts_ << family;
  scalableFonts_.sort(Qt::CaseInsensitive);
}

void TGradProgress::colorsChanged() {
  // From the raw values: a system colour counts by its index, not what it resolves to.
  startR_ = static_cast<int>(startColor_ & 0xFF);
  startG_ = static_cast<int>((startColor_ >> 8) & 0xFF);
  startB_ = static_cast<int>((startColor_ >> 16) & 0xFF);
  diffR_ = static_cast<int>(endColor_ & 0xFF) - startR_;
  diffG_ = static_cast<int>((endColor_ >> 8) & 0xFF) - startG_;
  diffB_ = static_cast<int>((endColor_ >> 16) & 0xFF) - startB_;
}

void TGradProgress::SetStyle(TStyle v) {
  if (v == style_) return;
  style_ = v;
  repaint();
}

void TGradProgress::SetBevelStyle(TBevelStyleExt v) {
  if (v == bevelStyle_) return;
  bevelStyle_ = v;
  repaint();
}

void TGradProgress::SetBevelWidth(int v) {
  if (v == bevelWidth_ || v < 1 || v > 10) return;
  if (2 * v <= height() - 4 && 2 * v <= width() - 4) bevelWidth_ = v;
  repaint();
}

void TGradProgress::SetStartColor(TColor v) {
  if (v == startColor_) return;
  startColor_ = v;
  colorsChanged();
  repaint();
}

void TGradProgress::SetEndColor(TColor v) {
  if (v == endColor_) return;
  endColor_ = v;
  colorsChanged();
  repaint();
}

void TGradProgress::SetPosition(double v) {
  if (v == position_ || v < 0) return;
  position_ = std::min(v, maxValue_);
  // At once, so the bar moves even while the program is busy and not painting.
  repaint();
}

void TGradProgress::SetMaxValue(double v) {
  if (v == maxValue_) return;
  maxValue_ = v;
  if (position_ > maxValue_) position_ = maxValue_;
  repaint();
}

void TGradProgress::SetShowPercent(bool v) {
  if (v == showPercent_) return;
  showPercent_ = v;
  repaint();
}

void TGradProgress::SetBackColor(TColor v) {
  if (v == backColor_) return;
  backColor_ = v;
  repaint();
}

QRect TGradProgress::innerRect() const {
  const int b = bevelStyle_ == bsNone ? 1 : bevelWidth_;
  return QRect(QPoint(b, b), QPoint(width() - b - 1, height() - b - 1));  // right, bottom exclusive
}

QString TGradProgress::PercentText() const {
  // No maximum to measure against: an empty bar at 0%.
  const double p = maxValue_ > 0 ? position_ * 100.0 / maxValue_ : 0.0;
  if (showDec_) return QLocale().toString(p, 'f', 1) + QLatin1Char('%');
  return QString::number(roundHalfEven(p)) + QLatin1Char('%');
}

void TGradProgress::drawBevel(QPainter& p) const {
  if (bevelStyle_ == bsNone) return;
  const QColor light = palette().color(QPalette::Light);
  const QColor shadow = palette().color(QPalette::Dark);
  // A sunken outer edge is shadow above and left, light below and right; a raised inner edge
  // the other way round. The lower-right lines cover the two far corners.
  const QColor& tl = bevelStyle_ == bsLowered ? shadow : light;
  const QColor& br = bevelStyle_ == bsLowered ? light : shadow;
  // One-pixel rectangles rather than lines: each covers whole device pixels at any scale.
  for (int i = 0; i < bevelWidth_; ++i) {
    const int l = i, t = i, r = width() - i - 1, b = height() - i - 1;
    p.fillRect(QRect(l, t, r - l, 1), tl);
    p.fillRect(QRect(l, t, 1, b - t), tl);
    p.fillRect(QRect(l, b, r - l + 1, 1), br);
    p.fillRect(QRect(r, t, 1, b - t + 1), br);
  }
}

QColor TGradProgress::stepColor(int i, int n) const {
  const int c = MulDiv(255, i, n);
  return QColor((startR_ + MulDiv(c, diffR_, 255)) & 0xFF, (startG_ + MulDiv(c, diffG_, 255)) & 0xFF,
                (startB_ + MulDiv(c, diffB_, 255)) & 0xFF);
}

void TGradProgress::compose() {
  const QRect in = innerRect();
  const int inRight = in.right() + 1, inBottom = in.bottom() + 1;
  const int length = style_ == gsHorizontal ? width() : height();
  const double fill = maxValue_ > 0 ? position_ * length / maxValue_ : 0.0;
  const int n = roundHalfEven(fill);

  // Composed in the screen's own pixels, so the text is as sharp as the rest of the window on a
  // high-density screen; the painter still works in the control's coordinates.
  const qreal dpr = devicePixelRatioF();
  const QSize device(std::max(1, static_cast<int>(std::ceil(inRight * dpr))),
                     std::max(1, static_cast<int>(std::ceil(inBottom * dpr))));
  if (image_.size() != device || image_.devicePixelRatio() != dpr) {
    image_ = QImage(device, QImage::Format_RGB32);
    image_.setDevicePixelRatio(dpr);
  }
  QPainter p(&image_);

  // The whole range from start to end colour spread over the filled length, one colour per
  // pixel of the control.
  for (int i = 0; i <= n; ++i) {
    if (style_ == gsHorizontal)
      p.fillRect(QRectF(i, in.top(), 1, inBottom - in.top()), stepColor(i, n));
    else
      p.fillRect(QRectF(in.left(), std::abs(i - height()), inRight - in.left(), 1), stepColor(i, n));
  }

  const QColor back = ResolveColor(backColor_, palette());
  if (style_ == gsHorizontal)
    p.fillRect(QRect(QPoint(n, in.top()), QPoint(width() - 1, height() - 1)), back);
  else if (std::abs(n - height()) > in.top())
    p.fillRect(QRect(QPoint(in.left(), in.top()), QPoint(inRight - 1, std::abs(n - height()) - 1)), back);

  textTurned_ = false;
  if (!showPercent_) return;
  const QString text = PercentText();
  p.setFont(font());
  // Where the text goes, in one of three ways; `span` is the stretch of the bar's length it
  // covers.
  std::function<void()> draw = [&] { p.drawText(in, Qt::AlignCenter | Qt::TextSingleLine, text); };
  const QRect level = QFontMetrics(font()).boundingRect(in, Qt::AlignCenter | Qt::TextSingleLine, text);
  std::pair<int, int> span = style_ == gsHorizontal ? std::pair(level.left(), level.right())
                                                    : std::pair(level.top(), level.bottom());
  if (style_ == gsVertical) {
    // Measured with the screen's own font, as the decision to turn is made on it.
    const QFontMetrics screen(QApplication::font());
    const int cx = screen.horizontalAdvance(text), cy = screen.height();
    if (!scalableFonts_.isEmpty() && width() - 2 * bevelWidth_ - 6 < cx) {
      QFont turned = font();
      if (!scalableFonts_.contains(turned.family(), Qt::CaseInsensitive)) turned.setFamily(scalableFonts_.first());
      p.setFont(turned);
      const QPoint origin(std::lround((width() + cy - 3) / 2.0), std::lround((height() - cx + 3) / 2.0));
      draw = [&p, origin, text] {
        p.save();
        p.translate(origin);
        p.rotate(90);  // reading downwards
        p.drawText(QRect(0, 0, 10000, 10000), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        p.restore();
      };
      span = {origin.y(), origin.y() + QFontMetrics(turned).horizontalAdvance(text)};
      textTurned_ = true;
    }
  }

  // The font's colour over a part it reads on; a contrasting one where it would not (white on
  // the pale empty part): one colour for the text over the fill, one over the empty part.
  const QColor ink = palette().color(QPalette::WindowText);
  std::vector<QColor> underFill;
  QRectF filledPart, emptyPart;
  if (style_ == gsHorizontal) {
    for (int x = std::max(span.first, 0); x <= std::min(span.second, n - 1); ++x) underFill.push_back(stepColor(x, n));
    filledPart = QRectF(0, 0, n, height());
    emptyPart = QRectF(n, 0, width() - n, height());
  } else {
    const int top = std::abs(n - height());  // the first row of the fill
    for (int y = std::max(span.first, top); y <= std::min(span.second, height()); ++y)
      underFill.push_back(stepColor(std::abs(y - height()), n));
    filledPart = QRectF(0, top, width(), height() - top);
    emptyPart = QRectF(0, 0, width(), top);
  }
  for (const auto& [part, color] : {std::pair(filledPart, Ink(ink, underFill)), std::pair(emptyPart, Ink(ink, {back}))}) {
    if (part.isEmpty()) continue;
    p.save();
    p.setClipRect(part);
    p.setPen(color);
    draw();
    p.restore();
  }
}

void TGradProgress::paintEvent(QPaintEvent*) {
  compose();
  QPainter p(this);
  drawBevel(p);
  const QRect in = innerRect();
  // The source in the image's own pixels.
  const qreal dpr = image_.devicePixelRatio();
  p.drawImage(QRectF(in), image_, QRectF(in.x() * dpr, in.y() * dpr, in.width() * dpr, in.height() * dpr));
}
