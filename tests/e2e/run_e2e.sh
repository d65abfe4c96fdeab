#!/usr/bin/env bash
# Runs one Octave script against the simulator in a test network of its own:
#   run_e2e.sh [--no-sim] [--bare] [--sim-args "ARGS"] SCRIPT.m
#
#   - creates the test network (scripts/testnet.sh with), unless one is
#     already given through VORN_NS_HOST / VORN_NS_INST / VORN_NS_BARE;
#   - starts <build>/sim/vornsim --log <tmp>/sim.jsonl in the instrument
#     namespace and waits until its log says it is bound;
#   - runs octave-cli in the host namespace with <build>/mex and
#     tests/e2e/lib on the path, and VORN_SIM_LOG, VORN_SIM_PID, VORN_ROOT and
#     VORN_BUILD_DIR in the environment;
#   - stops the simulator, removes the network and returns Octave's status.
# Builds nothing: <build> is $VORN_BUILD_DIR, by default <repo>/build.
#
# Options, also read from the script's first lines:
#   % vornsim: ARGS      extra simulator arguments
#   % e2e: --no-sim      run without the simulator (host namespace)
#   % e2e: --bare        run in the bare namespace (no instrument network;
#                        implies --no-sim)
# VORN_E2E_SIM_ARGS adds simulator arguments; VORN_E2E_TIMEOUT (seconds,
# default 600) bounds the Octave run. Needs root (network namespaces).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${VORN_BUILD_DIR:-$ROOT/build}

usage() { echo "usage: run_e2e.sh [--no-sim] [--bare] [--sim-args ARGS] SCRIPT.m" >&2; exit 2; }

ORIG_ARGS=("$@")
USE_SIM=1
NAMESPACE=host
SIM_ARGS=${VORN_E2E_SIM_ARGS:-}
SCRIPT=
while [[ $# -gt 0 ]]; do
  case "$1" in
    --no-sim) USE_SIM=0 ;;
    --bare) USE_SIM=0; NAMESPACE=bare ;;
    --sim-args) [[ $# -ge 2 ]] || usage; SIM_ARGS="$SIM_ARGS $2"; shift ;;
    -*) usage ;;
    *) [[ -z $SCRIPT ]] || usage; SCRIPT=$1 ;;
  esac
  shift
done
[[ -n $SCRIPT ]] || usage
[[ -f $SCRIPT ]] || { echo "run_e2e: no such script: $SCRIPT" >&2; exit 2; }
SCRIPT=$(cd "$(dirname "$SCRIPT")" && pwd)/$(basename "$SCRIPT")

# Options the script asks for in its header.
while IFS= read -r line; do
  case "$line" in
    "% vornsim:"*) SIM_ARGS="$SIM_ARGS ${line#% vornsim:}" ;;
    "% e2e:"*)
      for opt in ${line#% e2e:}; do
        case "$opt" in
          --no-sim) USE_SIM=0 ;;
          --bare) USE_SIM=0; NAMESPACE=bare ;;
          *) echo "run_e2e: unknown option '$opt' in $SCRIPT" >&2; exit 2 ;;
        esac
      done ;;
    %*) ;;
    *) break ;;
  esac
done < "$SCRIPT"

# A test network of our own, removed again when we are done.
if [[ -z ${VORN_NS_HOST:-} || -z ${VORN_NS_INST:-} || -z ${VORN_NS_BARE:-} ]]; then
  exec "$ROOT/scripts/testnet.sh" with "$HERE/run_e2e.sh" "${ORIG_ARGS[@]}"
fi

MEX=$BUILD/mex/vornmex.mex
SIM=$BUILD/sim/vornsim
[[ -f $MEX ]] || { echo "run_e2e: $MEX is missing (build target vornmex first)" >&2; exit 2; }
if [[ $USE_SIM -eq 1 && ! -x $SIM ]]; then
  echo "run_e2e: $SIM is missing (build target vornsim first)" >&2
  exit 2
fi

WORK=$(mktemp -d /tmp/vorn-e2e.XXXXXX)
SIM_LOG=$WORK/sim.jsonl
SIM_PID=

stop_sim() {
  [[ -n $SIM_PID ]] || return 0
  if kill -0 "$SIM_PID" 2>/dev/null; then
    kill -CONT "$SIM_PID" 2>/dev/null || true   # a stopped process cannot act on TERM
    kill -TERM "$SIM_PID" 2>/dev/null || true
    for _ in $(seq 1 100); do
      kill -0 "$SIM_PID" 2>/dev/null || break
      sleep 0.05
    done
    kill -KILL "$SIM_PID" 2>/dev/null || true
  fi
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=
}

cleanup() {
  local rc=$?
  stop_sim
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
  # shellcheck disable=SC2086  # SIM_ARGS is a list of words
  ip netns exec "$VORN_NS_INST" "$SIM" --log "$SIM_LOG" $SIM_ARGS >"$WORK/sim.out" 2>&1 &
  SIM_PID=$!   # ip netns exec execs the simulator itself: this is its pid
  up=0
  for _ in $(seq 1 400); do
    if grep -q '"kind":"start"' "$SIM_LOG" 2>/dev/null; then up=1; break; fi
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.025
  done
  if [[ $up -ne 1 ]]; then
    echo "run_e2e: the simulator did not start" >&2
    exit 1
  fi
fi

case $NAMESPACE in
  host) NS=$VORN_NS_HOST ;;
  bare) NS=$VORN_NS_BARE ;;
esac

echo "run_e2e: $(basename "$SCRIPT") in $NS$([[ $USE_SIM -eq 1 ]] && echo " against vornsim$SIM_ARGS")"
set +e
ip netns exec "$NS" env \
  VORN_SIM_LOG="$([[ $USE_SIM -eq 1 ]] && echo "$SIM_LOG")" \
  VORN_SIM_PID="$SIM_PID" \
  VORN_ROOT="$ROOT" VORN_BUILD_DIR="$BUILD" \
  timeout --signal=TERM --kill-after=10 "${VORN_E2E_TIMEOUT:-600}" \
  octave-cli --no-gui --norc -q --eval \
  "addpath('$BUILD/mex'); addpath('$HERE/lib'); run('$SCRIPT');"
rc=$?
set -e
if [[ $rc -eq 124 ]]; then echo "run_e2e: Octave timed out" >&2; fi
exit $rc
