#!/usr/bin/env bash
# Installs every Debian package lifesim needs to build, run and test.
# Used by the README's commands and by .ci/run, so the list lives here only.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libx11-dev libgl-dev libgl1-mesa-dri libglx-mesa0 libxxf86vm-dev libxtst-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xserver-xorg-core xserver-xorg-video-dummy xvfb x11-utils x11-xserver-utils
  xdotool x11-apps python3
  alsa-oss
  dpkg-dev lintian man-db imagemagick
  clang libclang-rt-14-dev
)
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
