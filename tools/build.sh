#!/usr/bin/env bash
# Installs the packages and builds lifesim, its tests and benchmarks into
# build/ (BUILD_DIR overrides). LIFESIM_ARCH=i686 builds the 32-bit x86
# programs instead, into build-i686/. Extra arguments go to cmake.
# LIFESIM_TARGETS (space-separated) builds only those targets. Warnings are
# errors here (LIFESIM_WERROR): the code compiles without any.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/arch.sh
bash tools/packages.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIFESIM_WERROR=ON \
  "${ARCH_CMAKE_ARGS[@]}" "$@"
# shellcheck disable=SC2086  # the targets are words
ninja -C "$BUILD_DIR" -j"$(nproc)" ${LIFESIM_TARGETS:-}
