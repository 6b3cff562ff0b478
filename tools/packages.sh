#!/usr/bin/env bash
# Installs every Debian package lifesim needs to build, run and test.
# Used by the README's commands and by .ci/run, so the lists live here only.
# With LIFESIM_ARCH=i686 it also adds the i386 architecture (when missing)
# and the 32-bit libraries the i686 build links and runs against.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libx11-dev libgl-dev libgl1-mesa-dri libglx-mesa0 libxxf86vm-dev libxtst-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  debhelper devscripts diffoscope-minimal librsvg2-bin desktop-file-utils appstream
  xserver-xorg-core xserver-xorg-video-dummy xvfb x11-utils x11-xserver-utils
  xdotool x11-apps x11-xkb-utils python3
  alsa-oss
  dpkg-dev lintian man-db imagemagick
  clang libclang-rt-14-dev llvm-14 clang-format
)
# The i686 build: the compiler's 32-bit support, the i686 binutils that
# debhelper strips the i386 package with, then the :i386 twin of
# every library above that lifesim, its tests or its benchmarks link or
# load (the X server and the tools stay 64-bit).
PACKAGES_I386=(
  g++-multilib binutils-i686-linux-gnu
  libx11-dev:i386 libxxf86vm-dev:i386 libxtst-dev:i386
  libgl-dev:i386 libglx-dev:i386 libopengl-dev:i386
  libgl1-mesa-dri:i386 libglx-mesa0:i386
  libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386
)
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
case "${LIFESIM_ARCH:-x86_64}" in
  x86_64) ;;
  i686)
    PACKAGES+=("${PACKAGES_I386[@]}")
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $SUDO dpkg --add-architecture i386
      FORCE_UPDATE=1
    fi
    ;;
  *) echo "LIFESIM_ARCH must be x86_64 or i686, not '$LIFESIM_ARCH'" >&2; exit 2 ;;
esac
# With the i386 twins installed, a bare name is ambiguous to dpkg -s: ask
# for the native architecture's package then (architecture-independent
# packages answer to the bare name).
native=$(dpkg --print-architecture)
installed() {
  dpkg -s "$1" >/dev/null 2>&1 || { [[ $1 != *:* ]] && dpkg -s "$1:$native" >/dev/null 2>&1; }
}
missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${FORCE_UPDATE:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  [ ${#missing[@]} -eq 0 ] || $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
