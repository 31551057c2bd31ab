// The key editor's figures: how long a large folder takes to fill the list,
// how soon a click on a file is heard, and how long Add takes per file.
// Prints "name: value unit" lines; medians, with a plain directory read as
// the listing's baseline.

#include "editor/Edit.h"
#include "engine/graph/GstMediaGraph.h"
#include "platform/Application.h"
#include "player/Tplayerbase.h"
#include "sets/Prop.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

void Touch(const QString& path) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.close();
}

// 10,000 files of which 1,000 match the mask, listed by a fresh editor each
// run (the file system model keeps what it has read).
void ListLargeFolder() {
  QTemporaryDir dir;
  for (int i = 0; i < 10000; ++i)
    Touch(dir.filePath(QStringLiteral("clip%1.%2").arg(i).arg(i % 10 == 0 ? "wav" : "txt")));
  std::vector<double> list;
  std::vector<double> baseline;
  for (int run = 0; run < 5; ++run) {
    auto* editor = new TEdit1;
    editor->show();
    QElapsedTimer timer;
    timer.start();
    editor->Stv->SetPath(dir.path());
    if (!WaitUntil([&] { return editor->flist->Count() == 1000; })) {
      std::printf("key_editor_list_10000_files: failed (%d entries)\n", editor->flist->Count());
      delete editor;
      return;
    }
    list.push_back(timer.nsecsElapsed() / 1e6);
    delete editor;

    timer.restart();
    const QStringList names = QDir(dir.path())
                                  .entryList(QString::fromUtf8(TEdit1::kMask).split(';'),
                                             QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot);
    baseline.push_back(timer.nsecsElapsed() / 1e6);
    if (names.size() != 1000)
      std::printf("baseline listed %lld\n", static_cast<long long>(names.size()));
  }
  std::printf("key_editor_list_10000_files: %.1f ms\n", Median(list));
  std::printf("key_editor_list_baseline_dir_read: %.1f ms\n", Median(baseline));
  std::printf("key_editor_list_ratio: %.1f x\n", Median(list) / Median(baseline));
}

// From the click on a file (Auto Play) to the first buffer at the audio sink.
void PreviewStart() {
  QTemporaryDir dir;
  QProcess make;
  make.start("gst-launch-1.0", {"-q", "audiotestsrc", "num-buffers=200", "!", "audioconvert", "!",
                                "wavenc", "!", "filesink", "location=" + dir.filePath("a.wav")});
  make.waitForFinished(30000);
  QFile::copy(dir.filePath("a.wav"), dir.filePath("b.wav"));

  std::atomic<long long> firstBuffer{0};
  TEdit1::MakeGraph = [&firstBuffer] {
    auto graph = std::make_shared<engine::GstMediaGraph>();
    graph->SetAudioBufferObserver([&firstBuffer] {
      long long expected = 0;
      firstBuffer.compare_exchange_strong(expected, Clock::now().time_since_epoch().count());
    });
    return graph;
  };
  auto* editor = new TEdit1;
  editor->Auto->setChecked(true);
  editor->show();
  editor->Stv->SetPath(dir.path());
  WaitUntil([&] { return editor->flist->Count() == 2; });
  std::vector<double> starts;
  for (int run = 0; run < 20; ++run) {
    const int row = run % 2;
    const QRect cell = editor->flist->visualRect(
        editor->flist->model()->index(row, 0, editor->flist->rootIndex()));
    firstBuffer = 0;
    const auto clicked = Clock::now();
    QTest::mouseClick(editor->flist->viewport(), Qt::LeftButton, {}, cell.center());
    if (!WaitUntil([&] { return firstBuffer.load() != 0; }, 5000)) continue;
    starts.push_back(std::chrono::duration<double, std::milli>(Clock::duration(firstBuffer.load()) -
                                                               clicked.time_since_epoch())
                         .count());
  }
  delete editor;
  TEdit1::MakeGraph = nullptr;
  std::printf("key_editor_preview_click_to_first_buffer_p50: %.2f ms\n", Median(starts));
  std::printf("key_editor_preview_runs_heard: %zu of 20\n", starts.size());
}

// Add of 100 files one after the other, from the first row to the last of
// a set of 100 rows.
void AddHundred() {
  QTemporaryDir dir;
  for (int i = 0; i < 100; ++i)
    Touch(dir.filePath(QStringLiteral("clip%1.wav").arg(i, 3, 10, QChar('0'))));
  TTuning tuning(nullptr, 0);
  tuning.Set.GrowTo(100);
  tuning.show();
  tuning.SelectRow(0);
  tuning.AEditExecute();
  Edit1->Stv->SetPath(dir.path());
  // Listed and sorted: the model sorts shortly after it has read the folder.
  WaitUntil([] {
    return Edit1->flist->Count() == 100 && Edit1->flist->Caption(0) == "clip000.wav" &&
           Edit1->flist->Caption(99) == "clip099.wav";
  });
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < 100; ++i) {
    Edit1->flist->SelectEntry(i);
    Edit1->flistDblClick();
  }
  const double total = timer.nsecsElapsed() / 1e6;
  const bool filled = tuning.Set.Row(99).Label == "clip099.wav" && tuning.SelectedRow() == 99;
  std::printf("key_editor_add_100_files: %.1f ms\n", total);
  std::printf("key_editor_add_per_file: %.3f ms\n", total / 100);
  if (!filled)
    std::printf("key_editor_add_100_files_rows_wrong: row 99 \"%s\", selected %d\n",
                qPrintable(tuning.Set.Row(99).Label), tuning.SelectedRow());
  Edit1->hide();
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  platform::Application app(argc, argv);
  Edit1 = new TEdit1;
  TTuning::Editor = Edit1;
  ListLargeFolder();
  PreviewStart();
  AddHundred();
  delete Edit1;
  Edit1 = nullptr;
  return 0;
}
