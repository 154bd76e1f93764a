#!/usr/bin/env bash
# Installs what Veresk needs from Debian's packages (when something is missing) and
# builds it into build/.  Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t packages < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' scripts/packages.txt | grep -v '^$')
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
