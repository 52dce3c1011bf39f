// The release chooser offscreen: a row per release with what tells them apart, the first
// selected, the choice made with the keyboard or a double click, Cancel choosing nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/ReleaseChooser.h"

namespace {

std::vector<names::TRelease> two() {
  names::TRelease a, b;
  a.id = "11111111-1111-4111-8111-111111111111";
  a.title = "First Pressing";
  a.artist = "Alpha & Beta";
  a.year = "1998";
  a.country = "GB";
  a.format = "CD";
  a.trackCount = 6;
  a.barcode = "111";
  b = a;
  b.id = "22222222-2222-4222-8222-222222222222";
  b.title = "Remaster \xE2\x80\x93 \xC3\x9C";  // UTF-8 stays UTF-8
  b.year = "2010";
  b.country = "JP";
  b.format = "Enhanced CD";
  b.barcode = "";
  return {a, b};
}

}  // namespace

TEST(ReleaseChooser, RowsAndTheFirstSelected) {
  TReleaseChooser d(two());
  QTreeWidget* list = d.List();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  ASSERT_EQ(list->columnCount(), 7);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "First Pressing");
  EXPECT_EQ(list->topLevelItem(0)->text(1), "Alpha & Beta");
  EXPECT_EQ(list->topLevelItem(1)->text(0), QString::fromUtf8("Remaster \xE2\x80\x93 \xC3\x9C"));
  EXPECT_EQ(list->topLevelItem(1)->text(2), "2010");
  EXPECT_EQ(list->topLevelItem(1)->text(3), "JP");
  EXPECT_EQ(list->topLevelItem(1)->text(4), "Enhanced CD");
  EXPECT_EQ(list->topLevelItem(1)->text(5), "6");
  EXPECT_EQ(d.Chosen(), 0);
}

TEST(ReleaseChooser, OkTakesTheSelectedRowCancelNone) {
  const auto releases = two();
  // Down, then Enter: the second release.
  QTimer::singleShot(0, [] {
    auto* d = dynamic_cast<TReleaseChooser*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    QTest::keyClick(d->List(), Qt::Key_Down);
    QTest::keyClick(d->List(), Qt::Key_Return);
  });
  EXPECT_EQ(TReleaseChooser::Choose(releases, nullptr), 1);
  // Enter straight away: the first, preselected.
  QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
  EXPECT_EQ(TReleaseChooser::Choose(releases, nullptr), 0);
  // Esc: nothing chosen.
  QTimer::singleShot(0, [] {
    QWidget* d = QApplication::activeModalWidget();
    QTest::keyClick(dynamic_cast<TReleaseChooser*>(d)->List(), Qt::Key_Down);
    QTest::keyClick(d, Qt::Key_Escape);
  });
  EXPECT_EQ(TReleaseChooser::Choose(releases, nullptr), -1);
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
