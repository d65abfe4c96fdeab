#!/usr/bin/env bash
# Builds the cache fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs it for FUZZ_SECONDS
# seconds (default 60) on one process, starting from the seed corpus in
# tests/fuzz/corpus. Exits non-zero when the fuzzer finds a crash, a leak,
# undefined behaviour, a time-out or runaway memory; the input that did it
# is left in build-fuzz/ as crash-*, leak-*, timeout-* or oom-*.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT="$ROOT/build-fuzz"
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
CXX=${FUZZ_CXX:-clang++}

mkdir -p "$OUT/corpus"
# The whole library, so that the list never falls behind it, and the
# simulator's model (vornsim_core: sim/ but main.cpp), which plays the instrument.
SOURCES=(VornLib/*.cpp)
for src in sim/*.cpp; do
  [ "$src" = sim/main.cpp ] || SOURCES+=("$src")
done
echo "fuzz.sh: building $OUT/cache_fuzzer"
"$CXX" -std=c++17 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I VornLib -I sim -I tests/support tests/fuzz/CacheFuzzer.cpp "${SOURCES[@]}" \
  -o "$OUT/cache_fuzzer"

# The working corpus grows in build-fuzz; the committed seeds stay small and
# replace their older copies there (make_seeds rewrites them under the same names).
cp tests/fuzz/corpus/* "$OUT/corpus/" 2>/dev/null || true
echo "fuzz.sh: running for ${FUZZ_SECONDS}s"
# The cache's own data-path warnings (gaps, wanted times out of range, oversized
# datagrams) are expected on fuzzed input; they are kept out of the log.
status=0
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
"$OUT/cache_fuzzer" -max_total_time="$FUZZ_SECONDS" -timeout=20 -rss_limit_mb=2048 \
  -max_len=8192 -print_final_stats=1 -artifact_prefix="$OUT/" "$OUT/corpus" 2>&1 \
  | grep --line-buffered -v -E '^(warning: timestamp: |warning: invalid timestamp|Warning: missed |VornPacketList: failed)' \
  > "$OUT/fuzz.log" || status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ]; then
  tail -n 60 "$OUT/fuzz.log"
  echo "fuzz.sh: FAILED (status $status); artifacts in $OUT"
  exit 1
fi
grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$OUT/fuzz.log" || true
echo "fuzz.sh: no findings"
