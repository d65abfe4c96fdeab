#!/usr/bin/env bash
# Builds everything from scratch and runs every test:
#   1. unit, network-namespace and end-to-end tests (ctest, normal build)
#   2. the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer
#   3. a short bounded fuzzing run
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc)

"$ROOT/scripts/setup.sh"

echo "== build (fresh) =="
rm -rf "$ROOT/build" "$ROOT/build-asan" "$ROOT/build-fuzz"
cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j "$JOBS"

echo "== tests =="
status=0
(cd "$ROOT/build" && ctest --output-on-failure -j 1 --timeout 600) || status=1

echo "== unit tests under ASan/UBSan =="
cmake -S "$ROOT" -B "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON \
  -DVORN_BUILD_MEX=OFF >/dev/null
cmake --build "$ROOT/build-asan" -j "$JOBS"
(cd "$ROOT/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -L unit) || status=1

if [ -x "$ROOT/scripts/fuzz.sh" ]; then
  echo "== fuzzing (bounded) =="
  FUZZ_SECONDS=${FUZZ_SECONDS:-60} "$ROOT/scripts/fuzz.sh" || status=1
fi

if [ $status -ne 0 ]; then
  echo "run-tests: FAILED"
  exit 1
fi
echo "run-tests: all passed"
