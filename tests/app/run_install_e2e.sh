#!/usr/bin/env bash
# Installs Tastivo into a temporary root (DESTDIR) the way a package does,
# and runs the installed program on X with a window manager: started with a
# set file, as a file manager starts it, the set opens in the first window's
# set editor and comes back at the next start; and the manual opens from its
# installed place, there being none next to the installed program.
# Usage: run_install_e2e.sh <build-dir> <version>
set -euo pipefail
build="$1"
version="$2"
source "$(dirname "$0")/desktop_session.sh"
fail() {
  echo "FAILED: $*" >&2
  [[ -f "$work/app.log" ]] && sed 's/^/  | /' "$work/app.log" >&2
  exit 1
}
passed=0
ok() { passed=$((passed + 1)); echo "ok: $*"; }

root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }
id=org.tastivo.Tastivo
for file in bin/tastivo share/tastivo/tastivo.qhc share/tastivo/tastivo.qch \
  share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg \
  share/icons/hicolor/16x16/apps/$id.png share/icons/hicolor/48x48/apps/$id.png \
  share/icons/hicolor/256x256/apps/$id.png share/mime/packages/tastivo.xml \
  share/metainfo/$id.metainfo.xml share/man/man1/tastivo.1.gz share/doc/tastivo/copyright; do
  [[ -s "$root/usr/$file" ]] || fail "not installed: usr/$file"
done
for size in 16 48 256; do
  file -b "$root/usr/share/icons/hicolor/${size}x$size/apps/$id.png" | grep -q "^PNG image data, $size x $size," ||
    fail "the ${size}x$size icon is not a PNG of that size"
done
ok "installed layout"
app="$root/usr/bin/tastivo"
[[ ! -e "$root/usr/bin/tastivo.qhc" ]] || fail "the manual sits next to the installed program"
[[ "$("$app" --version)" == "tastivo $version" ]] || fail "--version of the installed program"
ok "installed --version"

mkdir -p "$work/My shows"
set_file="$work/My shows/live.wql"
# Two rows: a label and no clip each.
printf '5\r\r\n2\r\r\nKick\r\r\n\r\r\n0\r\r\n10000\r\r\n100\r\r\nSnare\r\r\n\r\r\n0\r\r\n10000\r\r\n100\r\r\n' >"$set_file"

start_window_manager

wait_window() {  # <title> [prefix]: prints the id of the window with that title
  local regex
  regex="^$(printf '%s' "$1" | sed 's/[][\.*^$+?(){}|/]/\\&/g')"
  [[ "${2:-}" == prefix ]] || regex+='$'
  wait_window_matching "$regex"
}
no_warning() {
  ! xdotool search --onlyvisible --name '^Tastivo:  Warning$' >/dev/null 2>&1 || fail "a warning is shown"
}
quit_window() {  # <window id>
  wmctrl -i -c "$1"
  for _ in $(seq 1 200); do
    kill -0 "$app_pid" 2>/dev/null || { wait "$app_pid" || true; app_pid=""; return 0; }
    sleep 0.05
  done
  fail "Tastivo did not end"
}

# Started from another folder with a relative name, as a terminal user does.
(cd "$work/My shows" && exec "$app" live.wql) >"$work/app.log" 2>&1 &
app_pid=$!
win=$(wait_window Tastivo) || fail "no keyboard window"
# Desktops group the window under the menu entry by its class.
wm_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/$id.desktop")
xprop -id "$win" WM_CLASS | grep -qF "\"$wm_class\"" || fail "the window's class is not '$wm_class'"
# The Configuration button shows the set editor, whose caption names the set
# it loaded.
xdotool mousemove --window "$win" 168 51 click 1
wait_window "$set_file" >/dev/null || fail "the set editor does not show $set_file"
no_warning
ok "tastivo live.wql opens the set"
quit_window "$win"
grep -qF "last=sz:$set_file" "$ini" || { cat "$ini" >&2; fail "the set is not the window's last set"; }
ok "the set is the one to come back"

# Without arguments the window comes back with that set, and the installed
# manual opens: the caption bar's Help button shows the about window, whose
# "Help" button opens the manual.
"$app" >"$work/app.log" 2>&1 &
app_pid=$!
win=$(wait_window Tastivo) || fail "no keyboard window at the next start"
xdotool mousemove --window "$win" 168 51 click 1
wait_window "$set_file" >/dev/null || fail "the set did not come back"
ok "the set came back without arguments"
xdotool mousemove --window "$win" 575 21 click 1
about=$(wait_window Help) || fail "no about window"
xdotool windowactivate --sync "$about" key --clearmodifiers Tab space
# The viewer's caption goes on with the page's title.
wait_window "Tastivo Help - " prefix >/dev/null || fail "the manual did not open"
no_warning
ok "the installed manual opens"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""
echo "$passed passed, 0 failed"
