#!/usr/bin/env bash
# Runs a command on a machine made busy on purpose, as a stage laptop is
# with a browser or a DAW beside us: one spinner per core at normal
# priority, and one process writing and syncing a file over and over. All
# of them are stopped when the command ends.
set -uo pipefail
load_dir="$(mktemp -d "${TMPDIR:-/tmp}/tastivo-load.XXXXXX")"
pids=()
cleanup() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$load_dir"
  return "$status"
}
trap cleanup EXIT
for _ in $(seq 1 "$(nproc)"); do
  ( while :; do :; done ) &
  pids+=($!)
done
( while :; do
    dd if=/dev/zero of="$load_dir/io" bs=1M count=32 conv=fsync status=none
    rm -f "$load_dir/io"
  done ) &
pids+=($!)
"$@"
