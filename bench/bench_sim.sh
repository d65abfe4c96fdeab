#!/usr/bin/env bash
# Measures the packet rate vornsim sustains: runs it in the instrument
# namespace of a fresh test network and counts what arrives in the host
# namespace with bench_sim.
#   bench/bench_sim.sh BUILD_DIR [SECONDS] [vornsim options...]
# Default options: --profile full.
set -uo pipefail
build=$1
seconds=${2:-10}
shift $(( $# >= 2 ? 2 : 1 ))
opts=("$@")
[[ ${#opts[@]} -eq 0 ]] && opts=(--profile full)
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ ${VORN_NS_INST:-} == "" ]]; then
  exec "$root/scripts/testnet.sh" with bash "$0" "$build" "$seconds" "${opts[@]}"
fi

ip netns exec "$VORN_NS_INST" "$build/sim/vornsim" "${opts[@]}" --duration $(( seconds + 3 )) &
sim=$!
ip netns exec "$VORN_NS_HOST" "$build/bench/bench_sim" --seconds "$seconds"
wait "$sim"
