#!/usr/bin/env bash
# Set-up, build, then run lifesim. With a DISPLAY it runs there (Escape
# quits). Without one it starts the project's test X server, runs lifesim
# there for ten seconds, saves a screenshot as PNG and stops everything.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
source tools/arch.sh
if ! arch_runs_here; then
  echo "$ARCH_NOT_RUN: lifesim was built into $BUILD_DIR but cannot run here." >&2
  exit 1
fi
LIFESIM=$PWD/$BUILD_DIR/app/lifesim
if [ -n "${DISPLAY:-}" ]; then
  exec "$LIFESIM" "$@"
fi
SHOT=${LIFESIM_SCREENSHOT:-$PWD/lifesim-screenshot.png}
bash tools/with-xserver.sh bash -c '
  "$0" >/dev/null & pid=$!
  sleep 10
  xwd -root -silent > /tmp/lifesim-shot.$$.xwd
  xdotool key Escape
  for i in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  python3 tools/xwdimage.py /tmp/lifesim-shot.$$.xwd "$1" 640x480
  rm -f /tmp/lifesim-shot.$$.xwd
' "$LIFESIM" "$SHOT"
echo "No DISPLAY was set, so lifesim ran for ten seconds on the project's own X server."
echo "Screenshot: $SHOT"
echo "To run it on your screen, start it from a desktop session: $LIFESIM (Escape quits)."
