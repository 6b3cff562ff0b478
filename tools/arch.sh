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

# arch_runs_here: succeeds when this kernel executes the target's programs.
# x86-64 always does. For i686 it builds a tiny 32-bit program and executes
# it directly (execve, so no shell takes the binary for a script): it runs
# (status 0), or the kernel refuses it with ENOEXEC, as a kernel with IA-32
# emulation off does (status 1). Anything else ends the calling script:
# a probe that does not compile or that answers wrongly is a broken
# toolchain, never "cannot run".
arch_runs_here() {
  [ "$LIFESIM_ARCH" = i686 ] || return 0
  local dir status=0
  dir=$(mktemp -d)
  printf '#include <cstdio>\nint main() { std::printf("probe %%u\\n", unsigned(sizeof(void *))); }\n' >"$dir/probe.cpp"
  if ! g++ -m32 -march=i686 -o "$dir/probe" "$dir/probe.cpp"; then
    rm -rf "$dir"
    echo "i686: the 32-bit probe program does not build; the i686 toolchain is broken" >&2
    exit 1
  fi
  python3 - "$dir/probe" <<'PY' || status=$?
import errno, subprocess, sys
try:
    r = subprocess.run([sys.argv[1]], capture_output=True, text=True, timeout=60)
except OSError as e:
    if e.errno == errno.ENOEXEC:
        sys.exit(3)
    print(f"i686: the 32-bit probe could not be started: {e}", file=sys.stderr)
    sys.exit(1)
if r.returncode != 0 or r.stdout != "probe 4\n":
    print(f"i686: the 32-bit probe ran but answered status {r.returncode}, "
          f"{r.stdout!r} {r.stderr!r}", file=sys.stderr)
    sys.exit(1)
PY
  rm -rf "$dir"
  case $status in
    0) return 0 ;;
    3) return 1 ;;
    *) exit 1 ;;
  esac
}

# The one line that says why nothing 32-bit was run on this host.
ARCH_NOT_RUN="i686: this kernel cannot execute 32-bit x86 programs (execve gives 'Exec format error': IA-32 emulation is off)"
