#pragma once
// The program-wide list of keyboard windows.

#include <vector>

class TForm11;

// Every keyboard window made in this run, in order of creation: element i is
// the window with instance number i. Appended to, never shrunk while the
// program runs; a closed window stays in it, hidden.
extern std::vector<TForm11*> FormList;

// The first keyboard window (instance 0), the program's main window.
extern TForm11* Form11;
