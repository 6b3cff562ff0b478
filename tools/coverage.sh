#!/usr/bin/env bash
# Line coverage that the fuzz harnesses reach. Builds them with clang's
# source-based coverage and no sanitizers into build-coverage/
# (COVERAGE_BUILD_DIR overrides), runs each once over its committed seeds
# and over the corpus tools/fuzz.sh grew (build-fuzz/corpus/, FUZZ_BUILD_DIR
# overrides), merges the profiles and prints the lines covered per folder of
# runtime/, render2d/ and input/: over all files, and over the files that
# run without a display or a process entry of their own. HARNESSES (space-
# separated names) limits the run to those harnesses.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${COVERAGE_BUILD_DIR:-build-coverage}
GROWN=${FUZZ_BUILD_DIR:-build-fuzz}/corpus
bash tools/packages.sh
mkdir -p "$BUILD"
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  -DLIFESIM_FUZZ=ON -DLIFESIM_TESTS=OFF -DLIFESIM_BENCH=OFF >/dev/null
ninja -C "$BUILD" -j"$(nproc)" fuzzers >"$BUILD/build.log" 2>&1 || { tail -40 "$BUILD/build.log"; exit 1; }

unset DISPLAY
rm -rf "$BUILD/profiles"
mkdir -p "$BUILD/profiles"
objects=()
for seeds in tests/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  if [ -n "${HARNESSES:-}" ] && [[ " $HARNESSES " != *" $name "* ]]; then continue; fi
  dirs=("$seeds")
  [ -d "$GROWN/$name" ] && dirs+=("$GROWN/$name")
  LLVM_PROFILE_FILE="$BUILD/profiles/$name.profraw" "$BUILD/tests/fuzz/fuzz_$name" -runs=0 "${dirs[@]}" \
    >"$BUILD/profiles/$name.log" 2>&1 || { echo "$name: failed, see $BUILD/profiles/$name.log"; exit 1; }
  objects+=(-object "$BUILD/tests/fuzz/fuzz_$name")
done
llvm-profdata-14 merge -sparse "$BUILD"/profiles/*.profraw -o "$BUILD/profiles/merged.profdata"
llvm-cov-14 export -summary-only -instr-profile "$BUILD/profiles/merged.profdata" "${objects[@]:1}" \
  >"$BUILD/profiles/summary.json"
# Files only a display or the real process entry reaches: the X11 and
# OpenGL layers and the start-up, signal and exit code.
python3 - "$BUILD/profiles/summary.json" "$PWD" <<'EOF'
import json, sys
data = json.load(open(sys.argv[1]))["data"][0]["files"]
root = sys.argv[2].rstrip("/") + "/"
display = {"input/x11.cpp", "input/system.cpp", "render2d/gl2d.cpp", "runtime/startup.cpp",
           "runtime/appstub.cpp"}
rows = {}
for f in data:
    name = f["filename"].replace(root, "")
    folder = name.split("/")[0]
    if folder not in ("runtime", "render2d", "input"):
        continue
    lines = f["summary"]["lines"]
    for key in (folder, "total"):
        row = rows.setdefault(key, [0, 0, 0, 0])
        row[0] += lines["covered"]
        row[1] += lines["count"]
        if name not in display:
            row[2] += lines["covered"]
            row[3] += lines["count"]
print(f"{'folder':10} {'all files':>22} {'without display/entry':>26}")
for key in ("runtime", "render2d", "input", "total"):
    c, n, rc, rn = rows.get(key, [0, 0, 0, 0])
    print(f"{key:10} {c:6}/{n:6} {100 * c / max(n, 1):6.1f} %   {rc:6}/{rn:6} {100 * rc / max(rn, 1):6.1f} %")
EOF
