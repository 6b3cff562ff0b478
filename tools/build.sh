#!/usr/bin/env bash
# Installs the packages and builds lifesim, its tests and benchmarks into
# build/ (BUILD_DIR overrides). LIFESIM_ARCH=i686 builds the 32-bit x86
# programs instead, into build-i686/. Extra arguments go to cmake.
# LIFESIM_TARGETS (space-separated) builds only those targets. Warnings are
# errors here (LIFESIM_WERROR): the code compiles without any.
# A new build folder gets Debian's hardened default flags (see below).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/arch.sh
bash tools/packages.sh
# Debian's default flags for the target, hardened (stack protector,
# FORTIFY_SOURCE, RELRO, immediate binding, PIE), with the source folder
# mapped out of the programs: the flags the Debian package is built with.
# Flags given in the environment are taken instead; CMake reads them when
# it first configures a build folder.
if [ -z "${CXXFLAGS+set}${LDFLAGS+set}" ]; then
  host_arch=$(dpkg --print-architecture)
  [ "$LIFESIM_ARCH" = x86_64 ] || host_arch=i386
  eval "$(DEB_HOST_ARCH=$host_arch DEB_BUILD_MAINT_OPTIONS="hardening=+all future=+lfs" \
    dpkg-buildflags --export=sh)"
  # CMake does not read CPPFLAGS, where FORTIFY_SOURCE is.
  CXXFLAGS="$CXXFLAGS $CPPFLAGS"
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIFESIM_WERROR=ON \
  "${ARCH_CMAKE_ARGS[@]}" "$@"
# shellcheck disable=SC2086  # the targets are words
ninja -C "$BUILD_DIR" -j"$(nproc)" ${LIFESIM_TARGETS:-}
