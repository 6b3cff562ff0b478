#!/usr/bin/env bash
# Installs the packages and builds lifesim, its tests and benchmarks into
# build/ (BUILD_DIR overrides). Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/packages.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
ninja -C "$BUILD_DIR" -j"$(nproc)"
