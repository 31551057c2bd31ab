#include "MiniMode.h"

namespace app {

WindowPlace ToggleMiniMode(MiniModeState& s, const WindowPlace& current) {
  if (!s.MiniMode) {
    s.MiniMode = true;
    s.FullTop = current.top;
    s.FullLeft = current.left;
    s.FullHeight = current.height;
    WindowPlace next = current;
    if (s.MiniTop != 0) {
      next.left = s.MiniLeft;
      next.top = s.MiniTop;
    } else {
      // Keep the bottom edge where it was.
      next.top = current.top + current.height - kMiniHeight;
    }
    next.height = kMiniHeight;
    return next;
  }
  s.MiniTop = current.top;
  s.MiniLeft = current.left;
  s.MiniMode = false;
  return WindowPlace{s.FullLeft, s.FullTop, s.FullHeight};
}

}  // namespace app
