#!/usr/bin/env bash
# Runs scripts/install-deps.sh against stand-ins for dpkg-query, apt-get,
# sudo and id, on a PATH that holds nothing else the script could reach, and
# checks what it asked of apt-get in each of the real cases.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
script="$root/scripts/install-deps.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

# A package list of three, so "exactly the missing one" means something.
mkdir -p "$work/scripts"
cp "$script" "$work/scripts/install-deps.sh"
printf '# test list\nalpha\n\nbeta\ngamma\n' >"$work/scripts/packages.txt"
# What only the tests need, installed with --tests alone.
printf '# for the tests\ndelta\n' >"$work/scripts/packages-test.txt"

# make_bin <uid> <sudo: none|works|refuses> <installed packages...>
make_bin() {
  local uid="$1" sudo_mode="$2"
  shift 2
  bin="$work/bin-$RANDOM$RANDOM"
  mkdir -p "$bin"
  for tool in bash env grep dirname cat; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
  log="$bin/calls.log"
  : >"$log"
  printf '%s\n' "$@" >"$bin/installed"
  cat >"$bin/dpkg-query" <<STUB
#!$(command -v bash)
pkg="\${@: -1}"
if grep -qx "\$pkg" "$bin/installed"; then printf 'install ok installed'; exit 0; fi
echo "dpkg-query: no packages found matching \$pkg" >&2
exit 1
STUB
  cat >"$bin/apt-get" <<STUB
#!$(command -v bash)
echo "apt-get \$* [uid=\${STANDIN_UID:-$uid}]" >>"$log"
STUB
  cat >"$bin/id" <<STUB
#!$(command -v bash)
echo "\${STANDIN_UID:-$uid}"
STUB
  case "$sudo_mode" in
    works)
      cat >"$bin/sudo" <<STUB
#!$(command -v bash)
echo "sudo \$*" >>"$log"
while [[ "\$1" == -* ]]; do shift; done
STANDIN_UID=0 "\$@"
STUB
      ;;
    refuses)
      cat >"$bin/sudo" <<STUB
#!$(command -v bash)
echo "sudo \$*" >>"$log"
echo "sudo: a password is required" >&2
exit 1
STUB
      ;;
  esac
  chmod +x "$bin"/*
}

run() {
  out="$(PATH="$bin" "$work/scripts/install-deps.sh" "$@" 2>&1)"
  status=$?
}

check() {
  local name="$1"
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $name"
    echo "  exit $status, output: $out"
    echo "  calls:"
    sed 's/^/    /' "$log"
  fi
}

calls_are() {
  if (($# == 0)); then test ! -s "$log"; else diff <(printf '%s\n' "$@") "$log" >/dev/null; fi
}

# Root with one package missing: update, then exactly that package, no sudo.
make_bin 0 none alpha gamma
run
check "root installs exactly the missing package without sudo" \
  calls_are "apt-get update -q [uid=0]" \
  "apt-get install -y -q --no-install-recommends beta [uid=0]"
check "root install succeeds" test "$status" -eq 0

# Root on a machine that has sudo too: still no sudo.
make_bin 0 works alpha
run
check "root never goes through sudo" \
  calls_are "apt-get update -q [uid=0]" \
  "apt-get install -y -q --no-install-recommends beta gamma [uid=0]"

# A user with sudo: apt-get runs as root through sudo, never asking a password.
make_bin 1000 works alpha gamma
run
check "a user with sudo installs through sudo" \
  calls_are "sudo -n true" \
  "sudo -n -E apt-get update -q" "apt-get update -q [uid=0]" \
  "sudo -n -E apt-get install -y -q --no-install-recommends beta" \
  "apt-get install -y -q --no-install-recommends beta [uid=0]"
check "a user with sudo succeeds" test "$status" -eq 0

# A user without sudo: one line naming the packages and the command; no apt-get.
make_bin 1000 none alpha
run
check "a user without sudo is told what to run" \
  test "$out" == "install-deps: missing packages: beta gamma; install them with: sudo apt-get install beta gamma"
check "a user without sudo fails" test "$status" -ne 0
check "a user without sudo runs no apt-get" calls_are

# A user whose sudo wants a password is treated like one without sudo.
make_bin 1000 refuses alpha beta
run
check "a user whose sudo wants a password is told what to run" \
  test "$out" == "install-deps: missing packages: gamma; install them with: sudo apt-get install gamma"
check "a refused sudo fails" test "$status" -ne 0

# Nothing missing: no apt-get at all, as root or not.
for uid in 0 1000; do
  make_bin "$uid" none alpha beta gamma
  run
  check "nothing missing (uid $uid) runs nothing" calls_are
  check "nothing missing (uid $uid) succeeds" test "$status" -eq 0
done

# The tests' packages come only with --tests, after the others.
make_bin 0 none alpha gamma
run --tests
check "--tests installs the tests' packages too" \
  calls_are "apt-get update -q [uid=0]" \
  "apt-get install -y -q --no-install-recommends beta delta [uid=0]"
make_bin 0 none alpha beta gamma
run
check "without --tests the tests' packages are left alone" calls_are

# The real lists: what ./run.sh installs holds none of the tests' tools,
# servers and checkers, which a desktop must not gain by running the program.
packages_of() { grep -v -E '^\s*(#|$)' "$root/scripts/$1"; }
test_only=(xvfb xauth openbox xdotool wmctrl x11-utils procps lintian googletest libgtest-dev
  libgmock-dev clang-format clang libclang-rt-14-dev sox jackd2 pulseaudio pulseaudio-utils
  pipewire pipewire-bin pipewire-jack pipewire-pulse wireplumber dbus-daemon gstreamer1.0-tools
  desktop-file-utils appstream libxml2-utils man-db fakeroot file)
out="$(comm -12 <(packages_of packages.txt | sort -u) \
  <({ printf '%s\n' "${test_only[@]}"; packages_of packages-test.txt; } | sort -u))"
status=0
log=/dev/null
check "scripts/packages.txt holds no test-only package" test -z "$out"

echo "$passes passed, $failures failed"
((failures == 0))
