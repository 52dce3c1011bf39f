// SPDX-License-Identifier: GPL-3.0-or-later
// The gradient bar rendered off-screen and judged by its pixels, and the message dialog with
// chosen captions driven by keys. Runs on Qt's offscreen platform. The AnyScale cases run again
// at QT_SCALE_FACTOR 1.5 and 2 (see tests/CMakeLists.txt): the bar on high-density screens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtMath>
#include <cmath>
#include <functional>

#include "app/globals_dialog.h"
#include "controls/GradProgress.h"

namespace {

int mulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  long long q = p / c;
  if (2 * std::llabs(p % c) >= c) q += p < 0 ? -1 : 1;
  return static_cast<int>(q);
}

QImage render(TGradProgress& bar) { return bar.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QColor buttonFace(const QWidget& w) { return ResolveColor(clBtnFace, w.palette()).toRgb(); }

TEST(GradProgress, ValuesAtCreation) {
  TGradProgress bar;
  EXPECT_EQ(bar.width(), 150);
  EXPECT_EQ(bar.height(), 16);
  EXPECT_EQ(bar.Style(), TGradProgress::gsHorizontal);
  EXPECT_TRUE(bar.ShowDec());
  EXPECT_EQ(bar.BevelStyle(), TGradProgress::bsLowered);
  EXPECT_EQ(bar.BevelWidth(), 1);
  EXPECT_EQ(bar.StartColor(), clBlue);
  EXPECT_EQ(bar.EndColor(), clRed);
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(bar.MaxValue(), 100);
  EXPECT_EQ(bar.Step(), 1);
  EXPECT_TRUE(bar.ShowPercent());
  EXPECT_EQ(bar.BackColor(), clBtnFace);
  EXPECT_EQ(bar.font().pointSize(), 8);
  EXPECT_EQ(bar.palette().color(QPalette::WindowText), QColor(Qt::white));
}

// Contrast between two colours as the accessibility guidelines measure it (1 to 21).
double contrast(const QColor& a, const QColor& b) {
  auto lum = [](const QColor& c) {
    auto ch = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * ch(c.redF()) + 0.7152 * ch(c.greenF()) + 0.0722 * ch(c.blueF());
  };
  const double la = lum(a), lb = lum(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(GradProgress, EmptyBarShowsOnlyTheBackgroundAndZero) {
  TGradProgress bar;
  EXPECT_EQ(bar.PercentText(), QStringLiteral("0.0%"));
  bar.SetShowDec(false);
  EXPECT_EQ(bar.PercentText(), QStringLiteral("0%"));
  const QImage img = render(bar);
  const QColor back = buttonFace(bar);
  int textPixels = 0;
  double best = 1;
  for (int y = 1; y < 15; ++y)
    for (int x = 1; x < 149; ++x) {
      const QColor c = img.pixelColor(x, y);
      if (c == back) continue;
      ++textPixels;
      // Text blended into the grey background: never the gradient's blue.
      EXPECT_LE(std::abs(c.red() - c.blue()), 12) << x << "," << y;
      best = std::max(best, contrast(c, back));
    }
  EXPECT_GT(textPixels, 10);  // the text is there
  // The font is white, which on the pale background would all but vanish: it reads.
  EXPECT_GE(best, 4.5);
  EXPECT_EQ(img.pixelColor(1, 8), back);
}

TEST(GradProgress, HalfFullHoldsTheWholeGradientInTheLeftHalf) {
  TGradProgress bar;
  bar.SetShowPercent(false);
  bar.SetPosition(50);
  const QImage img = render(bar);
  // F = 50 x 150 / 100 = 75: line x has c = MulDiv(255, x, 75), blue falling, red rising.
  for (int x = 1; x < 75; ++x) {
    const int c = mulDiv(255, x, 75);
    EXPECT_EQ(img.pixelColor(x, 5), QColor(c, 0, 255 - c)) << x;
  }
  EXPECT_EQ(img.pixelColor(1, 5), QColor(3, 0, 252));   // start colour at the left edge
  EXPECT_EQ(img.pixelColor(74, 5), QColor(252, 0, 3));  // end colour at the fill's end
  for (int x = 75; x < 149; ++x) EXPECT_EQ(img.pixelColor(x, 5), buttonFace(bar)) << x;
  bar.SetShowPercent(true);
  EXPECT_EQ(bar.PercentText(), QLocale().toString(50.0, 'f', 1) + "%");
  bar.SetShowDec(false);
  EXPECT_EQ(bar.PercentText(), QStringLiteral("50%"));
  bar.SetPosition(12.5);
  EXPECT_EQ(bar.PercentText(), QStringLiteral("12%"));  // halves to even
}

TEST(GradProgress, TheFillLengthIsRoundedHalvesToEvenNotCut) {
  // Width 150: position 40.4 fills 60.6 pixels, drawn as 61; 5 fills 7.5, drawn as 8; 3 fills
  // 4.5, drawn as 4 (halves go to the even neighbour).
  struct Case {
    double position;
    int filled;  // columns of gradient, from the left edge
  };
  for (const Case c : {Case{40.4, 61}, Case{5, 8}, Case{3, 4}, Case{66.6, 100}}) {
    TGradProgress bar;
    bar.SetShowPercent(false);
    bar.SetPosition(c.position);
    const QImage img = render(bar);
    const int last = c.filled - 1;
    const int k = mulDiv(255, last, c.filled);
    EXPECT_EQ(img.pixelColor(last, 5), QColor(k, 0, 255 - k)) << c.position;
    EXPECT_EQ(img.pixelColor(c.filled, 5), buttonFace(bar)) << c.position;
  }
}

TEST(GradProgress, BevelIsShadowAboveAndLightBelowWhenLowered) {
  TGradProgress bar;
  bar.SetPosition(100);
  const QImage img = render(bar);
  const QRgb shadow = bar.palette().color(QPalette::Dark).rgb(), light = bar.palette().color(QPalette::Light).rgb();
  ASSERT_NE(shadow, light);
  EXPECT_EQ(img.pixel(40, 0), shadow);
  EXPECT_EQ(img.pixel(0, 8), shadow);
  EXPECT_EQ(img.pixel(40, 15), light);
  EXPECT_EQ(img.pixel(149, 8), light);
  EXPECT_EQ(img.pixel(149, 0), light);  // the lower-right lines cover the far corners
  EXPECT_EQ(img.pixel(0, 15), light);
  bar.SetBevelStyle(TGradProgress::bsRaised);
  const QImage raised = render(bar);
  EXPECT_EQ(raised.pixel(40, 0), light);
  EXPECT_EQ(raised.pixel(40, 15), shadow);
}

TEST(GradProgress, PositionAndMaximumClamps) {
  TGradProgress bar;
  bar.SetPosition(30);
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 30);
  bar.SetPosition(150);
  EXPECT_EQ(bar.Position(), 100);
  bar.SetMaxValue(40);
  EXPECT_EQ(bar.Position(), 40);
  bar.SetStep(2.5);
  bar.SetMaxValue(100);
  bar.Stepit();
  EXPECT_EQ(bar.Position(), 42.5);
  // No maximum: an empty bar at 0%, not a division by zero.
  bar.SetMaxValue(0);
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(bar.PercentText(), QLocale().toString(0.0, 'f', 1) + "%");
  bar.SetMaxValue(-10);
  EXPECT_FALSE(render(bar).isNull());
}

TEST(GradProgress, BevelWidthMustLeaveRoomInside) {
  TGradProgress bar;  // 16 pixels high
  bar.SetBevelWidth(7);
  EXPECT_EQ(bar.BevelWidth(), 1);
  bar.SetBevelWidth(6);
  EXPECT_EQ(bar.BevelWidth(), 6);
  bar.SetBevelWidth(11);
  EXPECT_EQ(bar.BevelWidth(), 6);
}

TEST(GradProgress, SystemColoursCountByTheirRawValueInTheGradient) {
  // The extraction window's bar: from the menu colour to blue, 270 by 16.
  TGradProgress bar;
  bar.resize(270, 16);
  bar.SetStartColor(clMenu);
  bar.SetEndColor(clBlue);
  bar.SetBackColor(clMenu);
  bar.SetShowPercent(false);
  bar.SetPosition(100);
  const QImage img = render(bar);
  // N = 270: x = 1 has c = 1: R 4 + round(-4/255) = 4, G 0, B round(255/255) = 1.
  EXPECT_EQ(img.pixelColor(1, 5), QColor(4, 0, 1));
  EXPECT_EQ(img.pixelColor(268, 5), QColor(0, 0, mulDiv(mulDiv(255, 268, 270), 255, 255)));
  bar.SetPosition(10);
  const QImage part = render(bar);
  EXPECT_EQ(part.pixelColor(200, 5), ResolveColor(clMenu, bar.palette()));  // resolved where painted
}

// The extent of the light pixels inside the bevel of a rendered bar: the text.
QRect textBox(const QImage& img) {
  QRect box;
  for (int y = 1; y < img.height() - 1; ++y)
    for (int x = 1; x < img.width() - 1; ++x)
      if (qGray(img.pixel(x, y)) > 235) box |= QRect(x, y, 1, 1);
  return box;
}

// A half-full vertical bar in dark colours, so that only the text is light.
void darkVerticalBar(TGradProgress& bar, int width) {
  bar.SetStyle(TGradProgress::gsVertical);
  bar.SetStartColor(0x00400000);
  bar.SetEndColor(0x00000040);
  bar.SetBackColor(0x00202020);
  bar.resize(width, 120);
  bar.SetPosition(50);
}

TEST(GradProgress, NarrowVerticalBarTurnsItsText) {
  TGradProgress narrow;
  darkVerticalBar(narrow, 20);
  const QImage img = render(narrow);
  ASSERT_FALSE(narrow.ScalableFonts().isEmpty()) << "fonts-liberation should be installed";
  EXPECT_TRUE(narrow.TextTurned());
  const QRect turned = textBox(img);
  EXPECT_GT(turned.height(), turned.width());
  // Filled from the bottom: the lower half holds the gradient, the upper the background.
  EXPECT_EQ(img.pixelColor(2, 10), QColor(0x20, 0x20, 0x20));
  EXPECT_NE(img.pixelColor(2, 110), QColor(0x20, 0x20, 0x20));

  TGradProgress wide;
  darkVerticalBar(wide, 120);
  const QImage level = render(wide);
  EXPECT_FALSE(wide.TextTurned());
  const QRect box = textBox(level);
  EXPECT_GT(box.width(), box.height());
}

TEST(GradProgress, ANewPositionPaintsAtOnce) {
  QWidget window;
  window.resize(200, 40);
  auto* bar = new TGradProgress(&window);
  window.show();
  QApplication::processEvents();
  struct Counter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  bar->installEventFilter(&counter);
  bar->SetPosition(42);  // no event loop in between
  EXPECT_EQ(counter.paints, 1);
  bar->SetPosition(42);
  EXPECT_EQ(counter.paints, 1);
  bar->SetShowDec(false);  // stored only
  EXPECT_EQ(counter.paints, 1);
}

// ---- on any screen: the cases below run at 1x, 1.5x and 2x --------------------------------

// The grab of a widget in the screen's pixels, with its device pixel ratio.
QImage grabbed(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The extraction window's bar, 270 by 16: from the menu colour to blue on the menu colour, in
// white; at 50% the fill ends under the middle of its text.
void extractionBar(TGradProgress& bar, double position) {
  bar.resize(270, 16);
  bar.SetStartColor(clMenu);
  bar.SetEndColor(clBlue);
  bar.SetBackColor(clMenu);
  bar.SetPosition(position);
}

// The colour the bar shows at window column x without its text: the gradient's step, or the
// background past the fill's end n.
QColor barColorAt(const TGradProgress& bar, int x, int n) {
  if (x >= n) return ResolveColor(bar.BackColor(), bar.palette()).toRgb();
  const QColor start = ResolveColor(bar.StartColor() & 0x00FFFFFF, bar.palette());  // raw components
  const QColor end = ResolveColor(bar.EndColor() & 0x00FFFFFF, bar.palette());
  const int c = mulDiv(255, x, n);
  auto mix = [c](int a, int b) { return (a + mulDiv(c, b - a, 255)) & 0xFF; };
  return QColor(mix(start.red(), end.red()), mix(start.green(), end.green()), mix(start.blue(), end.blue()));
}

TEST(AnyScale, ThePercentageReadsOverTheFillAndOverTheEmptyPart) {
  for (const bool dec : {true, false}) {
    TGradProgress bar;
    extractionBar(bar, 50);  // fills 135 of 270
    bar.SetShowDec(dec);
    const QImage img = grabbed(bar);
    const double dpr = img.devicePixelRatio();
    ASSERT_EQ(img.width(), qRound(270 * dpr));
    const int n = 135;
    double onFill = 1, onEmpty = 1;
    int brightOnFill = 0;
    for (int y = qCeil(2 * dpr); y < img.height() - 2 * dpr; ++y)
      for (int x = qCeil(2 * dpr); x < img.width() - 2 * dpr; ++x) {
        const int column = static_cast<int>((x + 0.5) / dpr);
        if (std::abs(column - n) <= 1) continue;  // a pixel there may mix fill and background
        const QColor c = img.pixelColor(x, y), under = barColorAt(bar, column, n);
        const double k = contrast(c, under);
        (column < n ? onFill : onEmpty) = std::max(column < n ? onFill : onEmpty, k);
        if (column < n && qGray(c.rgb()) > 230) ++brightOnFill;
      }
    SCOPED_TRACE(bar.PercentText().toStdString());
    EXPECT_GE(onFill, 4.5) << "the text over the fill does not stand out";
    EXPECT_GE(onEmpty, 4.5) << "the text over the empty part does not stand out";
    // Where the font's white reads (on the dark fill) the text keeps it.
    EXPECT_GT(brightOnFill, 3);
  }
}

TEST(AnyScale, TheBarIsComposedInTheScreensOwnPixels) {
  TGradProgress bar;
  extractionBar(bar, 100);
  const QImage full = grabbed(bar);
  const double dpr = full.devicePixelRatio();
  EXPECT_EQ(full.size(), QSize(qRound(270 * dpr), qRound(16 * dpr)));
  // Every window column keeps its one colour of the gradient, however many pixels it covers
  // (the text runs through the middle rows, so look just inside the bevel).
  const int y = qCeil(1.5 * dpr);
  for (int x = 1; x < 269; x += 7) {
    const int px = static_cast<int>((x + 0.5) * dpr);
    EXPECT_EQ(full.pixelColor(px, y), barColorAt(bar, x, 270)) << x;
  }
  if (dpr < 2) return;
  // At 2x the text has detail of its own, with edges as sharp as at 1x. A 1x picture enlarged
  // shows each 2 x 2 block of pixels in one colour, or, smoothed, spreads each edge over two.
  const QRect text(qRound(100 * dpr), qRound(2 * dpr), qRound(70 * dpr), qRound(12 * dpr));
  int lo = 255, hi = 0, step = 0, detailed = 0;
  for (int y = text.top(); y <= text.bottom(); ++y)
    for (int x = text.left(); x <= text.right(); ++x) {
      const int g = qGray(full.pixel(x, y));
      lo = std::min(lo, g);
      hi = std::max(hi, g);
      step = std::max(step, std::abs(g - qGray(full.pixel(x + 1, y))));
      if (x % 2 == 0 && y % 2 == 0) {
        const QRgb a = full.pixel(x, y);
        detailed += full.pixel(x + 1, y) != a || full.pixel(x, y + 1) != a || full.pixel(x + 1, y + 1) != a;
      }
    }
  ASSERT_GT(hi - lo, 100) << "no text";
  EXPECT_GT(detailed, 20) << "the text is a 1x picture enlarged";
  EXPECT_GT(step, 0.8 * (hi - lo)) << "the sharpest edge of the text takes more than one pixel";
}

TEST(AnyScale, Screenshot) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("TGradProgress"));
  window.resize(330, 170);
  window.setAutoFillBackground(true);
  const double positions[] = {0, 37, 50, 100};
  for (int i = 0; i < 4; ++i) {
    auto* bar = new TGradProgress(&window);
    bar->setGeometry(10, 10 + i * 30, 270, 16);
    bar->SetStartColor(clMenu);
    bar->SetEndColor(clBlue);
    bar->SetBackColor(clMenu);
    bar->SetShowDec(i == 2);
    bar->SetPosition(positions[i]);
  }
  auto* vertical = new TGradProgress(&window);
  vertical->SetStyle(TGradProgress::gsVertical);
  vertical->setGeometry(295, 10, 22, 150);
  vertical->SetPosition(50);
  // gradprogress.png at 1x, gradprogress@2x.png at 2x and so on.
  const QPixmap shot = window.grab();
  const qreal dpr = shot.devicePixelRatio();
  const QString suffix = dpr == 1 ? QString() : QStringLiteral("@%1x").arg(dpr);
  const QString path = QStringLiteral(SCREENSHOT_DIR "/gradprogress") + suffix + QStringLiteral(".png");
  ASSERT_EQ(shot.size(), QSize(qRound(330 * dpr), qRound(170 * dpr)));
  ASSERT_TRUE(shot.save(path)) << path.toStdString();
}

// Runs `drive` on the dialog once it is shown, then returns the dialog's result.
int withDialog(const std::function<int()>& show, const std::function<void(QWidget*)>& drive) {
  QTimer::singleShot(0, [drive] {
    QWidget* dlg = QApplication::activeModalWidget();
    ASSERT_NE(dlg, nullptr);
    drive(dlg);
  });
  return show();
}

std::vector<QPushButton*> buttonsOf(QWidget* dlg) {
  std::vector<QPushButton*> out;
  for (QObject* c : dlg->children())
    if (auto* b = qobject_cast<QPushButton*>(c)) out.push_back(b);
  return out;
}

void press(QWidget* dlg, int key) {
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : dlg;
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &down);
}

