#!/usr/bin/env bash
# Runs one command against a fresh headless Xorg:
#
#   with-xserver.sh COMMAND [ARGS...]
#
# Starts a server (configuration from $XSERVER_CONFIG, default
# xorg-dummy.conf), exports DISPLAY, runs the command, stops the server
# whatever the command did, and exits with the command's status.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ $# -eq 0 ]; then
  echo "usage: with-xserver.sh COMMAND [ARGS...]" >&2
  exit 2
fi

display="$("$here/xserver.sh" start "${XSERVER_CONFIG:-xorg-dummy.conf}")" || exit 1
state_dir="${XSERVER_STATE_DIR:-/tmp/lifesim-xserver}"
server_pid="$(cat "$state_dir/xorg-${display#:}.pid" 2>/dev/null || true)"
cleanup() { XSERVER_PID="$server_pid" "$here/xserver.sh" stop "$display" || true; }
trap cleanup EXIT
# A signal to this script stops the server too, then ends with the
# conventional status for that signal.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

export DISPLAY="$display"
"$@"
status=$?
exit "$status"
