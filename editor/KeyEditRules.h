#pragma once
// The key editor's rules that need no window: how the "Min", "Max" and
// "Rate" boxes are corrected, which list entries are entered rather than
// played, and how a chosen file's path is written into a set.

#include <QString>

class KeySet;

namespace keyedit {

// The corrected text of a box when it loses the focus. Checked in this
// order: not an integer, empty, out of range. Nothing else is checked: a
// "Max" below "Min", or a negative "Max", stays as typed.
QString CorrectMin(const QString& text);   // fallback "0"; below 0: "0"
QString CorrectMax(const QString& text);   // fallback "10000"; above 10000: "10000"
QString CorrectRate(const QString& text);  // fallback "100"; <= 0: "1"; > 300: "300"

// The extension of an entry's name, from its last "." (dot included); empty
// for a name without one.
QString ExtensionOf(const QString& name);

// Whether an entry with this name is entered like a folder instead of being
// played: no extension (a folder) or exactly ".zip". "x.ZIP" is a file.
bool EntersLikeFolder(const QString& name);

// The path that a set stores for file, written relative to programFolder
// with "\" separators: the leading folders both share are dropped, one
// "..\" is written for each remaining folder of programFolder, then the
// file's remaining folders and its name. A file on another drive keeps its
// full path. Both paths may use "/" or "\".
//
// Drive letters ("C:") are compared ignoring letter case, and so are folder
// names on drive-letter paths, as those file systems do. Paths without a
// drive compare folder names exactly: "/opt/Music" and "/opt/music" are two
// folders here, and taking one for the other would store the wrong file.
QString RelativeToProgram(const QString& file, const QString& programFolder);

// What Add stores in row `row` for a clip: `file` (as RelativeToProgram
// writes it), the whole clip (marks 0 and 10000) and rate 100. The label is
// left to the caller (Add's Label box, a drop).
void StoreAddedClip(KeySet& set, int row, const QString& file);

// Where "Up one level" goes from path: the text up to its last separator,
// that separator kept ("C:\Prog\music" gives "C:\Prog\", "/home/u/Music"
// gives "/home/u/"). A root stays where it is.
QString UpOneLevel(const QString& path);

// Where the tool panel's boxes and the player panel go across a panel
// `width` wide, as x and width. From the window's first width up they keep
// their places; narrower (a small screen, a 2x scale), the File box gives up
// room first, then the Label box, then the player panel's position slider.
// Without the boxes (the player mode) only the player panel is placed.
struct ToolPanelPlaces {
  int labelX, labelWidth, fileX, fileWidth, minX, maxX, rateX, playerX, playerWidth;
};
ToolPanelPlaces PlaceToolPanel(int width, bool withBoxes);

}  // namespace keyedit
