#!/usr/bin/env bash
# The test suite proper; scripts/with-test-services.sh provides JACK and X.
# Arguments go to the main ctest run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
ctest --test-dir "$root/build" --output-on-failure --timeout 60 "$@"
