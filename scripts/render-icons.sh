#!/usr/bin/env bash
# Renders the program's icon (data/icons/veresk.svg) into the PNG sizes that are kept
# next to it, installed into the hicolor theme and compiled into the program.
# Run it after changing the drawing (rsvg-convert: Debian's librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" veresk.svg -o "veresk-$size.png"
done
