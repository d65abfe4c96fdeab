#!/usr/bin/env bash
# Builds everything from scratch and runs every test:
#   1. unit, network-namespace and end-to-end tests (ctest, normal build)
#   2. the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer
#   3. a short bounded fuzzing run of the packet path (FUZZ_SECONDS, default 60)
# Needs root (network namespaces). Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc)
LOGS=$(mktemp -d)
trap 'rm -rf "$LOGS"' EXIT

"$ROOT/scripts/setup.sh"

passed=0
failed=0
# Runs ctest in a build directory and adds its counts to the totals.
run_ctest() {
  local dir=$1; shift
  local log="$LOGS/ctest.$RANDOM.log"
  (cd "$dir" && ctest --output-on-failure --timeout 900 "$@") 2>&1 | tee "$log" || true
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    echo "run-tests: ctest in $dir did not finish"
    failed=$((failed + 1))
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

echo "== build (fresh) =="
rm -rf "$ROOT/build" "$ROOT/build-asan" "$ROOT/build-fuzz"
cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j "$JOBS"

echo "== tests =="
run_ctest "$ROOT/build"

echo "== unit tests under ASan/UBSan =="
cmake -S "$ROOT" -B "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON \
  -DVORN_BUILD_MEX=OFF >/dev/null
cmake --build "$ROOT/build-asan" -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$ROOT/build-asan" -L unit

echo "== fuzzing (bounded) =="
if FUZZ_SECONDS=${FUZZ_SECONDS:-60} "$ROOT/scripts/fuzz.sh"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

echo "run-tests: ${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
