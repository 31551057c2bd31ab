#include "app/StartSet.h"

#include "app/morvela1.h"
#include "sets/LocalPath.h"

#include <QLabel>

namespace app {

bool OpenStartSet(TForm11& window, const QString& path) {
  TTuning& tuning = *window.Tuning;
  // The set restored at creation is unchanged by now; the question only
  // matters for a caller that opens a set later.
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

}  // namespace app
