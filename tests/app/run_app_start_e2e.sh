#!/usr/bin/env bash
# The real program on X with a window manager, started with settings whose
# last set is gone: the warning comes while the window is being built, and
# is answered only after its timers would have ticked. The window must come
# up whole, at start and for New alike, and the next start must not warn
# about the same file again.
# Usage: run_app_start_e2e.sh <path-to-tastivo>
set -euo pipefail
app="$1"
source "$(dirname "$0")/desktop_session.sh"
mkdir -p "$(dirname "$ini")" "$work/a folder.wql"

start_window_manager

wait_window() { wait_window_matching "$@"; }  # <title regex> [tries]

alive() {
  kill -0 "$app_pid" 2>/dev/null && return 0
  wait "$app_pid"
  echo "Tastivo ended with status $?" >&2
  return 1
}

# Answers the warning only after more than a second: the keyboard window's
# one-second timer has ticked inside the box's event loop by then.
answer_warning() {  # <expected file name>
  local box
  box=$(wait_window '^Tastivo:  Warning$')
  sleep 1.5
  alive
  xdotool windowactivate --sync "$box" key --clearmodifiers Return
  for _ in $(seq 1 100); do
    xdotool search --onlyvisible --name '^Tastivo:  Warning$' >/dev/null 2>&1 || return 0
    sleep 0.05
  done
  echo "the warning did not close" >&2
  return 1
}

quit_window() {  # <window id>
  wmctrl -i -c "$1"
  for _ in $(seq 1 200); do
    kill -0 "$app_pid" 2>/dev/null || { wait "$app_pid"; app_pid=""; return 0; }
    sleep 0.05
  done
  echo "Tastivo did not end" >&2
  return 1
}

sz() { printf 'sz:%s' "$1"; }

for gone in "$work/gone.wql" "$work/a folder.wql"; do
  name="$(basename "$gone")"
  # The set editor reads its place and size before the known lists.
  cat >"$ini" <<INI
[Software]
Tastivo\\ttop=dword:00000064
Tastivo\\tleft=dword:00000064
Tastivo\\twidth=dword:00000256
Tastivo\\theight=dword:00000200
Tastivo\\combo=$(sz "$gone")\\r\\n
Tastivo\\combolast=dword:00000000
INI
  "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  answer_warning "$name"
  win=$(wait_window '^Tastivo$')
  alive
  echo "start with '$name' missing: window up"

  # New, for a window whose last set is gone too.
  cat >>"$ini" <<INI
Tastivo\\1\\ttop=dword:00000064
Tastivo\\1\\tleft=dword:00000064
Tastivo\\1\\twidth=dword:00000256
Tastivo\\1\\theight=dword:00000200
Tastivo\\1\\combo=$(sz "$gone")\\r\\n
Tastivo\\1\\combolast=dword:00000000
INI
  xdotool mousemove --window "$win" 517 11 click 1
  answer_warning "$name"
  wait_window '^Tastivo 1$' >/dev/null
  alive
  echo "New with '$name' missing: window up"
  quit_window "$win"

  # The combo no longer points at the file that is gone: no warning at the
  # next start.
  "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  win=$(wait_window '^Tastivo$')
  sleep 1.5
  if xdotool search --onlyvisible --name '^Tastivo:  Warning$' >/dev/null 2>&1; then
    echo "the next start warned about '$name' again" >&2
    exit 1
  fi
  quit_window "$win"
  echo "next start: no second warning"
done
echo "6 passed, 0 failed"
