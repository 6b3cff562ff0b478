#!/usr/bin/env bash
# Endurance run: lifesim at maximum speed for MINUTES minutes (default 30),
# switching render modes every minute, on the project's test X server. Prints
# the resident memory and the runtime's bytes in use about every ten seconds
# (from LIFESIM_DEBUG_MEMORY) as CSV: frame,rss_kb,bytes_in_use.
#
#   bash tools/endurance.sh [MINUTES]
set -euo pipefail
cd "$(dirname "$0")/.."
MINUTES=${1:-30}
LIFESIM=${LIFESIM:-$PWD/build/app/lifesim}
OUT=${ENDURANCE_LOG:-/tmp/lifesim-endurance.log}
bash tools/with-xserver.sh bash -c '
  minutes=$1; lifesim=$2; out=$3
  LIFESIM_DEBUG_MEMORY=600 "$lifesim" >/dev/null 2>"$out" & pid=$!
  sleep 3
  xdotool key s
  for m in $(seq "$minutes"); do
    sleep 60
    if [ $((m % 2)) -eq 1 ]; then xdotool key 2; else xdotool key 1; fi
    kill -0 $pid || { echo "lifesim ended early" >&2; exit 1; }
  done
  xdotool key Escape
  wait $pid
' _ "$MINUTES" "$LIFESIM" "$OUT"
status=$?
echo "frame,rss_kb,bytes_in_use"
sed -n "s/^lifesim-memory frame=\([0-9]*\) rss_kb=\([0-9]*\) bytes_in_use=\([0-9-]*\)$/\1,\2,\3/p" "$OUT"
exit $status
