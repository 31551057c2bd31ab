#!/usr/bin/env bash
# Runs a command with the services the tests need: a JACK server on the dummy
# driver (MIDI ports and an audio sink without a sound card), a PulseAudio
# server on a null sink, and an X display (Xvfb). Both are stopped afterwards. Each run has a server, a display and a
# log folder of its own, so parallel runs and other users never collide.
# TASTIVO_SERVICES_DIR names the log folder (default: a fresh one under
# build/services/).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
own_dir=0
if [[ -z "${TASTIVO_SERVICES_DIR:-}" ]]; then
  own_dir=1
  mkdir -p "$root/build/services"
  TASTIVO_SERVICES_DIR="$(mktemp -d "$root/build/services/run.XXXXXX")"
fi
export TASTIVO_SERVICES_DIR
mkdir -p "$TASTIVO_SERVICES_DIR"
export JACK_NO_AUDIO_RESERVATION=1
jack_pid=""
xvfb_pid=""
pulse_pid=""
pulse_dir=""
cleanup() {
  local status=$?
  if [[ -n "$pulse_pid" ]]; then kill "$pulse_pid" 2>/dev/null; wait "$pulse_pid" 2>/dev/null; fi
  [[ -n "$pulse_dir" ]] && rm -rf "$pulse_dir"
  if [[ -n "$jack_pid" ]]; then kill "$jack_pid" 2>/dev/null; wait "$jack_pid" 2>/dev/null; fi
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  # The logs of a run that went well are of no use; a failed run keeps them.
  ((status == 0 && own_dir)) && rm -rf "$TASTIVO_SERVICES_DIR"
  return "$status"
}
trap cleanup EXIT

fail() {
  echo "with-test-services: $1" >&2
  [[ -f "${2:-}" ]] && sed 's/^/  | /' "$2" >&2
  exit 1
}

command -v jackd >/dev/null || fail "jackd is not installed (package jackd2); run scripts/install-deps.sh"
# JACK keeps one table of eight servers for the whole machine. A server that
# dies without its shutdown leaves its entry behind, and only a server of the
# same name takes it back: so names come from a pool of eight, and when no
# JACK server runs at all, entries left by dead ones are cleared.
if ! pgrep -x jackd >/dev/null && ! pgrep -x jackdbus >/dev/null; then
  find /dev/shm -maxdepth 1 -user "$(id -u)" \( -name 'jack-shm-registry' -o -name "jack_*" \) \
    -delete 2>/dev/null
fi
jack_log="$TASTIVO_SERVICES_DIR/jackd.log"
# The server runs with real-time scheduling, as on an audio desktop, where
# the machine allows it; without it elsewhere. TASTIVO_JACK_REALTIME=0 asks
# for a server without it.
realtime=(-r)
jack_mode="without real-time scheduling"
if [[ "${TASTIVO_JACK_REALTIME:-1}" != 0 ]] && command -v chrt >/dev/null && chrt -f 1 true 2>/dev/null; then
  realtime=(-R)
  jack_mode="with real-time scheduling"
fi
up=0
names=(tastivo-test-{0..7})
# Inside another run of this script its server is used as it is.
if [[ -n "${JACK_DEFAULT_SERVER:-}" ]] && jack_lsp -s "$JACK_DEFAULT_SERVER" >/dev/null 2>&1; then
  names=()
  up=1
  name="$JACK_DEFAULT_SERVER"
fi
for candidate in "${names[@]}"; do
  name="$candidate"
  # A name another run's server answers to is taken.
  jack_lsp -s "$name" >/dev/null 2>&1 && continue
  jackd -n "$name" "${realtime[@]}" -d dummy -r 48000 -p 256 >"$jack_log" 2>&1 &
  jack_pid=$!
  for _ in $(seq 1 100); do
    kill -0 "$jack_pid" 2>/dev/null || break
    if jack_lsp -s "$name" >/dev/null 2>&1; then up=1; break; fi
    sleep 0.1
  done
  # Up, and ours: a server of another run that took the name at the same
  # moment would answer too.
  ((up)) && sleep 0.2 && kill -0 "$jack_pid" 2>/dev/null && break
  up=0
  kill "$jack_pid" 2>/dev/null
  wait "$jack_pid" 2>/dev/null
  jack_pid=""
done
((up)) || fail "no JACK dummy server came up; the log of the last try:" "$jack_log"
export JACK_DEFAULT_SERVER="$name"
[[ -n "$jack_pid" ]] && echo "with-test-services: JACK server $name $jack_mode" >&2

# A PulseAudio server of this run's own, on a null sink at 48 kHz whose
# monitor the tests record. Its socket lives in a short folder of its own
# (a socket's path is limited to about 100 bytes).
if [[ -z "${PULSE_SERVER:-}" ]]; then
  command -v pulseaudio >/dev/null || fail "pulseaudio is not installed; run scripts/install-deps.sh"
  pulse_dir="$(mktemp -d /tmp/tastivo-pulse.XXXXXX)"
  pulse_log="$TASTIVO_SERVICES_DIR/pulseaudio.log"
  PULSE_RUNTIME_PATH="$pulse_dir" PULSE_STATE_PATH="$pulse_dir" HOME="$pulse_dir" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
    -L "module-native-protocol-unix socket=$pulse_dir/native auth-anonymous=1" \
    -L "module-null-sink sink_name=tastivo_test format=float32le rate=48000 channels=2" \
    >"$pulse_log" 2>&1 &
  pulse_pid=$!
  export PULSE_SERVER="unix:$pulse_dir/native"
  up=0
  for _ in $(seq 1 100); do
    kill -0 "$pulse_pid" 2>/dev/null || break
    if pactl info >/dev/null 2>&1; then up=1; break; fi
    sleep 0.1
  done
  ((up)) || fail "no PulseAudio server came up; its log:" "$pulse_log"
fi

if [[ -z "${DISPLAY:-}" ]]; then
  command -v Xvfb >/dev/null || fail "Xvfb is not installed (package xvfb); run scripts/install-deps.sh"
  xvfb_log="$TASTIVO_SERVICES_DIR/xvfb.log"
  display_file="$TASTIVO_SERVICES_DIR/display"
  # -displayfd picks a free display number and writes it once the server
  # accepts connections.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >"$xvfb_log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [[ -s "$display_file" ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [[ -s "$display_file" ]] || fail "Xvfb did not come up; its log:" "$xvfb_log"
  export DISPLAY=":$(tr -d '[:space:]' <"$display_file")"
fi

"$@"
