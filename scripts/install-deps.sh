#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing, and
# with --tests those of scripts/packages-test.txt too.
# As root it runs apt-get itself; a user with sudo gets it through sudo; a
# user without sudo is told what to install and by which command.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
lists=("$here/packages.txt")
[[ "${1:-}" == "--tests" ]] && lists+=("$here/packages-test.txt")
mapfile -t wanted < <(cat "${lists[@]}" | grep -v -E '^\s*(#|$)')
missing=()
for pkg in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#wanted[@]} packages present"
  exit 0
fi

apt=(apt-get)
if [[ "$(id -u)" -ne 0 ]]; then
  # sudo -n: never stop at a password prompt inside a build; a user whose
  # sudo wants a password is told the command, like a user without sudo.
  if command -v sudo >/dev/null 2>&1 && sudo -n true >/dev/null 2>&1; then
    apt=(sudo -n -E apt-get)
  else
    echo "install-deps: missing packages: ${missing[*]}; install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${apt[@]}" update -q
"${apt[@]}" install -y -q --no-install-recommends "${missing[@]}"
