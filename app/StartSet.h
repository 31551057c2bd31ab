#pragma once
// Opens the set file named on the command line in a keyboard window, the
// way choosing it from the set editor's known lists would.

#include <QString>

class TForm11;

namespace app {

// Adds path to window's known lists and loads it, once the window is built.
// Returns false when nothing was loaded: the set editor has already told the
// user why (not a set, too large), and the window keeps the set it had.
bool OpenStartSet(TForm11& window, const QString& path);

}  // namespace app
