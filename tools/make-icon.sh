#!/usr/bin/env bash
# Renders the desktop icon in every hicolor size from its one source,
# packaging/lifesim.svg: packaging/icons/NxN.png with the tile's transparent
# surround kept (8-bit RGBA). The PNGs are committed, so a build needs no
# SVG renderer; run this after changing the SVG. An optional argument
# writes the PNGs into another folder (the packaging test compares them).
# Needs rsvg-convert (librsvg2-bin, in tools/packages.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-packaging/icons}
mkdir -p "$out"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --format png \
    --output "$out/${size}x${size}.png" packaging/lifesim.svg
done
