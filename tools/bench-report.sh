#!/usr/bin/env bash
# Builds, then runs every benchmark and lifesim at maximum speed on the
# project's test X server, and prints one table of figures against targets.
# LIFESIM_ARCH=i686 measures the 32-bit x86 build (build-i686/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh >/dev/null
source tools/arch.sh
if ! arch_runs_here; then
  echo "$ARCH_NOT_RUN: the benchmarks were built into $BUILD_DIR but cannot run here." >&2
  exit 1
fi
exec bash tools/with-xserver.sh python3 tools/bench_report.py