int overwriteQuestion() {
  return MessageDlgCaptions(QStringLiteral("/music/Track01.wav already exists,do you want to replace it?"),
                            QStringLiteral("Tessaly"), TMsgDlgType::mtWarning, mbYes | mbNo | mbYesToAll,
                            {QStringLiteral("&Yes"), QStringLiteral("&No"), QStringLiteral("Replace &All")});
}

TEST(MessageDlgCaptions, OverwriteQuestionButtonsCaptionsAndKeys) {
  std::vector<unsigned> beeps;
  MessageBeepHandler() = [&](unsigned t) { beeps.push_back(t); };
  QStringList seen;
  QString title;
  bool hasIcon = false;
  const int esc = withDialog(overwriteQuestion, [&](QWidget* dlg) {
    for (QPushButton* b : buttonsOf(dlg)) seen << b->text();
    title = dlg->windowTitle();
    hasIcon = dlg->findChild<QLabel*>(QStringLiteral("Image")) != nullptr;
    press(dlg, Qt::Key_Escape);
  });
  EXPECT_EQ(esc, mrNo);
  EXPECT_EQ(seen, (QStringList{"&Yes", "&No", "Replace &All"}));
  EXPECT_EQ(title, QStringLiteral("Tessaly"));
  EXPECT_TRUE(hasIcon);
  EXPECT_EQ(beeps, (std::vector<unsigned>{0x30}));

  EXPECT_EQ(withDialog(overwriteQuestion, [](QWidget* dlg) { press(dlg, Qt::Key_Return); }), mrYes);
  EXPECT_EQ(withDialog(overwriteQuestion, [](QWidget* dlg) { dlg->close(); }), mrCancel);
  EXPECT_EQ(withDialog(overwriteQuestion, [](QWidget* dlg) { buttonsOf(dlg)[2]->click(); }), mrYesToAll);
  MessageBeepHandler() = nullptr;
}

