#pragma once
// Icons and type names for the file lists of our dialogs and the key editor,
// told from names alone.
//
// The file system models ask for an entry's icon and type both on their
// worker thread and, for a path they are given, on the window thread. Qt's
// own provider reads a file whose name does not tell its type, and a read
// of /proc/kmsg, a FIFO, a device or a file on a hung network mount may never
// return: the window would hang in the call, or when the model is destroyed
// and waits for its worker. This provider never opens an entry; what stat
// says (folder or not) and the name decide.

class QAbstractFileIconProvider;

namespace platform {

// One provider for every model of the process. It holds no state that
// changes, so the models' worker threads may use it at once; it is never
// destroyed, so that no model can outlive it. The first call must come from
// the window thread (it takes the style's icons).
QAbstractFileIconProvider* FileIconsByName();

}  // namespace platform
