#!/usr/bin/env bash
# Renders the desktop icon packaging/lifesim.png from the program's own
# picture: six by six cells of the mode-1 screenshot (docs/mode1.png), cut
# along the grid lines pixel for pixel and centred on 64 x 64 black, so no
# line is blurred by scaling. Needs ImageMagick (in tools/packages.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
# The grid's lines lie at x = 10 + 10k and y = 20 + 10k: (200, 70) is a
# corner, and 61 pixels take in six cells and both closing lines.
convert docs/mode1.png -crop 61x61+200+70 +repage \
  -background black -gravity center -extent 64x64 -strip packaging/lifesim.png
