#pragma once
// Opens a set file that the program was given from outside (the command
// line of this start or of a later one) in a keyboard window, the way
// choosing it from the set editor's known lists would.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class TForm11;

namespace app {

// A file that is not a set is told and changes nothing; then the set editor
// asks whether to save a modified set; then the file is added to window's
// known lists and loaded. Returns false when nothing was loaded: the set
// editor has already told the user why (not a set, too large, not found),
// or the user cancelled the question, and the window keeps the set it had.
bool OpenStartSet(TForm11& window, const QString& path);

// What later starts of the program hand over (platform::SingleInstance):
// each brings the first keyboard window forward and opens its set file, if
// it has one, there. They are taken one at a time, and only while no modal
// window is up (a question, a file dialog), so that a set never changes
// under a question about the set before it; until then the modal window is
// brought forward instead.
class HandedSets : public QObject {
 public:
  explicit HandedSets(QObject* parent = nullptr);
  void Add(const QString& file);

  // How often a request waiting for a modal window to close looks again.
  static constexpr int kRetryMs = 200;

 private:
  void Next();

  QStringList pending_;
  QTimer retry_;
  bool busy_ = false;
};

// Shows window (restored if it was minimized), raises it and activates it.
void BringForward(TForm11& window);

}  // namespace app
