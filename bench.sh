#!/usr/bin/env bash
# Builds a Release build and runs every benchmark; each prints
# "name: value unit" lines.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/install-deps.sh" --tests
BUILD_TYPE=Release "$root/scripts/build.sh" "$root/build-release" -DTASTIVO_BUILD_TESTS=OFF
shopt -s nullglob
status=0
for b in "$root"/build-release/bin/bench_*; do
  echo "== $(basename "$b")"
  "$root/scripts/with-test-services.sh" env QT_QPA_PLATFORM=offscreen "$b" || status=1
done
# Our ALSA output against GStreamer's, on ALSA's JACK device.
echo "== bench_output (ALSA)"
"$root/scripts/with-test-services.sh" env QT_QPA_PLATFORM=offscreen TASTIVO_AUDIO_SINK=alsasink \
  "$root/build-release/bin/bench_output" || status=1
# Edges under load on PulseAudio and on ALSA too (the loop above heard JACK).
for sink in pulsesink alsasink; do
  echo "== bench_edges ($sink)"
  "$root/scripts/with-test-services.sh" env QT_QPA_PLATFORM=offscreen TASTIVO_AUDIO_SINK=$sink \
    "$root/build-release/bin/bench_edges" || status=1
done
exit $status
