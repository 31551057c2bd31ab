#!/usr/bin/env bash
# The files that make Tastivo a desktop program, checked by the tools that
# desktops and distributions check them with, and the program's command
# line as a menu entry or a file manager uses it.
# Usage: run_desktop_files_test.sh <source-dir> <build-dir> <tastivo> <version>
set -uo pipefail
src="$1"
build="$2"
app="$3"
version="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
id=org.tastivo.Tastivo
desktop="$src/packaging/$id.desktop"
metainfo="$build/packaging/$id.metainfo.xml"
mime="$src/packaging/tastivo.xml"
man="$build/packaging/tastivo.1.gz"
source "$(dirname "$0")/checks.sh"
entry() { sed -n "s/^$1=//p" "$desktop"; }

# The menu entry: valid, and consistent with the file type and the icon.
check "desktop-file-validate" bash -c "out=\$(desktop-file-validate '$desktop') && [[ -z \"\$out\" ]] || { echo \"\$out\"; exit 1; }"
check "menu categories" test "$(entry Categories)" = "AudioVideo;Audio;Video;Music;"
check "menu entry opens .wql files" test "$(entry MimeType)" = "application/x-tastivo-set;"
check "the file manager passes the file" test "$(entry Exec)" = "tastivo %f"
check "menu icon is installed under that name" test "$(entry Icon)" = "$id"
check "MIME file declares the entry's type" grep -q 'type="application/x-tastivo-set"' "$mime"

# AppStream: no errors, and pointing at the menu entry and the icon.
check "appstreamcli validate" appstreamcli validate --no-net "$metainfo"
check "metainfo launches the menu entry" grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo"
check "metainfo tells this version" grep -q "<release version=\"$version\"" "$metainfo"

# The file type: well formed, accepted by the MIME database, and a set file
# is recognised by its name and, without the extension, by its first line.
check "xmllint" xmllint --noout "$mime"
mkdir -p "$work/data/mime/packages"
cp "$mime" "$work/data/mime/packages/"
check "update-mime-database" bash -c "out=\$(XDG_DATA_HOME='$work/data' update-mime-database '$work/data/mime' 2>&1) && [[ -z \"\$out\" ]] || { echo \"\$out\"; exit 1; }"
printf '5\r\r\n77\r\r\n' >"$work/set-without-extension"
printf 'anything\n' >"$work/named.wql"
printf '55 bottles\n' >"$work/not-a-set"
type_of() { XDG_DATA_HOME="$work/data" XDG_DATA_DIRS=/usr/share gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'; }
check "a .wql file is a set" test "$(type_of "$work/named.wql")" = application/x-tastivo-set
check "a set is known by its first line" test "$(type_of "$work/set-without-extension")" = application/x-tastivo-set
check "other text is not a set" test "$(type_of "$work/not-a-set")" != application/x-tastivo-set

# The man page renders without warnings and tells this version.
check "man -l renders" bash -c "man -l '$man' | grep -q 'tastivo \\[SET.wql\\]'"
check "man page without warnings" bash -c "out=\$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '$man' 2>&1 >/dev/null) && [[ -z \"\$out\" ]] || { echo \"\$out\"; exit 1; }"
check "man page tells this version" bash -c "man -l '$man' | grep -q 'Tastivo $version'"

# The command line. Outside a desktop session on purpose: --help, --version
# and refused arguments must not need one, and must come before any window.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" "$@" >"$work/out" 2>"$work/err"; echo $?; }
check "--version" bash -c "[[ \$('$app' --version) == 'tastivo $version' ]]"
status=$(run --help)
check "--help prints the usage" bash -c "[[ $status == 0 ]] && head -n 1 '$work/out' | grep -qx 'Usage: tastivo \\[SET.wql\\]' && [[ ! -s '$work/err' ]]"
one_line_error() {  # <expected status> <expected text> <arguments...>
  local want="$1" text="$2"
  shift 2
  local status
  status=$(run "$@")
  [[ "$status" == "$want" ]] || { echo "status $status, expected $want"; cat "$work/err"; return 1; }
  [[ ! -s "$work/out" ]] || { echo "printed on standard output:"; cat "$work/out"; return 1; }
  [[ "$(wc -l <"$work/err")" == 1 ]] || { echo "not one line:"; cat "$work/err"; return 1; }
  grep -qF -- "$text" "$work/err" || { echo "expected '$text' in:"; cat "$work/err"; return 1; }
}
mkdir "$work/folder.wql"
check "unknown option" one_line_error 2 "tastivo: unknown option --bogus" --bogus
check "two set files" one_line_error 2 "tastivo: one set file at a time" a.wql b.wql
check "missing set file" one_line_error 1 "tastivo: $work/gone.wql: no such file" "$work/gone.wql"
check "folder as set file" one_line_error 1 "is a folder, not a set file" "$work/folder.wql"
in_folder() { (cd "$1" && shift && "$@"); }
check "a relative set file is named in full" in_folder "$work" one_line_error 1 "$work/gone.wql: no such file" gone.wql

finish
