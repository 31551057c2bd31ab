#pragma once
// The arithmetic of a keyboard window's mini mode, apart from the widget:
// the window shrinks to its 40-pixel caption bar and comes back to its full
// size and place.

namespace app {

constexpr int kMiniHeight = 40;

struct WindowPlace {
  int left = 0;
  int top = 0;
  int height = 0;
};

struct MiniModeState {
  bool MiniMode = false;
  int FullTop = 0;
  int FullLeft = 0;
  int FullHeight = 0;
  int MiniTop = 0;  // 0: no mini position yet, whatever MiniLeft holds
  int MiniLeft = 0;
};

// Toggles mini mode for a window now at `current`; returns where the window
// goes and updates the state.
WindowPlace ToggleMiniMode(MiniModeState& state, const WindowPlace& current);

}  // namespace app
