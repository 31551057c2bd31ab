#!/usr/bin/env bash
# Configures and builds into build/ (kept between runs; ccache speeds rebuilds).
# Usage: scripts/build.sh [build-dir] [extra cmake args...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
shift || true
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/tastivo-ccache}"
# Paths relative to the checkout, so other build folders and clones share
# the cache.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
werror=OFF
if [[ "${CI:-}" == "true" || "${TASTIVO_WERROR:-}" == "1" ]]; then werror=ON; fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DTASTIVO_WERROR=$werror "$@" >/dev/null
# TASTIVO_TARGET builds one target (and what it needs) instead of everything.
cmake --build "$build" -j"$(nproc)" ${TASTIVO_TARGET:+--target "$TASTIVO_TARGET"}
