#!/usr/bin/env bash
# Builds the fuzz harnesses with clang, libFuzzer, ASan and UBSan into
# build-fuzz/ (FUZZ_BUILD_DIR overrides) and runs each for SECONDS
# (default 30) from its committed seed corpus. Prints one line per harness;
# exits non-zero when any harness crashed, leaked, hung or broke an
# invariant. Crashing inputs are kept under the build folder's artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
bash tools/packages.sh
mkdir -p "$BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DLIFESIM_FUZZ=ON -DLIFESIM_SANITIZE=ON -DLIFESIM_TESTS=OFF -DLIFESIM_BENCH=OFF >/dev/null
ninja -C "$BUILD" -j"$(nproc)" fuzzers >"$BUILD/build.log" 2>&1 || { tail -40 "$BUILD/build.log"; exit 1; }

# The harnesses need no X server; one named in the environment is ignored.
unset DISPLAY
export ASAN_OPTIONS=detect_stack_use_after_return=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$BUILD/artifacts" "$BUILD/logs"
failed=0
for seeds in tests/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  corpus="$BUILD/corpus/$name"  # grows here; the committed seeds stay as they are
  mkdir -p "$corpus"
  log="$BUILD/logs/$name.log"
  set +e
  "$BUILD/tests/fuzz/fuzz_$name" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$name-" "$corpus" "$seeds" >"$log" 2>&1
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    result=ok
  else
    failed=1
    what=$(grep -m1 -oE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer): [a-z-]+|runtime error:.*|invariant failed.*|Timeout|out-of-memory' "$log" || echo "exit status $status")
    result="FAILED ($what; see $log)"
  fi
  printf '%-12s %12s executions %8s/s  %s\n' "$name" "${runs:-?}" "${rate:-?}" "$result"
done
exit "$failed"
