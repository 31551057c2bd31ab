#pragma once
// The help engine module.
//
// Tastivo's help is a Qt Help collection ("tastivo.qhc", which registers the
// compiled manual "tastivo.qch") in the program's folder. This module loads
// the engine once, keeps it for the process, and opens and closes the help
// viewer windows. Everything here runs on the window thread.

#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstdint>

class QHelpEngineCore;
class QWidget;
class HelpViewer;

// Commands of HtmlHelp().
inline constexpr unsigned HH_DISPLAY_TOPIC = 0x0000;
inline constexpr unsigned HH_CLOSE_ALL = 0x0012;

// The collection file the engine looks for in the engine folder.
inline constexpr const char* kHelpCollectionName = "tastivo.qhc";

// When true (the default), HhModule loads the engine as soon as it starts.
extern bool AutoLoadAPI;

// Where an installed program's data is, seen from the executable's folder.
inline constexpr const char* kInstalledDataFolder = "../share/tastivo";

// The folder searched for the collection, unless a caller (a test) chose
// another one: the executable's folder when the collection is there (a build
// folder), else the installed data folder when it is there, else the
// executable's folder.
QString HelpEngineFolder();
void SetHelpEngineFolder(const QString& folder);

// The full path of the engine's data (the collection file), or empty text
// when it does not exist.
QString GetPathToHHCtrlOCX();

// Loads the engine once; a missing or unreadable collection leaves it
// unloaded without any report.
void LoadHtmlHelp();
// Closes every viewer and frees the engine.
void UnloadHtmlHelp();

// The loaded engine, or null when none is loaded.
QHelpEngineCore* HHCtrlHandle();
bool HtmlHelpLoaded();

// The engine call. HH_DISPLAY_TOPIC opens the help file (empty text: the
// loaded collection) at its default topic in a viewer owned by owner (null:
// a window of its own) and returns the viewer; a viewer already open on the
// same file for the same owner is brought back to the default topic instead
// of opening a second one. The viewer comes up in front, active, and kept
// above others while a window of ours is. HH_CLOSE_ALL closes every viewer
// and returns null. Other commands, and any call while the engine is not
// loaded, do nothing.
HelpViewer* HtmlHelp(QWidget* owner, const QString& file, unsigned command, std::uintptr_t data);

// The viewers open at present, oldest first.
QList<HelpViewer*> HelpViewers();

// Makes F1 in any window of the application open the application's help
// file in a window of its own, as the about window's "Help" does. Not while
// a window that blocks all others is up (a question, a file dialog): the
// manual could not take input then. Needs the application object; once is
// enough.
void InstallHelpKey();

// Module start and end: create one right after the application object and
// keep it until the application ends. The start also installs the help key.
class HhModule {
 public:
  HhModule();
  ~HhModule();
  Q_DISABLE_COPY(HhModule)
};
