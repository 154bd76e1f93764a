#!/usr/bin/env bash
# An install into a scratch prefix holds the programs, the menu entry, the icon in every
# size and the AppStream metainfo, and no test or benchmark program.
# Usage: check-install.sh BUILD_DIR SCRATCH_PREFIX SOURCE_DIR
set -uo pipefail
build=$1 prefix=$2 source=$3
id=io.github.veresk.veresk
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
fail=0
bad() { echo "FAIL: $*"; fail=1; }

expected=(bin/veresk bin/veresk-sim bin/veresk-cli share/doc/veresk/examples/veresk-cli-log.service
          share/applications/$id.desktop share/metainfo/$id.metainfo.xml
          share/icons/hicolor/scalable/apps/veresk.svg share/doc/veresk/LICENSE)
for size in 16 32 48 64 128 256; do
  png=share/icons/hicolor/${size}x${size}/apps/veresk.png
  expected+=("$png")
  [ -f "$prefix/$png" ] && ! file -b "$prefix/$png" | grep -q "^PNG image data, $size x $size," &&
    bad "$png is not a $size x $size PNG: $(file -b "$prefix/$png")"
done
for f in "${expected[@]}"; do [ -f "$prefix/$f" ] || bad "missing $f"; done
for f in bin/veresk bin/veresk-sim bin/veresk-cli; do [ -x "$prefix/$f" ] || bad "$f is not executable"; done
programs=$(cd "$prefix/bin" && ls | tr '\n' ' ')
[ "$programs" = "veresk veresk-cli veresk-sim " ] || bad "bin/ holds: $programs(only veresk, veresk-cli and veresk-sim belong there)"
# The entry starts an installed program and names an installed icon; the metainfo
# launches the entry.
entry=$prefix/share/applications/$id.desktop
grep -qx "Exec=veresk" "$entry" || bad "the entry does not run veresk"
grep -qx "Icon=veresk" "$entry" || bad "the entry does not show the veresk icon"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$prefix/share/metainfo/$id.metainfo.xml" ||
  bad "the metainfo does not launch $id.desktop"
# The metainfo's licences, and its screenshot is the one kept in the sources.
meta=$prefix/share/metainfo/$id.metainfo.xml
grep -q "<project_license>GPL-3.0-or-later</project_license>" "$meta" || bad "the program's licence is not GPL-3.0-or-later"
grep -q "<metadata_license>CC0-1.0</metadata_license>" "$meta" || bad "the metadata licence is not CC0-1.0"
shot=$(sed -n 's|.*<image>.*/main/\(data/screenshots/[^<]*\)</image>.*|\1|p' "$meta")
[ -n "$shot" ] && file -b "$source/$shot" | grep -q "^PNG image data" || bad "the screenshot ${shot:-?} is not a PNG in the sources"
cmp -s "$prefix/share/doc/veresk/LICENSE" /usr/share/common-licenses/GPL-3 || bad "LICENSE is not the GPL-3 text"
[ $fail -eq 0 ] && echo "installed: $(cd "$prefix" && find . -type f | wc -l) files"
exit $fail
