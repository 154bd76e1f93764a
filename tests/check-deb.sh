#!/usr/bin/env bash
# cpack -G DEB builds the Debian package: computed dependencies, the programs, the menu
# entry, the icon and the metainfo under /usr, and nothing of the tests.
# Usage: check-deb.sh BUILD_DIR SCRATCH_DIR
set -uo pipefail
build=$1 out=$2
id=io.github.veresk.veresk
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" -G DEB >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; echo "FAIL: cpack"; exit 1; }
debs=("$out"/veresk_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { ls "$out"; echo "FAIL: no single veresk_*.deb"; exit 1; }
deb=${debs[0]}
fail=0
bad() { echo "FAIL: $*"; fail=1; }
dpkg-deb -f "$deb" Package Version Architecture Maintainer Section Depends
depends=$(dpkg-deb -f "$deb" Depends)
# The libraries the programs link, as dpkg-shlibdeps found them (on Linux the serial
# port is reached through termios, so Qt SerialPort is not among them).
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6 libjpeg62-turbo libmosquitto1; do
  tr ',' '\n' <<<"$depends" | awk '{print $1}' | grep -qxF "$lib" || bad "Depends lacks $lib"
done
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || bad "no Maintainer"
[ "$(dpkg-deb -f "$deb" Section)" = science ] || bad "Section is not science"
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/veresk ./usr/bin/veresk-sim ./usr/bin/veresk-cli ./usr/share/applications/$id.desktop \
         ./usr/share/metainfo/$id.metainfo.xml ./usr/share/icons/hicolor/scalable/apps/veresk.svg \
         ./usr/share/icons/hicolor/48x48/apps/veresk.png; do
  grep -qx "$f" <<<"$contents" || bad "the package lacks $f"
done
grep -E "test_|bench" <<<"$contents" && bad "the package holds tests or benchmarks"
[ $fail -eq 0 ] && echo "built $(basename "$deb")"
exit $fail
