#!/usr/bin/env bash
# Installs what is missing, builds, starts what the tests need (a JACK dummy
# server, a PulseAudio server and a virtual X display) and runs the whole suite headless.
# Extra arguments go to ctest, e.g. ./test.sh -L sets
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/install-deps.sh" --tests
"$root/scripts/build.sh" "$root/build"
exec "$root/scripts/with-test-services.sh" "$root/scripts/run-tests.sh" "$@"
