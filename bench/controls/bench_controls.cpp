// Cost of the keyboard window's per-tick display work: one LCD value change
// and one slider position change, each followed by the repaint it causes,
// against redrawing the whole control as the baseline.

#include "controls/Lcd99.h"
#include "controls/MkRangeSlider.h"

#include <QApplication>
#include <QPaintEvent>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Sums the area of the paint events a widget receives.
class AreaMeter : public QObject {
 public:
  explicit AreaMeter(QWidget* w) { w->installEventFilter(this); }
  long long area = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) {
      for (const QRect& r : static_cast<QPaintEvent*>(e)->region()) area += r.width() * r.height();
    }
    return false;
  }
};

// The window thread's own CPU time: on a machine shared with other work, a
// wall clock would count their turns too.
double ThreadCpuMicros() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Result {
  double micros;
  double area;
};

// step(i) makes one change; the events it posts are then processed, which
// paints what it invalidated.
Result Measure(QWidget* w, const std::function<void(int)>& step, int rounds) {
  AreaMeter meter(w);
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    const double from = ThreadCpuMicros();
    step(i);
    QCoreApplication::processEvents();
    times.push_back(ThreadCpuMicros() - from);
  }
  return {Median(times), double(meter.area) / rounds};
}

void Print(const char* name, Result changed, Result full) {
  std::printf("%s_p50: %.1f us cpu\n", name, changed.micros);
  std::printf("%s_area: %.0f px\n", name, changed.area);
  std::printf("%s_full_repaint_p50: %.1f us cpu\n", name, full.micros);
  std::printf("%s_full_repaint_area: %.0f px\n", name, full.area);
  std::printf("%s_ratio_to_full: %.2f x\n", name, changed.micros / full.micros);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  constexpr int kRounds = 2000;

  controls::TLCD99 lcd(nullptr);  // LcdCur
  lcd.resize(60, 13);
  lcd.SetDigitNum(7);
  lcd.SetDigitSpacing(2);
  lcd.SetGapX(1);
  lcd.SetGapY(1);
  lcd.SetSegmentSize(1);
  lcd.SetColor(13624029);
  lcd.SetOnColor(6447714);
  lcd.SetOffColor(12963535);
  lcd.SetValue("0");
  lcd.show();
  QCoreApplication::processEvents();
  // A clip's time in hundredths advances by about one per tick.
  const Result lcdChange = Measure(
      &lcd, [&lcd](int i) { lcd.SetValue(QString::number(12000 + i)); }, kRounds);
  // Baseline: redrawing every cell from scratch (as an unlit colour change does).
  const Result lcdFull = Measure(
      &lcd, [&lcd](int i) { lcd.SetOffColor(i % 2 ? 12963535 : 12963534); }, kRounds);
  Print("lcd_value_change", lcdChange, lcdFull);

  controls::TmkRangeSlider slider(nullptr);  // Slider1
  slider.resize(556, 22);
  slider.SetColorBack(13161937);
  slider.SetColorTag(16695386);
  slider.SetColorPos(3322351);
  slider.SetMax(10000);
  slider.SetMaxPosition(10000);
  slider.SetFrequency(100);
  slider.SetThumbStyle(controls::rsTriangle);
  slider.show();
  QCoreApplication::processEvents();
  // 19 units are about one pixel at 530 pixels for 10000 units.
  const Result sliderChange = Measure(
      &slider, [&slider](int i) { slider.SetPosition(20 + (i * 19) % 9900); }, kRounds);
  const Result sliderFull = Measure(
      &slider, [&slider](int) { slider.repaint(); }, kRounds);
  Print("slider_position_change", sliderChange, sliderFull);
  return 0;
}
