#!/usr/bin/env bash
# Runs a test on an X server of its own (Xvfb) with a window manager
# (openbox), so that they never meet another test's windows or window manager.
# Usage: run_on_private_display.sh <command> [args...]
set -euo pipefail
work="$(mktemp -d)"
xvfb_pid=""
wm_pid=""
cleanup() {
  if [[ -n "$wm_pid" ]]; then kill "$wm_pid" 2>/dev/null || true; wait "$wm_pid" 2>/dev/null || true; fi
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkfifo "$work/display"
# -displayfd picks a free display and writes its number once the server
# accepts connections; reading the fifo waits for exactly that.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
if ! read -r -t 30 number <"$work/display"; then
  echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1
fi
export DISPLAY=":$number"
export QT_QPA_PLATFORM=xcb
# openbox runs its start-up command once it manages windows; before that, a
# window mapped by the test could be left unmanaged.
mkfifo "$work/wm-ready"
openbox --startup "sh -c 'echo ready >$work/wm-ready'" >"$work/openbox.log" 2>&1 &
wm_pid=$!
if ! read -r -t 30 _ <"$work/wm-ready"; then
  echo "openbox did not start"; cat "$work/openbox.log"; exit 1
fi
"$@"
