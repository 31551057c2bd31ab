#!/usr/bin/env bash
# Builds the set file fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into its own folder and runs it on the seed
# corpus. Extra arguments go to the fuzzer, e.g. -runs=20000 or
# -max_total_time=600.
# Usage: sets/fuzz/build-and-run.sh [build-dir] [fuzzer args...]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
out="${1:-$root/build-fuzz}"
shift || true
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$root/sets/SetFileParser.cpp" "$root/sets/SetFileText.cpp" \
  "$root/sets/fuzz/SetFileFuzz.cpp" \
  -o "$out/set_file_fuzz"
# New inputs go to the scratch corpus; the seeds in the tree stay as they are.
"$out/set_file_fuzz" "$@" "$out/corpus" "$root/sets/fuzz/corpus"