TEST(MessageDlgCaptions, FixedOrderDefaultsAndEscape) {
  MessageBeepHandler() = nullptr;
  auto dialog = [](TMsgDlgButtons b, QStringList captions = {}) {
    return [b, captions] {
      return MessageDlgCaptions(QStringLiteral("m"), QStringLiteral("t"), TMsgDlgType::mtCustom, b, captions);
    };
  };
  QStringList texts;
  bool hasIcon = true;
  // Whatever order the set is written in, the buttons stand in the fixed order; an empty
  // caption keeps the standard one, and captions stop where the entries do.
  const auto all = mbHelp | mbYesToAll | mbNoToAll | mbAll | mbIgnore | mbRetry | mbAbort | mbCancel | mbOK | mbNo | mbYes;
  withDialog(dialog(all, {"", "Nope"}), [&](QWidget* dlg) {
    for (QPushButton* b : buttonsOf(dlg)) texts << b->text();
    hasIcon = dlg->findChild<QLabel*>(QStringLiteral("Image")) != nullptr;
    press(dlg, Qt::Key_Escape);
  });
  EXPECT_EQ(texts, (QStringList{"&Yes", "Nope", "OK", "Cancel", "&Abort", "&Retry", "&Ignore", "&All", "N&o to All",
                                "Yes to &All", "&Help"}));
  EXPECT_FALSE(hasIcon);
  EXPECT_EQ(withDialog(dialog(mbOK | mbCancel), [](QWidget* d) { press(d, Qt::Key_Return); }), mrOk);
  EXPECT_EQ(withDialog(dialog(mbOK | mbCancel), [](QWidget* d) { press(d, Qt::Key_Escape); }), mrCancel);
  EXPECT_EQ(withDialog(dialog(mbOK), [](QWidget* d) { press(d, Qt::Key_Escape); }), mrOk);
  EXPECT_EQ(withDialog(dialog(mbAbort | mbRetry | mbIgnore), [](QWidget* d) { buttonsOf(d)[1]->click(); }), mrRetry);
  EXPECT_EQ(withDialog(dialog(mbAll | mbNoToAll), [](QWidget* d) { buttonsOf(d)[1]->click(); }), mrNoToAll);
}

}  // namespace

int main(int argc, char** argv) {
  // Pixel tests want the same platform everywhere, display or not.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
