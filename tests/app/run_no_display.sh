#!/usr/bin/env bash
# Started outside a desktop session, the program says so in one line and
# ends with a failure, instead of aborting with a core dump.
set -uo pipefail
out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" 2>&1)"
status=$?
expected="Tastivo needs a desktop session: neither DISPLAY nor WAYLAND_DISPLAY is set."
[[ "$status" == 1 ]] || { echo "exit status $status, expected 1; output: $out"; exit 1; }
[[ "$out" == "$expected" ]] || { echo "printed: $out"; exit 1; }
echo "1 passed, 0 failed"
