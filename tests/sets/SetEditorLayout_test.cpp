// The set list's layout at the set editor's default size.

#include "SetEditorFixture.h"

#include "platform/SettingsStore.h"
#include "sets/KeySetModel.h"
#include "sets/SetGrid.h"

#include <QHeaderView>
#include <QTest>

using set_editor_testing::SetEditor;

TEST(SetGridColumns, LabelAndFileGiveWayEquallySoThatAllColumnsShow) {
  const ColumnWidthArray needed{50, 45, 50, 50, 55, 55, 45};
  // Room for everything: Label and File at 200 each, the rest as needed.
  EXPECT_EQ(SetGridColumns::Fit(needed, 900), (ColumnWidthArray{50, 45, 200, 200, 55, 55, 45}));
  // 250 px for the fixed columns leaves 150 each.
  EXPECT_EQ(SetGridColumns::Fit(needed, 550), (ColumnWidthArray{50, 45, 150, 150, 55, 55, 45}));
  // Never narrower than the floor, nor than their titles.
  EXPECT_EQ(SetGridColumns::Fit(needed, 100)[kLabelColumn], SetGridColumns::kMinShared);
  const ColumnWidthArray wideTitle{50, 45, 90, 50, 55, 55, 45};
  EXPECT_EQ(SetGridColumns::Fit(wideTitle, 300)[kLabelColumn], 90);
}

TEST_F(SetEditor, AllColumnsAndWholeKeysShowAtTheDefaultSize) {
  {
    // The layout an earlier version kept without being asked: Key 40 px,
    // Label and File 200 px each.
    KeySet set;
    KeySetModel model(set);
    SetGrid old;
    old.setModel(&model);
    old.setColumnWidth(kKeyColumn, 40);
    old.setColumnWidth(kLabelColumn, 200);
    old.setColumnWidth(kFileColumn, 200);
    platform::SettingsStore store;
    store.OpenKey("Software\\Tastivo", true);
    store.WriteString("gridcolumns",
                      QString::fromLatin1(old.horizontalHeader()->saveState().toBase64()));
    store.CloseKey();
  }
  TTuning& t = Make();
  t.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
  ASSERT_EQ(t.size(), QSize(598, 834));
  const QHeaderView* header = t.Grid->horizontalHeader();
  const int visible = t.Grid->viewport()->width();
  for (int c = 0; c < kKeyColumnCount; ++c) {
    SCOPED_TRACE(c);
    EXPECT_GE(header->sectionViewportPosition(c), 0);
    EXPECT_LE(header->sectionViewportPosition(c) + header->sectionSize(c), visible);
  }
  for (int r = 0; r < t.Grid->model()->rowCount(); ++r)
    EXPECT_EQ(t.Grid->CutOffText(t.Grid->model()->index(r, kKeyColumn)), "") << r;
  EXPECT_EQ(t.Grid->CutOffText(t.Grid->model()->index(0, kMaxColumn)), "");
  EXPECT_GE(t.Grid->columnWidth(kLabelColumn), SetGridColumns::kMinShared);
  EXPECT_EQ(t.Grid->columnWidth(kLabelColumn), t.Grid->columnWidth(kFileColumn));

  // Rows of one line of text: far more than 24 of them in view.
  const int line = t.Grid->fontMetrics().height();
  EXPECT_LE(t.Grid->rowHeight(0), line + 6);
  EXPECT_GE(t.Grid->rowHeight(0), line);
  EXPECT_GE(t.Grid->rowAt(t.Grid->viewport()->height() - 1), 35);
  t.hide();
}

TEST_F(SetEditor, AnUntouchedLayoutFollowsTheWindowAndIsNotKept) {
  {
    TTuning& t = Make();
    t.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
    const int narrow = t.Grid->columnWidth(kLabelColumn);
    t.resize(900, 834);
    EXPECT_TRUE(testing_support::WaitFor(
        [&] { return t.Grid->columnWidth(kLabelColumn) == SetGridColumns::kPreferredShared; }));
    EXPECT_GT(t.Grid->columnWidth(kLabelColumn), narrow);
    t.hide();
    tuning.reset();
  }
  platform::SettingsStore store;
  store.OpenKeyReadOnly("Software\\Tastivo");
  EXPECT_FALSE(store.ValueExists(TTuning::kGridLayoutValue));
  {
    // The user's own widths are kept, and win over the fitting.
    TTuning& t = Make();
    t.Grid->setColumnWidth(kLabelColumn, 77);
    t.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
    EXPECT_EQ(t.Grid->columnWidth(kLabelColumn), 77);
    t.hide();
    tuning.reset();
  }
  TTuning& t = Make();
  t.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
  EXPECT_EQ(t.Grid->columnWidth(kLabelColumn), 77);
  t.hide();
}
