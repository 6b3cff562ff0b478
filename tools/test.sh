#!/usr/bin/env bash
# Set-up, build, then every test (unit, X server and whole-program) against
# the project's own test X server.
# LIFESIM_ARCH=i686 does the same for the 32-bit x86 build (build-i686/)
# where the kernel runs 32-bit programs; where it does not, it builds every
# 32-bit program, runs none, says so in one line and succeeds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
source tools/arch.sh
if ! arch_runs_here; then
  echo "$ARCH_NOT_RUN: every 32-bit program was built into $BUILD_DIR and none was run."
  exit 0
fi
[ "$LIFESIM_ARCH" = x86_64 ] || echo "$LIFESIM_ARCH: this kernel runs 32-bit x86 programs: running the whole 32-bit suite."
exec bash tools/with-xserver.sh ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
