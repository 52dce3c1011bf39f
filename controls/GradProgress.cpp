#include "GradProgress.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

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
  for (int i = 0; i < bevelWidth_; ++i) {
    const int l = i, t = i, r = width() - i - 1, b = height() - i - 1;
    p.setPen(tl);
    p.drawLine(l, t, r - 1, t);
    p.drawLine(l, t, l, b - 1);
    p.setPen(br);
    p.drawLine(l, b, r, b);
    p.drawLine(r, t, r, b);
  }
}

void TGradProgress::compose() {
  const QRect in = innerRect();
  const int inRight = in.right() + 1, inBottom = in.bottom() + 1;
  const int length = style_ == gsHorizontal ? width() : height();
  const double fill = maxValue_ > 0 ? position_ * length / maxValue_ : 0.0;
  const int n = roundHalfEven(fill);

  if (image_.width() != inRight || image_.height() != inBottom)
    image_ = QImage(std::max(inRight, 1), std::max(inBottom, 1), QImage::Format_RGB32);
  QPainter p(&image_);

  // The whole range from start to end colour spread over the filled length.
  for (int i = 0; i <= n; ++i) {
    const int c = MulDiv(255, i, n);
    const QColor col((startR_ + MulDiv(c, diffR_, 255)) & 0xFF, (startG_ + MulDiv(c, diffG_, 255)) & 0xFF,
                     (startB_ + MulDiv(c, diffB_, 255)) & 0xFF);
    p.setPen(col);
    if (style_ == gsHorizontal) {
      p.drawLine(i, in.top(), i, inBottom - 1);
    } else {
      const int y = std::abs(i - height());
      p.drawLine(in.left(), y, inRight - 1, y);
    }
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
  p.setPen(palette().color(QPalette::WindowText));
  if (style_ == gsHorizontal) {
    p.drawText(in, Qt::AlignCenter | Qt::TextSingleLine, text);
    return;
  }
  // Measured with the screen's own font, as the decision to turn is made on it.
  const QFontMetrics screen(QApplication::font());
  const int cx = screen.horizontalAdvance(text), cy = screen.height();
  if (!scalableFonts_.isEmpty() && width() - 2 * bevelWidth_ - 6 < cx) {
    QFont turned = font();
    if (!scalableFonts_.contains(turned.family(), Qt::CaseInsensitive)) turned.setFamily(scalableFonts_.first());
    p.setFont(turned);
    p.save();
    p.translate(std::lround((width() + cy - 3) / 2.0), std::lround((height() - cx + 3) / 2.0));
    p.rotate(90);  // reading downwards
    p.drawText(QRect(0, 0, 10000, 10000), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    p.restore();
    textTurned_ = true;
  } else {
    p.drawText(in, Qt::AlignCenter | Qt::TextSingleLine, text);
  }
}

void TGradProgress::paintEvent(QPaintEvent*) {
  compose();
  QPainter p(this);
  drawBevel(p);
  const QRect in = innerRect();
  p.drawImage(in.topLeft(), image_, in);
}
