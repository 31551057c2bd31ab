#!/usr/bin/env bash
# The test suite proper; scripts/with-test-services.sh provides JACK and X.
# Arguments go to the main ctest run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
ctest --test-dir "$root/build" --no-tests=error --output-on-failure --timeout 60 "$@"
# The set file reader under libFuzzer with sanitizers: a short fixed run on
# the seed corpus (a longer run is described in README.md).
"$root/sets/fuzz/build-and-run.sh" "$root/build-fuzz" -runs=20000
# The OSC handler likewise: every packet from any sender.
"$root/remote/fuzz/build-and-run.sh" "$root/build-fuzz" -runs=20000
# The MIDI tests again under ThreadSanitizer, in a build of their own (only
# their targets). The flood is lighter there: the sanitizer's slowness makes
# JACK miss cycles, and JACK drops the MIDI of a missed cycle.
cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTASTIVO_TSAN=ON -DTASTIVO_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-tsan" -j"$(nproc)" \
  --target midi_messages_test midi_device_test midi_jack_test midi_stress_test
TSAN_OPTIONS="suppressions=$root/tests/midi/tsan.supp" TASTIVO_MIDI_STRESS_SECONDS=5 \
  TASTIVO_MIDI_STRESS_RATE=2000 TASTIVO_MIDI_STRESS_JACK_MAY_DROP=1 \
  ctest --test-dir "$root/build-tsan" -L midi --output-on-failure --timeout 60
