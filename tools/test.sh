#!/usr/bin/env bash
# Set-up, build, then every test (unit, X server and whole-program) against
# the project's own test X server.
# LIFESIM_ARCH=i686 does the same for the 32-bit x86 build (build-i686/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
source tools/arch.sh
exec bash tools/with-xserver.sh ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
