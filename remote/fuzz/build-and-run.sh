#!/usr/bin/env bash
# Builds the OSC handler's fuzz target with clang (libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer) into its own folder and runs
# it on the seed corpus. Extra arguments go to the fuzzer, e.g. -runs=20000
# or -max_total_time=600.
# Usage: remote/fuzz/build-and-run.sh [build-dir] [fuzzer args...]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
out="${1:-$root/build-fuzz}"
shift || true
mkdir -p "$out/osc-corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$root/remote/RemoteCommand.cpp" "$root/remote/RemoteGate.cpp" \
  "$root/remote/OscPacket.cpp" "$root/remote/OscHandler.cpp" "$root/remote/fuzz/OscFuzz.cpp" \
  $(pkg-config --cflags --libs liblo) -o "$out/osc_fuzz"
# New inputs go to the scratch corpus; the seeds in the tree stay as they are.
"$out/osc_fuzz" "$@" "$out/osc-corpus" "$root/remote/fuzz/corpus"
