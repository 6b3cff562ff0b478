#!/usr/bin/env bash
# Endurance run: lifesim on the project's test X server for a given length,
# pressing keys in a fixed pattern, with its resident memory sampled from
# /proc once per interval (a minute by default).
#
#   bash tools/endurance.sh [options] [MINUTES]
#
#   --minutes M   length of the run (default 30; also the positional MINUTES)
#   --modes N     switch render mode (2, 1, 2, ...) every N seconds (default 60; 0 never)
#   --space N     press Space (reseed) every N seconds (default 0: never)
#   --speed S     max or normal (default max)
#   --sample N    seconds between samples (default 60)
#   --settle M    minutes left out of the growth figure (default 10)
#   --smaps F     also write, per sample, the resident memory per kind of
#                 mapping (tools/smaps_summary.py) to F
#
# Prints CSV, one line a sample: seconds,rss_kb,bytes_in_use (the runtime's
# own, from LIFESIM_DEBUG_MEMORY), then the growth per hour after the settle
# time: a least-squares slope over the samples from then on, and the plain
# difference of the last and first such samples.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=30 modes=60 space=0 speed=max sample=60 settle=10 smaps=
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=$2; shift 2 ;;
    --modes) modes=$2; shift 2 ;;
    --space) space=$2; shift 2 ;;
    --speed) speed=$2; shift 2 ;;
    --sample) sample=$2; shift 2 ;;
    --settle) settle=$2; shift 2 ;;
    --smaps) smaps=$2; shift 2 ;;
    [0-9]*) minutes=$1; shift ;;
    *) echo "endurance.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
case $speed in max | normal) ;; *) echo "endurance.sh: --speed is max or normal" >&2; exit 2 ;; esac
for n in "$minutes" "$modes" "$space" "$sample" "$settle"; do
  [[ $n =~ ^[0-9]+$ ]] || { echo "endurance.sh: '$n' is not a whole number" >&2; exit 2; }
done
[ "$sample" -gt 0 ] || { echo "endurance.sh: --sample must be above 0" >&2; exit 2; }
LIFESIM=${LIFESIM:-$PWD/build/app/lifesim}
OUT=${ENDURANCE_LOG:-/tmp/lifesim-endurance.log}
CSV=$(mktemp)
trap 'rm -f "$CSV"' EXIT
[ -z "$smaps" ] || : >"$smaps"

# Runs on the test server: starts lifesim, then once a second presses what
# is due and samples what is due, until the length is over.
run() {
  LIFESIM_DEBUG_MEMORY=60 "$LIFESIM" >/dev/null 2>"$OUT" &
  local pid=$! mode=2 t=0 start
  sleep 3
  [ "$speed" = normal ] || xdotool key s
  start=$SECONDS
  while [ "$t" -lt $((minutes * 60)) ]; do
    # Whole seconds from the start, none skipped when a step runs late.
    t=$((t + 1))
    while [ $((SECONDS - start)) -lt "$t" ]; do sleep 0.2; done
    kill -0 $pid 2>/dev/null || { echo "endurance.sh: lifesim ended early" >&2; return 1; }
    if [ "$modes" -gt 0 ] && [ $((t % modes)) -eq 0 ]; then
      xdotool key "$mode"
      mode=$((3 - mode))
    fi
    if [ "$space" -gt 0 ] && [ $((t % space)) -eq 0 ]; then xdotool key space; fi
    if [ $((t % sample)) -eq 0 ]; then
      local rss inuse
      rss=$(awk '/^VmRSS:/ {print $2}' /proc/$pid/status)
      inuse=$(sed -n 's/^lifesim-memory .* bytes_in_use=\([0-9-]*\)$/\1/p' "$OUT" | tail -n 1)
      echo "$t,$rss,${inuse:-}" | tee -a "$CSV"
      [ -z "$smaps" ] || { echo "t=$t"; python3 tools/smaps_summary.py $pid; } >>"$smaps"
    fi
  done
  xdotool key Escape
  wait $pid
}
export -f run
export LIFESIM OUT CSV minutes modes space speed sample smaps
echo "seconds,rss_kb,bytes_in_use"
status=0
bash tools/with-xserver.sh bash -c run || status=$?
awk -F, -v from=$((settle * 60)) '
  $1 >= from { n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2
               if (n == 1) { t0 = $1; r0 = $2 } t1 = $1; r1 = $2 }
  END {
    if (n < 2) { print "growth: fewer than two samples after the settle time"; exit }
    slope = (n * sxy - sx * sy) / (n * sxx - sx * sx)
    printf "growth after %d s: %.0f KB per hour (fit over %d samples); %d -> %d KB, %+.0f KB per hour\n",
           from, slope * 3600, n, r0, r1, (r1 - r0) * 3600 / (t1 - t0)
  }' "$CSV"
exit $status
