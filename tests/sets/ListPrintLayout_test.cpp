#include "sets/ListPrintLayout.h"
#include "sets/SetListPrint.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <map>
#include <set>

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

TEST(ListPrintLayout, TheHeaderIsAtTheBodysScaleAtAnyResolution) {
  for (const double dpi : {96.0, 300.0, 600.0, 1200.0}) {
    SCOPED_TRACE(dpi);
    const double a4Height = 11.69 * dpi;
    const ListPrintLayout layout(QSizeF(8.27 * dpi, a4Height), {1, 1, 1, 1, 1, 1, 1}, dpi);
    EXPECT_GT(layout.Header().height(), layout.RowHeight() / 2);
    EXPECT_LT(layout.Header().height(), layout.RowHeight() * 2);
    EXPECT_DOUBLE_EQ(layout.Table().top() / a4Height, 200.0 / (11.69 * 600));
  }
}

TEST(ListPrintLayout, SurvivesDegenerateInput) {
  const ListPrintLayout tiny(QSizeF(10, 10), {});
  EXPECT_EQ(tiny.Table().width(), 0);
  EXPECT_EQ(tiny.ColumnCount(), 1);
  const ListPrintLayout zero(QSizeF(794, 1123), {0, 0});
  EXPECT_DOUBLE_EQ(zero.HeaderCell(1).width(), 272);
}

namespace {

// A paint device that keeps every text painted on it with its font, the way
// a printer receives them.
class TextRecorder : public QPaintDevice {
 public:
  struct Text {
    QPointF at;
    QString text;
    QFont font;
  };
  explicit TextRecorder(QSize size) : size_(size), engine_(this) {}
  QPaintEngine* paintEngine() const override { return &engine_; }
  std::vector<Text> texts;

 protected:
  int metric(PaintDeviceMetric metric) const override {
    switch (metric) {
      case PdmWidth:
        return size_.width();
      case PdmHeight:
        return size_.height();
      case PdmDpiX:
      case PdmDpiY:
      case PdmPhysicalDpiX:
      case PdmPhysicalDpiY:
        return 96;
      case PdmDepth:
        return 32;
      case PdmDevicePixelRatio:
        return 1;
      case PdmDevicePixelRatioScaled:
        return int(QPaintDevice::devicePixelRatioFScale());
      default:
        return QPaintDevice::metric(metric);
    }
  }

 private:
  class Engine : public QPaintEngine {
   public:
    explicit Engine(TextRecorder* device) : device_(device) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawRects(const QRectF*, int) override {}
    void drawLines(const QLineF*, int) override {}
    void drawPath(const QPainterPath&) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override {
      device_->texts.push_back({p, item.text(), item.font()});
    }
    Type type() const override { return User; }

   private:
    TextRecorder* device_;
  };
  QSize size_;
  mutable Engine engine_;
};

// The set list's own column widths as the set editor starts with them.
const std::vector<double> kListWidths{40, 100, 200, 200, 100, 100, 100};
const QSizeF kA4At96Dpi(794, 1123);

}  // namespace

TEST(SetListPrint, HeaderShowsTheSevenTitlesAtTheBodysSizeAndWidths) {
  const SetListPrintLayout layout(kA4At96Dpi, kListWidths);
  const KeySet set;
  const auto header = layout.HeaderCells();
  const auto body = layout.BodyCells(set, 0);
  ASSERT_EQ(header.size(), 7u);
  ASSERT_EQ(body.size(), 7u * ListPrintLayout::kRowsPerPage);
  const QStringList titles{"Key", "index", "Label", "File", "Min", "Max", "Rate"};
  for (int c = 0; c < 7; ++c) {
    const SetListPrintCell& cell = header[c];
    SCOPED_TRACE(titles[c].toStdString());
    EXPECT_EQ(cell.text, titles[c]);
    EXPECT_EQ(cell.font.pixelSize(), body[c].font.pixelSize());
    EXPECT_EQ(cell.font.family(), "Arial");
    EXPECT_DOUBLE_EQ(cell.rect.left(), body[c].rect.left());
    EXPECT_DOUBLE_EQ(cell.rect.width(), body[c].rect.width());
    EXPECT_DOUBLE_EQ(cell.rect.width(), layout.Geometry().BodyCell(35, c).width());
    // The whole title fits in its column: nothing is cut to "La…" or to
    // nothing at all.
    const QFontMetricsF metrics(cell.font);
    EXPECT_LE(metrics.horizontalAdvance(cell.text),
              cell.rect.width() - 2 * layout.Padding(cell.rect));
  }
  // The body text is as tall as a row allows, not a fraction of it.
  EXPECT_GE(layout.TextPixelSize(), int(layout.Geometry().RowHeight() * 0.7));
  EXPECT_LT(layout.TextPixelSize(), layout.Geometry().RowHeight());
  EXPECT_EQ(body[7 + kLabelColumn].text, set.Row(1).Label);
  EXPECT_EQ(body[kKeyColumn].text, set.Row(0).Key);
}

TEST(SetListPrint, APrintedPageCarriesTheTitlesAndRowsInOneSize) {
  KeySet set;
  set.SetCell(0, kLabelColumn, "Thunder");
  set.SetCell(0, kFileColumn, "clips/thunder.wav");
  set.SetCell(40, kLabelColumn, "Second page");
  const SetListPrintLayout layout(kA4At96Dpi, kListWidths);
  TextRecorder page(kA4At96Dpi.toSize());
  {
    QPainter painter(&page);
    PaintSetListPage(painter, layout, set, 0);
  }
  std::map<QString, TextRecorder::Text> byText;
  std::set<int> sizes;
  for (const auto& t : page.texts) {
    byText.emplace(t.text, t);
    sizes.insert(t.font.pixelSize());
  }
  for (const char* title : {"Key", "index", "Label", "File", "Min", "Max", "Rate"})
    EXPECT_TRUE(byText.count(title)) << title;
  EXPECT_TRUE(byText.count("Thunder"));
  EXPECT_TRUE(byText.count("clips/thunder.wav"));
  EXPECT_FALSE(byText.count("Second page"));
  EXPECT_TRUE(byText.count("1 / 3"));
  EXPECT_EQ(sizes, std::set<int>{layout.TextPixelSize()});
  // Each title sits inside its own header cell.
  const auto header = layout.HeaderCells();
  for (const auto& cell : header) {
    ASSERT_TRUE(byText.count(cell.text));
    const QPointF at = byText[cell.text].at;
    EXPECT_TRUE(cell.rect.contains(at)) << cell.text.toStdString();
  }
}
