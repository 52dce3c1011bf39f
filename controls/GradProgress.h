// SPDX-License-Identifier: GPL-3.0-or-later
// TGradProgress: a progress bar filled with a colour gradient inside an optional bevel, with
// the percentage on top; horizontal (filling left to right) or vertical (bottom to top).
// Each paint is composed in an off-screen image (at the screen's device pixel ratio) and copied
// in one operation; a new Position paints at once, even while the event loop is not running.
// The percentage is drawn in the font's colour where that reads well, and in a contrasting one
// over a part of the bar where it would not.
#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <cstdint>

// 0x00BBGGRR, or 0x80000000 + index for a system colour.
using TColor = uint32_t;

constexpr TColor clBlue = 0x00FF0000;
constexpr TColor clRed = 0x000000FF;
constexpr TColor clMenu = 0x80000004;
constexpr TColor clBtnFace = 0x8000000F;

// A colour as painted: system colours come from the application palette.
QColor ResolveColor(TColor c, const QPalette& palette);

class TGradProgress : public QWidget {
 public:
  enum TStyle { gsVertical, gsHorizontal };
  enum TBevelStyleExt { bsLowered, bsRaised, bsNone };

  explicit TGradProgress(QWidget* parent = nullptr);

  TStyle Style() const { return style_; }
  void SetStyle(TStyle v);
  bool ShowDec() const { return showDec_; }
  void SetShowDec(bool v) { showDec_ = v; }  // shows at the next paint
  TBevelStyleExt BevelStyle() const { return bevelStyle_; }
  void SetBevelStyle(TBevelStyleExt v);
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int v);
  TColor StartColor() const { return startColor_; }
  void SetStartColor(TColor v);
  TColor EndColor() const { return endColor_; }
  void SetEndColor(TColor v);
  double Position() const { return position_; }
  void SetPosition(double v);
  double MaxValue() const { return maxValue_; }
  void SetMaxValue(double v);
  double Step() const { return step_; }
  void SetStep(double v) {
    if (v != step_) step_ = v;
  }
  bool ShowPercent() const { return showPercent_; }
  void SetShowPercent(bool v);
  TColor BackColor() const { return backColor_; }
  void SetBackColor(TColor v);

  void Stepit() { SetPosition(position_ + step_); }

  // The percentage text the bar shows now.
  QString PercentText() const;
  // The scalable font families, sorted without regard to case, as found at creation.
  const QStringList& ScalableFonts() const { return scalableFonts_; }
  // Whether the last paint turned the text (a vertical bar too narrow for it).
  bool TextTurned() const { return textTurned_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  void colorsChanged();
  void compose();  // painting steps 2 to 8, into image_
  QColor stepColor(int i, int n) const;  // the gradient's colour at step i of n
  void drawBevel(QPainter& p) const;
  QRect innerRect() const;

  TStyle style_ = gsHorizontal;
  bool showDec_ = true;
  TBevelStyleExt bevelStyle_ = bsLowered;
  int bevelWidth_ = 1;
  TColor startColor_ = clBlue;
  TColor endColor_ = clRed;
  double position_ = 0;
  double maxValue_ = 100;
  double step_ = 1;
  bool showPercent_ = true;
  TColor backColor_ = clBtnFace;

  int startR_ = 0, startG_ = 0, startB_ = 0;
  int diffR_ = 0, diffG_ = 0, diffB_ = 0;
  QImage image_;
  QStringList scalableFonts_;
  bool textTurned_ = false;
};
