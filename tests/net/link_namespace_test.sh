#!/usr/bin/env bash
# The link over real sockets, in a network created and removed for this test:
# the host's broadcast request reaches the instrument on port 2047, the
# instrument's datagram reaches VornClient::Receive on port 2046, and a
# datagram from outside 192.168.42.0/24 does not.
#   link_namespace_test.sh PROBE ROOT
set -uo pipefail
probe=$1
root=$2

if [[ ${VORN_NS_INST:-} == "" ]]; then
  if [[ $(id -u) -ne 0 ]] || ! command -v ip >/dev/null; then
    echo "net_link: needs root and iproute2; skipped"
    exit 77
  fi
  exec "$root/scripts/testnet.sh" with bash "$0" "$probe" "$root"
fi

# Inside the test network. The intruder's address sits on the instrument's
# side of the link.
ip -n "$VORN_NS_INST" addr add 10.9.9.9/32 dev "vi$VORN_NET" || exit 1

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; [[ -n ${inst_pid:-} ]] && kill "$inst_pid" 2>/dev/null' EXIT
ready=$tmp/ready

ip netns exec "$VORN_NS_INST" "$probe" inst "$ready" &
inst_pid=$!

# Wait until the instrument listens (bounded).
for _ in $(seq 1 400); do
  [[ -e $ready ]] && break
  kill -0 "$inst_pid" 2>/dev/null || break
  sleep 0.05
done
if [[ ! -e $ready ]]; then
  echo "net_link: the instrument side did not start"
  exit 1
fi

status=0
ip netns exec "$VORN_NS_HOST" "$probe" host || status=1
wait "$inst_pid" || status=1
inst_pid=
ip netns exec "$VORN_NS_BARE" "$probe" bare || status=1

if [[ $status -eq 0 ]]; then echo "net_link: passed"; else echo "net_link: FAILED"; fi
exit $status
