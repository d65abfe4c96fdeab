#!/usr/bin/env bash
# run_e2e.sh SCRIPT.m: runs one Octave script against vornsim (its log in
# VORN_SIM_LOG, its pid in VORN_SIM_PID), with <build>/mex and tests/e2e/lib
# on the path, in a test network of its own (scripts/testnet.sh, unless
# VORN_NS_HOST/INST/BARE name one); returns Octave's status. <build> is
# $VORN_BUILD_DIR (default <repo>/build); nothing is built. Options in the
# script's first comment lines: '% vornsim: ARGS' (simulator arguments),
# '% e2e: --no-sim' (no simulator), '% e2e: --bare' (the bare namespace, no
# instrument network). VORN_E2E_TIMEOUT (s, default 600) bounds the run.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${VORN_BUILD_DIR:-$ROOT/build}
[[ $# -eq 1 && -f $1 ]] || { echo "usage: run_e2e.sh SCRIPT.m (an existing script)" >&2; exit 2; }
SCRIPT=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

USE_SIM=1 NS_KIND=host SIM_ARGS=
while IFS= read -r line; do
  case "$line" in
    "% vornsim:"*) SIM_ARGS="$SIM_ARGS ${line#% vornsim:}" ;;
    "% e2e: --no-sim") USE_SIM=0 ;;
    "% e2e: --bare") USE_SIM=0 NS_KIND=bare ;;
    "% e2e:"*) echo "run_e2e: unknown option '$line' in $SCRIPT" >&2; exit 2 ;;
    %*) ;;
    *) break ;;
  esac
done < "$SCRIPT"

# A test network of our own, removed again when we are done.
if [[ -z ${VORN_NS_HOST:-} || -z ${VORN_NS_INST:-} || -z ${VORN_NS_BARE:-} ]]; then
  exec "$ROOT/scripts/testnet.sh" with "$HERE/run_e2e.sh" "$SCRIPT"
fi
MEX=$BUILD/mex/vornmex.mex SIM=$BUILD/sim/vornsim
[[ -f $MEX ]] || { echo "run_e2e: $MEX is missing (build target vornmex first)" >&2; exit 2; }
[[ $USE_SIM -eq 0 || -x $SIM ]] || { echo "run_e2e: $SIM is missing (build target vornsim first)" >&2; exit 2; }

WORK=$(mktemp -d /tmp/vorn-e2e.XXXXXX) SIM_LOG= SIM_PID=
cleanup() {
  local rc=$?
  set +e
  if [[ -n $SIM_PID ]]; then
    kill -CONT "$SIM_PID"; kill -TERM "$SIM_PID"   # a stopped process cannot act on TERM
    for _ in $(seq 1 100); do kill -0 "$SIM_PID" || break; sleep 0.05; done
    kill -KILL "$SIM_PID"
    wait "$SIM_PID"
  fi 2>/dev/null
  if [[ $rc -ne 0 && -s $WORK/sim.out ]]; then
    echo "--- simulator output ---" >&2
    tail -n 20 "$WORK/sim.out" >&2
  fi
  rm -rf "$WORK"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [[ $USE_SIM -eq 1 ]]; then
  SIM_LOG=$WORK/sim.jsonl
  # shellcheck disable=SC2086  # SIM_ARGS is a list of words
  ip netns exec "$VORN_NS_INST" "$SIM" --log "$SIM_LOG" $SIM_ARGS >"$WORK/sim.out" 2>&1 &
  SIM_PID=$!   # ip netns exec execs the simulator itself: this is its pid
  for _ in $(seq 1 400); do
    grep -q '"kind":"start"' "$SIM_LOG" 2>/dev/null && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.025
  done
  grep -q '"kind":"start"' "$SIM_LOG" 2>/dev/null || { echo "run_e2e: the simulator did not start" >&2; exit 1; }
fi

NS=$VORN_NS_HOST
[[ $NS_KIND == host ]] || NS=$VORN_NS_BARE
echo "run_e2e: $(basename "$SCRIPT") in $NS${SIM_LOG:+ against vornsim$SIM_ARGS}"
set +e
ip netns exec "$NS" env VORN_SIM_LOG="$SIM_LOG" VORN_SIM_PID="$SIM_PID" VORN_ROOT="$ROOT" VORN_BUILD_DIR="$BUILD" \
  timeout --signal=TERM --kill-after=10 "${VORN_E2E_TIMEOUT:-600}" \
  octave-cli --no-gui --norc -q --eval "addpath('$BUILD/mex'); addpath('$HERE/lib'); run('$SCRIPT');"
rc=$?
[[ $rc -ne 124 ]] || echo "run_e2e: Octave timed out" >&2
exit $rc
