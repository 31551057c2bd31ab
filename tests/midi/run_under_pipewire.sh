#!/usr/bin/env bash
# Runs a command against a PipeWire of its own, headless (no sound card),
# through PipeWire's JACK library: the MIDI layer of desktops that run
# PipeWire instead of a JACK server. PipeWire's PulseAudio server runs too,
# for the sound of desktops that play through it. WirePlumber manages the session (it
# needs a D-Bus session bus, which dbus-run-session gives it), and a null
# sink stands in for the sound card.
set -uo pipefail
for tool in pipewire wireplumber pw-jack pw-cli dbus-run-session; do
  command -v "$tool" >/dev/null ||
    { echo "run_under_pipewire: $tool is missing; run scripts/install-deps.sh" >&2; exit 1; }
done
if [[ -z "${TASTIVO_PIPEWIRE_SESSION:-}" ]]; then
  export TASTIVO_PIPEWIRE_SESSION=1
  exec dbus-run-session -- "$0" "$@"
fi

runtime="$(mktemp -d)"
export XDG_RUNTIME_DIR="$runtime"
# The JACK server of the test services is not this one.
unset JACK_DEFAULT_SERVER
pw_pid=""
wp_pid=""
pp_pid=""
cleanup() {
  local status=$?
  [[ -n "$pp_pid" ]] && kill "$pp_pid" 2>/dev/null && wait "$pp_pid" 2>/dev/null
  [[ -n "$wp_pid" ]] && kill "$wp_pid" 2>/dev/null && wait "$wp_pid" 2>/dev/null
  [[ -n "$pw_pid" ]] && kill "$pw_pid" 2>/dev/null && wait "$pw_pid" 2>/dev/null
  if ((status != 0)); then
    echo "run_under_pipewire: the logs:" >&2
    sed 's/^/  | /' "$runtime"/*.log >&2 2>/dev/null
  fi
  rm -rf "$runtime"
  return "$status"
}
trap cleanup EXIT

pipewire >"$runtime/pipewire.log" 2>&1 &
pw_pid=$!
for _ in $(seq 1 100); do
  [[ -S "$runtime/pipewire-0" ]] && break
  sleep 0.1
done
[[ -S "$runtime/pipewire-0" ]] || { echo "run_under_pipewire: pipewire did not come up" >&2; exit 1; }
wireplumber >"$runtime/wireplumber.log" 2>&1 &
wp_pid=$!
# The null sink is made once WirePlumber answers.
made=0
for _ in $(seq 1 100); do
  if pw-cli info 0 >/dev/null 2>&1 && pw-cli ls Node 2>/dev/null | grep -q "Dummy-Driver"; then
    pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=tastivo-null
      media.class=Audio/Sink object.linger=true audio.position=[FL FR] }' \
      >"$runtime/null-sink.log" 2>&1 && made=1 && break
  fi
  sleep 0.1
done
((made)) || { echo "run_under_pipewire: no null sink could be made" >&2; exit 1; }
if command -v pipewire-pulse >/dev/null; then
  pipewire-pulse >"$runtime/pipewire-pulse.log" 2>&1 &
  pp_pid=$!
  export PULSE_SERVER="unix:$runtime/pulse/native"
  for _ in $(seq 1 100); do
    [[ -S "$runtime/pulse/native" ]] && break
    sleep 0.1
  done
fi
# JACK clients keep running while nothing is linked to them, as they do on
# a JACK server, so a source's first notes are not lost to a sleeping graph.
export PIPEWIRE_PROPS="{ node.always-process=true }"
pw-jack "$@"
