#!/usr/bin/env bash
# Set-up, then the Debian package lifesim_<version>_<arch>.deb in build/
# (BUILD_DIR overrides; LIFESIM_ARCH=i686 makes the i386 package in
# build-i686/), built by dpkg-buildpackage from debian/ and checked by
# lintian: an error or a warning there fails this script.
#
# The sources are copied to $BUILD_DIR/package/lifesim-<version> and built
# there, so that nothing is written into the source tree or beside it. Only
# the package's own targets are built and nothing is run (nocheck): the
# tests are tools/test.sh's, and an i386 package builds on a machine that
# cannot execute 32-bit programs.
#
# Reproducible: file dates come from the last commit (SOURCE_DATE_EPOCH,
# unless set), debhelper sets the permissions whatever the umask, and
# Debian's flags map the build folder out of the program, so the same
# commit gives the same bytes wherever and by whomever it is built.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/arch.sh
bash tools/packages.sh
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi
version=$(dpkg-parsechangelog -S Version)
work="$BUILD_DIR/package"
src="$work/lifesim-$version"
rm -rf "$work"
mkdir -p "$src"
# The files git knows, as they are in the work tree (or, outside a git
# checkout, everything but the build folders).
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude='./build*' -cf - . | tar -xf - -C "$src"
fi
case "$LIFESIM_ARCH" in
  x86_64) host=() ;;
  # The i386 libraries come from packages.sh; dpkg-checkbuilddeps would ask
  # for a cross compiler that the toolchain file does without.
  i686) host=(--host-arch=i386 --no-check-builddeps) ;;
esac
(cd "$src" &&
  DEB_BUILD_OPTIONS="nocheck noddebs ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -us -uc -b --build-profiles=nocheck "${host[@]}")
rm -f "$BUILD_DIR"/lifesim_*.deb
mv "$work"/lifesim_*.deb "$BUILD_DIR"/
deb=$(echo "$BUILD_DIR"/lifesim_*.deb)
dpkg-deb -c "$deb"
echo "lintian $deb:"
lintian --fail-on error,warning -I -E --pedantic "$deb"
echo "Package: $deb"
