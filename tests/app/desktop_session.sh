# Sourced by the end-to-end scripts that run the real program on X: a work
# folder removed at the end, settings of the run's own, the program and the
# window manager stopped with it, start_window_manager to bring up openbox
# on $DISPLAY, and wait_window_matching to find the program's windows.
[[ -n "${DISPLAY:-}" ]] || { echo "needs an X display (run under scripts/with-test-services.sh)"; exit 1; }
work="$(mktemp -d)"
# The program keeps one copy per user and display, found through a socket in
# $XDG_RUNTIME_DIR; a folder of the run's own keeps tests that share the
# display from handing their starts to each other.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The program on X, its settings in a folder of the run's own ($ini).
export XDG_CONFIG_HOME="$work/config"
export QT_QPA_PLATFORM=xcb
ini="$XDG_CONFIG_HOME/Tastivo/Tastivo.ini"
wm_pid=""
app_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$wm_pid" ]] && kill "$wm_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_window_manager() {
  openbox >/dev/null 2>&1 &
  wm_pid=$!
  for _ in $(seq 1 100); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
}
# Prints the id of the first visible window whose title matches the regular
# expression; fails when none comes within `tries` polls of 50 ms, or when
# the program ($app_pid) ends meanwhile.
wait_window_matching() {  # <title regex> [tries]
  for _ in $(seq 1 "${2:-300}"); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    kill -0 "$app_pid" 2>/dev/null || { echo "Tastivo ended while waiting for '$1'" >&2; return 1; }
    sleep 0.05
  done
  echo "no window '$1' appeared" >&2
  return 1
}
