#include "app/StartSet.h"

#include "app/FormList.h"
#include "app/morvela1.h"
#include "platform/Application.h"
#include "sets/LocalPath.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>

namespace app {

bool OpenStartSet(TForm11& window, const QString& path) {
  TTuning& tuning = *window.Tuning;
  if (!tuning.CheckSetFile(path)) return false;
  tuning.AskSave();
  if (tuning.Modified) return false;
  // LoadSet puts the file among the known lists and selects it, so it is
  // also the one that comes back at the next start.
  if (!tuning.LoadSet(path)) return false;
  // The caption bar took the set name while the window was built, from the
  // set it restored then.
  window.CoolLabel3->setText(FileNamePart(tuning.FileName));
  return true;
}

HandedSets::HandedSets(QObject* parent) : QObject(parent) {
  retry_.setSingleShot(true);
  retry_.setInterval(kRetryMs);
  connect(&retry_, &QTimer::timeout, this, &HandedSets::Next);
}

void HandedSets::Add(const QString& file) {
  pending_ << file;
  if (QWidget* modal = QApplication::activeModalWidget(); modal && !busy_) {
    modal->raise();
    modal->activateWindow();
  }
  Next();
}

void HandedSets::Next() {
  if (busy_ || pending_.isEmpty()) return;
  QPointer<TForm11> window = Form11;
  if (!window || !window->IsWhole() || QApplication::activeModalWidget()) {
    retry_.start();
    return;
  }
  busy_ = true;
  // A question asked while a set opens lets further requests arrive; they
  // wait their turn here.
  while (!pending_.isEmpty() && window) {
    const QString file = pending_.takeFirst();
    platform::RunGuarded([&] {
      BringForward(*window);
      if (!file.isEmpty()) OpenStartSet(*window, file);
    });
  }
  busy_ = false;
}

void BringForward(TForm11& window) {
  if (window.isMinimized())
    window.showNormal();
  else
    window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace app
