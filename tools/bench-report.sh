#!/usr/bin/env bash
# Builds, then runs every benchmark and lifesim at maximum speed on the
# project's test X server, and prints one table of figures against targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh >/dev/null
exec bash tools/with-xserver.sh python3 tools/bench_report.py
