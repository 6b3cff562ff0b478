# Sourced by the build, test, run and benchmark scripts: picks the target
# from LIFESIM_ARCH (x86_64, the default, or i686) and sets BUILD_DIR (unless
# given) and ARCH_CMAKE_ARGS for it. Each target has its own build folder so
# that the two never mix objects.
LIFESIM_ARCH=${LIFESIM_ARCH:-x86_64}
case "$LIFESIM_ARCH" in
  x86_64)
    BUILD_DIR=${BUILD_DIR:-build}
    ARCH_CMAKE_ARGS=()
    ;;
  i686)
    BUILD_DIR=${BUILD_DIR:-build-i686}
    ARCH_CMAKE_ARGS=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/i686-linux-gnu.cmake")
    ;;
  *)
    echo "LIFESIM_ARCH must be x86_64 or i686, not '$LIFESIM_ARCH'" >&2
    exit 2
    ;;
esac
export LIFESIM_ARCH BUILD_DIR
