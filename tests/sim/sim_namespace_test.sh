#!/usr/bin/env bash
# vornsim in a test network created and removed for this test:
#   1. the extension's connection discovers it from the host namespace and
#      its cache matches the simulator's layout; the simulator's log shows
#      the requests; SIGINT stops it with its one-line summary;
#   2. with --loss 100 nothing goes out and the cache never becomes ready;
#   3. outside the instrument namespace vornsim refuses to start.
#   sim_namespace_test.sh VORNSIM PROBE ROOT
set -uo pipefail
vornsim=$1 probe=$2 root=$3

if [[ ${VORN_NS_INST:-} == "" ]]; then
  if [[ $(id -u) -ne 0 ]] || ! command -v ip >/dev/null; then
    echo "sim_net: needs root and iproute2; skipped"
    exit 77
  fi
  exec "$root/scripts/testnet.sh" with bash "$0" "$vornsim" "$probe" "$root"
fi

tmp=$(mktemp -d) sim_pid= status=0
trap '[[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid"; rm -rf "$tmp"' EXIT
fail() { echo "sim_net: FAILED: $*"; status=1; }

# Runs vornsim in the instrument namespace with a log (waiting for its
# "start" line), the probe in the host namespace, then stops vornsim with
# SIGINT: it must exit 0 after its summary line.
run() {
  local mode=$1 log=$tmp/$1.jsonl; shift
  ip netns exec "$VORN_NS_INST" "$vornsim" --log "$log" "$@" >"$log.out" 2>"$log.err" &
  sim_pid=$!
  for _ in $(seq 1 400); do
    grep -q '"kind":"start"' "$log" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  grep -q '"kind":"start"' "$log" 2>/dev/null || { fail "vornsim did not start: $(cat "$log.err")"; return; }
  ip netns exec "$VORN_NS_HOST" "$probe" "$mode" "$log" || status=1
  kill -INT "$sim_pid"
  wait "$sim_pid" || fail "vornsim exit status $?"
  sim_pid=
  grep -q '^vornsim: ran .* packets/s' "$log.out" || fail "no summary line"
  grep -q '"kind":"stop"' "$log" || fail "no stop line in the log"
  cat "$log.out"
}

run discover
run noready --loss 100
grep -q '"sent_packets":0,"sent_datagrams":0' "$tmp/noready.jsonl" || fail "packets sent despite --loss 100"

for ns in "$VORN_NS_HOST" "$VORN_NS_BARE"; do
  ip netns exec "$ns" "$vornsim" --duration 1 >"$tmp/refuse.out" 2>&1
  rc=$?
  [[ $rc -eq 2 ]] || fail "vornsim in $ns exited $rc, not 2"
  grep -q 'refusing to start' "$tmp/refuse.out" || fail "no refusal message in $ns"
done

if [[ $status -eq 0 ]]; then echo "sim_net: passed"; else echo "sim_net: FAILED"; fi
exit $status
