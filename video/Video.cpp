#include "video/Video.h"

TVideo1::TVideo1(QWidget* owner, int instance) : QWidget(nullptr), instance_(instance) {
  // Owned by its keyboard window, which deletes it; no Qt parent, so it stays
  // a window of its own that the window manager places freely.
  Q_UNUSED(owner);
  setWindowTitle("Tastivo");
  resize(320, 240);
  setAttribute(Qt::WA_DeleteOnClose, false);
}
