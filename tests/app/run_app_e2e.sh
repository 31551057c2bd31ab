#!/usr/bin/env bash
# Starts the real program on an X display with a window manager, checks its
# window, closes it the way a user does (the window manager's close) and
# checks that the next start comes back where the first one was left.
# Usage: run_app_e2e.sh <path-to-tastivo>
set -euo pipefail
app="$1"
source "$(dirname "$0")/desktop_session.sh"

start_window_manager

wait_window() {
  for _ in $(seq 1 200); do
    id=$(xdotool search --onlyvisible --name '^Tastivo$' 2>/dev/null | head -n 1 || true)
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    sleep 0.05
  done
  echo "no Tastivo window appeared" >&2
  return 1
}

wait_exit() {
  for _ in $(seq 1 200); do
    kill -0 "$app_pid" 2>/dev/null || { wait "$app_pid" || true; app_pid=""; return 0; }
    sleep 0.05
  done
  echo "Tastivo did not end after its window was closed" >&2
  return 1
}

"$app" >"$work/app1.log" 2>&1 &
app_pid=$!
win=$(wait_window)
count=$(xdotool search --onlyvisible --name '^Tastivo$' | wc -l)
[[ "$count" == 1 ]] || { echo "expected one window, found $count"; exit 1; }
geometry=$(xwininfo -id "$win")
width=$(awk '/Width:/ {print $2}' <<<"$geometry")
height=$(awk '/Height:/ {print $2}' <<<"$geometry")
[[ "$width" == 635 && "$height" == 207 ]] || { echo "window is ${width}x${height}"; exit 1; }
# No decorations (Motif hints: flags 0x2, decorations 0) and kept above others.
xprop -id "$win" _MOTIF_WM_HINTS | grep -q -E '= 0x2, 0x[0-9a-f]+, 0x0' || { echo "window has a frame"; exit 1; }
xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || { echo "window not on top"; exit 1; }

# Dragged by the set-name label, by the logo and by the bare caption bar, the
# window follows the mouse exactly, step by step.
position() { xdotool getwindowgeometry "$win" | awk '/Position:/ {print $2}'; }
drag() {  # <x> <y> in the window: grab there and move in steps of 7,5
  xdotool windowmove --sync "$win" 200 200
  sleep 0.2
  local start
  start=$(position)
  xdotool mousemove --sync --window "$win" "$1" "$2" mousedown 1
  for step in 1 2 3 4 5 6; do
    xdotool mousemove_relative --sync 7 5
    sleep 0.05
  done
  xdotool mouseup 1
  sleep 0.3
  local sx sy
  IFS=, read -r sx sy <<<"$start"
  local expected="$((sx + 42)),$((sy + 30))"
  [[ "$(position)" == "$expected" ]] || { echo "drag at $1,$2 ended at $(position), expected $expected"; exit 1; }
}
drag 200 20  # the set-name label
drag 26 21   # the logo
drag 300 9   # the caption bar itself

xdotool windowmove "$win" 140 90
sleep 0.3
wmctrl -i -c "$win"
wait_exit
for value in ftop fleft mtop mleft loop sustain midi group; do
  grep -q "^Tastivo\\\\$value=" "$ini" || { echo "value $value missing from $ini"; cat "$ini"; exit 1; }
done
grep -q '^Tastivo\\ftop=dword:0000005a$' "$ini" || { echo "ftop not 90"; cat "$ini"; exit 1; }
grep -q '^Tastivo\\fleft=dword:0000008c$' "$ini" || { echo "fleft not 140"; cat "$ini"; exit 1; }
sed -i 's/^Tastivo\\group=.*/Tastivo\\group=dword:00000007/' "$ini"

"$app" >"$work/app2.log" 2>&1 &
app_pid=$!
win=$(wait_window)
sleep 0.3
pos=$(xdotool getwindowgeometry "$win" | awk '/Position:/ {print $2}')
[[ "$pos" == "140,90" ]] || { echo "second start at $pos, expected 140,90"; exit 1; }
wmctrl -i -c "$win"
wait_exit
grep -q '^Tastivo\\group=dword:00000007$' "$ini" || { echo "group not kept"; cat "$ini"; exit 1; }
echo "1 passed, 0 failed"
