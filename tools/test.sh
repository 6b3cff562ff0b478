#!/usr/bin/env bash
# Set-up, build, then every test (unit, X server and whole-program) against
# the project's own test X server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
BUILD_DIR=${BUILD_DIR:-build}
exec bash tools/with-xserver.sh ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
