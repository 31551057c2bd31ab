#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tastivo.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/install-deps.sh"
TASTIVO_TARGET=tastivo "$root/scripts/build.sh" "$root/build"
exec "$root/build/bin/tastivo" "$@"
