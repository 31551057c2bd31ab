#include "sets/ListPrintLayout.h"

#include <gtest/gtest.h>

TEST(ListPrintLayout, PagesHoldThirtySixRows) {
  EXPECT_EQ(ListPrintLayout::PageCount(77), 3);
  EXPECT_EQ(ListPrintLayout::PageCount(72), 2);
  EXPECT_EQ(ListPrintLayout::PageCount(0), 1);
  EXPECT_EQ(ListPrintLayout::RowsOnPage(0, 77), 36);
  EXPECT_EQ(ListPrintLayout::RowsOnPage(2, 77), 5);
  EXPECT_EQ(ListPrintLayout::RowsOnPage(3, 77), 0);
  EXPECT_EQ(ListPrintLayout::FirstRowOf(2), 72);
}

TEST(ListPrintLayout, PlacesTheTableInsideTheMargins) {
  // An A4 page at 96 dpi.
  const ListPrintLayout layout(QSizeF(794, 1123), {40, 100, 200, 200, 100, 100, 100});
  EXPECT_EQ(layout.Table(), QRectF(150, 200, 794 - 250, 1123 - 500));
  EXPECT_EQ(layout.Header().height(), 150);
  EXPECT_DOUBLE_EQ(layout.RowHeight(), (623.0 - 150) / 37);
  EXPECT_DOUBLE_EQ(layout.BodyRow(0).top(), 350);
  EXPECT_DOUBLE_EQ(layout.Footer().bottom(), layout.Table().bottom());
  // Columns share the width in proportion and close at the right edge.
  EXPECT_DOUBLE_EQ(layout.HeaderCell(0).left(), 150);
  EXPECT_NEAR(layout.HeaderCell(0).width(), 544.0 * 40 / 840, 1e-9);
  EXPECT_DOUBLE_EQ(layout.BodyCell(35, 6).right(), 694);
  EXPECT_EQ(layout.ColumnCount(), 7);
}

TEST(ListPrintLayout, SurvivesDegenerateInput) {
  const ListPrintLayout tiny(QSizeF(10, 10), {});
  EXPECT_EQ(tiny.Table().width(), 0);
  EXPECT_EQ(tiny.ColumnCount(), 1);
  const ListPrintLayout zero(QSizeF(794, 1123), {0, 0});
  EXPECT_DOUBLE_EQ(zero.HeaderCell(1).width(), 272);
}
