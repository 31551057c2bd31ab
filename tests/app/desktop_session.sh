# Sourced by the end-to-end scripts that run the real program on X: a work
# folder removed at the end, the program and the window manager stopped with
# it, and start_window_manager to bring up openbox on $DISPLAY.
[[ -n "${DISPLAY:-}" ]] || { echo "needs an X display (run under scripts/with-test-services.sh)"; exit 1; }
work="$(mktemp -d)"
# The program keeps one copy per user and display, found through a socket in
# $XDG_RUNTIME_DIR; a folder of the run's own keeps tests that share the
# display from handing their starts to each other.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
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
