#!/usr/bin/env bash
# Runs bench/cont_bench.m ('cont' speed and loss under full load) in Octave
# against the simulator's full profile, in a test network of its own
# (tests/e2e/run_e2e.sh), and adds the data path's gap warnings from
# Octave's standard error to the figures.
#   bench/run_cont_bench.sh            uses <repo>/build (or $VORN_BUILD_DIR)
# Builds vornmex and vornsim there first when they are missing. Needs root
# (network namespaces) and about 3 GB of free memory.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
BUILD=${VORN_BUILD_DIR:-$ROOT/build}

if [[ ! -f $BUILD/mex/vornmex.mex || ! -x $BUILD/sim/vornsim ]]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" -j 2 --target vornmex vornsim
fi

ERR=$(mktemp /tmp/vorn-cont-bench.XXXXXX)
trap 'rm -f "$ERR"' EXIT

set +e
VORN_BUILD_DIR=$BUILD VORN_E2E_TIMEOUT=900 "$ROOT/tests/e2e/run_e2e.sh" "$HERE/cont_bench.m" 2>"$ERR"
rc=$?
set -e

# Everything but the gap warnings and the phase lines goes back to standard error.
grep -v -e '^Warning: missed' -e '^warning: ' -e '^bench-phase: ' "$ERR" >&2 || true
# "Warning: missed k data points": k - 1 frames never arrived in one stream.
awk '/^bench-phase: / { phase = $2; next }
     /^Warning: missed [0-9]+ data points/ { p = (phase == "" ? "speed" : phase); n[p]++; f[p] += $3 - 1 }
     END {
       split("speed idle copy load end", order, " ")
       for (i = 1; i <= 5; i++) {
         p = order[i]
         printf "gap warnings on the data path, %s phase: %d (%d frames missing over all streams)\n", p, n[p], f[p]
       }
     }' "$ERR"
exit $rc
