#!/usr/bin/env bash
# Starts and stops the headless Xorg the tests run against.
#
#   xserver.sh start [CONFIG]   start a server, print its display name (":N")
#   xserver.sh stop DISPLAY     stop a server this script started
#
# CONFIG is a path or a file name in tools/ (default xorg-dummy.conf). The
# server picks the first free display number itself (-displayfd), so several
# suites can start servers at the same time without racing for a number.
# The server's log is kept in $XSERVER_STATE_DIR (default
# /tmp/lifesim-xserver) as xorg-N.log next to xorg-N.pid.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
state_dir="${XSERVER_STATE_DIR:-/tmp/lifesim-xserver}"
start_timeout="${XSERVER_START_TIMEOUT:-30}"

die() { echo "xserver.sh: $*" >&2; exit 1; }

config_path() {
  local c="${1:-xorg-dummy.conf}"
  if [[ "$c" != /* ]]; then
    if [ -f "$c" ]; then c="$(cd "$(dirname "$c")" && pwd)/$(basename "$c")"
    else c="$here/$c"; fi
  fi
  [ -f "$c" ] || die "no such configuration: $c"
  echo "$c"
}

answers() { DISPLAY="$1" xdpyinfo >/dev/null 2>&1; }

start() {
  local config; config="$(config_path "${1:-}")"
  command -v Xorg >/dev/null || die "Xorg is not installed (run tools/packages.sh)"
  command -v xdpyinfo >/dev/null || die "xdpyinfo is not installed (run tools/packages.sh)"
  mkdir -p "$state_dir"
  local tmp; tmp="$(mktemp -d "$state_dir/start.XXXXXX")"
  mkfifo "$tmp/displayfd"
  # Xorg writes the display number to fd 3 once it accepts connections.
  # setsid keeps it out of the caller's process group and terminal, so a
  # Ctrl-C meant for a test does not take the server down mid-run.
  setsid Xorg -displayfd 3 -novtswitch -sharevts -noreset -nolisten tcp \
      -config "$config" -logfile "$tmp/xorg.log" \
      3>"$tmp/displayfd" </dev/null >"$tmp/xorg.out" 2>&1 &
  local pid=$!
  local num=""
  # The read gives up when Xorg dies (the fifo's writer closes) or times out.
  read -r -t "$start_timeout" num <"$tmp/displayfd" || true
  if [ -z "$num" ] || ! kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    echo "xserver.sh: Xorg did not start; end of its log:" >&2
    tail -n 30 "$tmp/xorg.log" "$tmp/xorg.out" >&2 2>/dev/null || true
    exit 1
  fi
  local display=":$num"
  local waited=0
  until answers "$display"; do
    sleep 0.1
    waited=$((waited + 1))
    if [ "$waited" -ge $((start_timeout * 10)) ] || ! kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      die "Xorg on $display does not answer; see $tmp/xorg.log"
    fi
  done
  mv "$tmp/xorg.log" "$state_dir/xorg-$num.log"
  mv "$tmp/xorg.out" "$state_dir/xorg-$num.out"
  echo "$pid" >"$state_dir/xorg-$num.pid.tmp"
  mv "$state_dir/xorg-$num.pid.tmp" "$state_dir/xorg-$num.pid"
  rm -rf "$tmp"
  echo "$display"
}

# True while the process runs; a zombie waiting to be reaped has stopped.
running() {
  local stat
  stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
  stat="${stat##*) }"  # the state letter follows the command name
  [[ -n "$stat" && "$stat" != Z* ]]
}

stop() {
  local display="${1:-}"
  [ -n "$display" ] || die "usage: xserver.sh stop DISPLAY"
  local num="${display#*:}"; num="${num%%.*}"
  [[ "$num" =~ ^[0-9]+$ ]] || die "not a display name: $display"
  local pidfile="$state_dir/xorg-$num.pid"
  [ -f "$pidfile" ] || die "no server of ours on :$num"
  local pid; pid="$(cat "$pidfile")"
  # XSERVER_PID names the server the caller started: if that one is gone and
  # another has taken the number since, the other is left alone.
  if [ -n "${XSERVER_PID:-}" ] && [ "$pid" != "$XSERVER_PID" ]; then
    die "the server on :$num is no longer the one started as $XSERVER_PID"
  fi
  if running "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    local i
    for i in $(seq 100); do
      running "$pid" || break
      sleep 0.1
    done
    if running "$pid"; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  # Only our own record: a new server may already have the number.
  if [ "$(cat "$pidfile" 2>/dev/null)" = "$pid" ]; then rm -f "$pidfile"; fi
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: xserver.sh start [CONFIG] | stop DISPLAY" >&2; exit 2 ;;
esac
