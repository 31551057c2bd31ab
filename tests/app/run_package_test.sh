#!/usr/bin/env bash
# Packs the build as a Debian package (cpack -G DEB) and checks it the way
# Debian would: its contents, its dependencies, and lintian without errors.
# Packs what the build folder holds; ctest brings the program up to date
# first (desktop_package_build).
# Usage: run_package_test.sh <build-dir> <version>
set -uo pipefail
build="$1"
version="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; failed=1; finish; }
deb="$work/out/tastivo_${version}_$(dpkg --print-architecture).deb"
check "package named tastivo_<version>_<arch>.deb" test -s "$deb"
[[ -s "$deb" ]] || finish

dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' >"$work/contents"
id=org.tastivo.Tastivo
for file in usr/bin/tastivo usr/share/tastivo/tastivo.qhc usr/share/tastivo/tastivo.qch \
  usr/share/applications/$id.desktop usr/share/icons/hicolor/scalable/apps/$id.svg \
  usr/share/icons/hicolor/48x48/apps/$id.png usr/share/mime/packages/tastivo.xml \
  usr/share/metainfo/$id.metainfo.xml usr/share/man/man1/tastivo.1.gz \
  usr/share/doc/tastivo/copyright usr/share/doc/tastivo/changelog.gz; do
  check "contains $file" grep -qE "^-rw[-r]+ root/root \./$file\$|^-rwxr-xr-x root/root \./$file\$" "$work/contents"
done
check "the program is executable" grep -qx -- "-rwxr-xr-x root/root ./usr/bin/tastivo" "$work/contents"
check "nothing outside /usr" bash -c "! grep -v ' \./usr/' '$work/contents' | grep -v ' \./\$'"

field() { dpkg-deb -f "$deb" "$1" | tr ',' '\n' | sed 's/^ *//'; }
field Depends >"$work/depends"
field Recommends >"$work/recommends"
# From the libraries the program links (dpkg-shlibdeps) ...
for lib in libqt6core6 libqt6widgets6 libqt6network6 libqt6help6 libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 \
  librtmidi6 libzip4 libc6 libstdc++6; do
  check "depends on $lib" grep -q "^$lib\\b" "$work/depends"
done
# ... and what it loads at run time without linking to it.
for pkg in qt6-qpa-plugins libqt6sql6-sqlite gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  gstreamer1.0-plugins-bad gstreamer1.0-libav gstreamer1.0-alsa; do
  check "depends on $pkg" grep -qx "$pkg" "$work/depends"
done
check "depends on a General MIDI soundfont" grep -qx "timgm6mb-soundfont | sf2-soundfont-gm" "$work/depends"
check "recommends the JACK server" grep -qx "jackd2" "$work/recommends"
check "version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "the program is stripped" bash -c "dpkg-deb --fsys-tarfile '$deb' | tar -xO ./usr/bin/tastivo >'$work/tastivo' && file -b '$work/tastivo' | grep -q ', stripped'"

# lintian prints its tags; errors fail the test, warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
status=$?
grep -E '^[EW]: ' "$work/lintian"
check "lintian finds no errors" bash -c "[[ $status == 0 ]] && ! grep -q '^E: ' '$work/lintian'"
finish
