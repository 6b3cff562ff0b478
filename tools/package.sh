#!/usr/bin/env bash
# Set-up, build, then the Debian package lifesim_<version>_<arch>.deb in
# build/ (BUILD_DIR overrides; LIFESIM_ARCH=i686 packages the 32-bit build
# in build-i686/ as an i386 package), made with CPack
# from the project's install rules and checked by lintian: an error there
# fails this script. Extra arguments go to cmake, as for build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/arch.sh
# Only what the package holds is built: no test or benchmark program.
LIFESIM_TARGETS="lifesim install_files" bash tools/build.sh "$@"
rm -f "$BUILD_DIR"/lifesim_*.deb
cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$BUILD_DIR"
deb=$(echo "$BUILD_DIR"/lifesim_*.deb)
dpkg-deb -c "$deb"
echo "lintian $deb:"
lintian --fail-on error --display-level '>=info' "$deb"
echo "Package: $deb"
