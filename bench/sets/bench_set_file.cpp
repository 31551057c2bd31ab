// Reading and writing set files: the default set, a 128-key set with long
// paths, and a hostile file declaring 0x7fffffff rows. Prints medians.

#include "sets/SetFile.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double MedianMicroseconds(int runs, const std::function<void()>& body) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    times.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  return times[times.size() / 2];
}

void Print(const char* name, double value, const char* unit) {
  std::printf("%s: %.1f %s\n", name, value, unit);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;

  KeySet big;
  big.GrowTo(128);
  for (int i = 0; i < 128; ++i) {
    big.SetCell(i, kLabelColumn, QString("Clip number %1").arg(i));
    big.SetCell(i, kFileColumn, QString("..\\media\\long folder name\\clip %1.wav").arg(i));
  }
  const QString defaultPath = dir.filePath("default.wql");
  const QString bigPath = dir.filePath("big.wql");
  WriteSetFile(defaultPath, KeySet(), nullptr);
  WriteSetFile(bigPath, big, nullptr);

  QByteArray hostile = "5\n0x7fffffff\n";
  for (int i = 0; i < 70000; ++i) hostile += "L\nF\n0\n1\n2\n";

  auto load = [](const QString& path) {
    KeySet set;
    ApplySetFile(set, ReadSetFile(path).parsed);
  };
  Print("set_file_load_default_p50", MedianMicroseconds(200, [&] { load(defaultPath); }), "us");
  Print("set_file_load_128_rows_p50", MedianMicroseconds(200, [&] { load(bigPath); }), "us");
  Print("set_file_save_128_rows_p50",
        MedianMicroseconds(100, [&] { WriteSetFile(bigPath, big, nullptr); }), "us");
  Print(
      "set_file_parse_hostile_350k_lines_p50",
      MedianMicroseconds(
          10,
          [&] { setfile::Parse(hostile.constData(), static_cast<std::size_t>(hostile.size())); }) /
          1000.0,
      "ms");
  return 0;
}
