// The gradient bar rendered off-screen and judged by its pixels, and the message dialog with
// chosen captions driven by keys. Runs on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
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

TEST(GradProgress, EmptyBarShowsOnlyTheBackgroundAndZero) {
  TGradProgress bar;
  EXPECT_EQ(bar.PercentText(), QStringLiteral("0.0%"));
  bar.SetShowDec(false);
  EXPECT_EQ(bar.PercentText(), QStringLiteral("0%"));
  const QImage img = render(bar);
  const QColor back = buttonFace(bar);
  int textPixels = 0;
  for (int y = 1; y < 15; ++y)
    for (int x = 1; x < 149; ++x) {
      const QColor c = img.pixelColor(x, y);
      if (c == back) continue;
      ++textPixels;
      // White text blended into the grey background: never the gradient's blue.
      EXPECT_LE(std::abs(c.red() - c.blue()), 12) << x << "," << y;
      ASSERT_GE(c.red(), back.red() - 2) << x << "," << y;
    }
  EXPECT_GT(textPixels, 10);  // the text is there
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

TEST(GradProgress, Screenshot) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("TGradProgress"));
  window.resize(330, 170);
  window.setAutoFillBackground(true);
  const double positions[] = {0, 37, 100};
  for (int i = 0; i < 3; ++i) {
    auto* bar = new TGradProgress(&window);
    bar->setGeometry(10, 10 + i * 30, 270, 16);
    bar->SetStartColor(clMenu);
    bar->SetEndColor(clBlue);
    bar->SetShowDec(false);
    bar->SetPosition(positions[i]);
  }
  auto* vertical = new TGradProgress(&window);
  vertical->SetStyle(TGradProgress::gsVertical);
  vertical->setGeometry(295, 10, 22, 150);
  vertical->SetPosition(50);
  const QString path = QStringLiteral(SCREENSHOT_DIR "/gradprogress.png");
  ASSERT_TRUE(window.grab().save(path)) << path.toStdString();
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
