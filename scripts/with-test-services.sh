#!/usr/bin/env bash
# Runs a command with the services the tests need: a JACK server on the dummy
# driver (MIDI ports and an audio sink without a sound card) and an X display
# (Xvfb). Both are stopped afterwards.
set -uo pipefail
export JACK_NO_AUDIO_RESERVATION=1
# A server of its own per run, so parallel runs never share or stop each
# other's server.
export JACK_DEFAULT_SERVER="${JACK_DEFAULT_SERVER:-tastivo-test-$$}"
jack_pid=""
cleanup() {
  if [[ -n "$jack_pid" ]]; then kill "$jack_pid" 2>/dev/null; wait "$jack_pid" 2>/dev/null; fi
}
trap cleanup EXIT
if command -v jackd >/dev/null; then
  jackd -n "$JACK_DEFAULT_SERVER" -r -d dummy -r 48000 -p 256 >/tmp/tastivo-jackd.log 2>&1 &
  jack_pid=$!
  for _ in $(seq 1 100); do
    jack_lsp -s "$JACK_DEFAULT_SERVER" >/dev/null 2>&1 && break
    sleep 0.1
  done
fi
if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
else
  "$@"
fi
