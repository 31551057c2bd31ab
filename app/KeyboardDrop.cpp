// Files dropped on the keyboard window (a set file opens, clips go on the
// keys) and the hint an empty set shows in their place.

#include "app/ClipDrop.h"
#include "app/morvela1.h"
#include "engine/ClipProbe.h"
#include "platform/Dialogs.h"
#include "sets/LocalPath.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

using engine::ClipProbeResult;

QStringList DroppedLocalFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

// Takes the drop as a copy (or a link): a file manager that was offered a
// move would delete the clip the set is about to name.
bool AcceptAsCopy(QDropEvent* event) {
  for (Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
    if (event->possibleActions() & action) {
      event->setDropAction(action);
      event->accept();
      return true;
    }
  }
  event->ignore();
  return false;
}

// A clip read from a local disk is known in a few tens of milliseconds; the
// limit only bounds how long a file that hangs its demuxer (or a stalled
// network mount) holds the window.
constexpr std::chrono::milliseconds kProbeTimeout{1500};

// Shows as much of its text as fits, with an ellipsis, in whatever font the
// desktop and the style sheet give it; the whole text is its tool tip then.
class ElidingLabel : public QLabel {
 public:
  ElidingLabel(const QString& text, QWidget* parent) : QLabel(parent), full_(text) { Elide(); }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Elide();
  }
  void changeEvent(QEvent* event) override {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Elide();
  }

 private:
  void Elide() {
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideRight, contentsRect().width());
    if (shown != text()) setText(shown);
    setToolTip(shown != full_ ? full_ : QString());
  }

  QString full_;
};

}  // namespace

void TForm11::BuildEmptySetHint() {
  // The free strip between the mark displays and the position display.
  EmptySetHint = new ElidingLabel(
      QStringLiteral("Drop clips on the keys, or press a key to open the set editor"), this);
  EmptySetHint->setGeometry(98, 63, 392, 17);
  EmptySetHint->setAlignment(Qt::AlignCenter);
  EmptySetHint->setStyleSheet("color: #1A3A78;");
  connect(Tuning, &TTuning::ClipsResolved, this, &TForm11::UpdateEmptySetHint);
  UpdateEmptySetHint();
}

void TForm11::UpdateEmptySetHint() {
  EmptySetHint->setVisible(!app::SetHasClips(Tuning->Set));
}

int TForm11::DropKeyAt(QPoint at) const {
  const QPoint onKeys = Keys1->mapFrom(this, at);
  if (!Keys1->isVisible() || !Keys1->rect().contains(onKeys)) return -1;
  const int note = Keys1->NoteAtPoint(onKeys.x(), onKeys.y(), nullptr);
  return note >= 0 && note < Tuning->Set.RowCount() ? note : -1;
}

void TForm11::dragEnterEvent(QDragEnterEvent* event) {
  dragFiles_ = DroppedLocalFiles(event->mimeData());
  if (dragFiles_.isEmpty()) {
    event->ignore();
    return;
  }
  // Taken whole: the move that always follows an enter decides where a drop
  // may land.
  AcceptAsCopy(event);
}

void TForm11::dragMoveEvent(QDragMoveEvent* event) {
  const bool set = !app::DroppedSetFile(dragFiles_).isEmpty();
  const int key = set ? -1 : DropKeyAt(event->position().toPoint());
  Keys1->SetDropNote(key);
  if (set || key >= 0)
    AcceptAsCopy(event);
  else
    event->ignore();
}

void TForm11::dragLeaveEvent(QDragLeaveEvent* event) {
  Keys1->SetDropNote(-1);
  dragFiles_.clear();
  event->accept();
}

void TForm11::dropEvent(QDropEvent* event) {
  Keys1->SetDropNote(-1);
  QStringList files = DroppedLocalFiles(event->mimeData());
  if (files.isEmpty()) files = dragFiles_;
  dragFiles_.clear();
  const int key = DropKeyAt(event->position().toPoint());
  if (files.isEmpty() || (app::DroppedSetFile(files).isEmpty() && key < 0)) {
    event->ignore();
    return;
  }
  if (!AcceptAsCopy(event)) return;
  // The file manager waits until the drop returns; questions and warnings
  // come after it.
  QTimer::singleShot(0, this, [this, files, key] { DropFiles(files, key); });
}

void TForm11::DropFiles(const QStringList& files, int key) {
  const QString set = app::DroppedSetFile(files);
  if (!set.isEmpty()) {
    Tuning->OpenSetFile(set);
    CoolLabel3->setText(FileNamePart(Tuning->FileName));
    return;
  }
  const std::vector<app::DroppedRow> rows =
      app::PlaceDroppedClips(files, key, Tuning->Set.RowCount(), ProgramFolder());
  if (rows.empty()) {
    platform::ShowWarning(QStringLiteral("%1 clips don't fit: from this key on, the set has %2 "
                                         "keys. No key was changed.")
                              .arg(files.size())
                              .arg(Tuning->Set.RowCount() - key),
                          this);
    return;
  }
  QStringList refused;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  for (const QString& file : files) {
    const ClipProbeResult probe = engine::ProbeClip(file.toStdString(), kProbeTimeout);
    // A file that gave no answer in time is placed: playing its key tells
    // what is wrong with it, if anything.
    if (probe.verdict == ClipProbeResult::Verdict::kUnplayable)
      refused << QDir::toNativeSeparators(file) +
                     " : can't be played: " + QString::fromStdString(probe.reason);
  }
  QApplication::restoreOverrideCursor();
  if (!refused.isEmpty()) {
    refused << QStringLiteral("The drop was refused: no key was changed.");
    platform::ShowWarning(refused.join('\n'), this);
    return;
  }
  app::ApplyDroppedClips(Tuning->Set, rows);
  Tuning->Modified = true;
}
