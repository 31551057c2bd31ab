#!/usr/bin/env bash
# The test suite proper; scripts/with-test-services.sh provides JACK and X.
# Arguments go to the main ctest run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
ctest --test-dir "$root/build" --output-on-failure --timeout 60 "$@"
# The set file reader under libFuzzer with sanitizers: a short fixed run on
# the seed corpus (a longer run is described in README.md).
"$root/sets/fuzz/build-and-run.sh" "$root/build-fuzz" -runs=20000
