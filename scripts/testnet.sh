#!/usr/bin/env bash
# The test network: two network namespaces joined by a veth pair, and a bare
# one with loopback only.
#   instrument namespace  <name>-inst  192.168.42.1/24  (the simulator)
#   host namespace        <name>-host  192.168.42.20/24 (Octave, the extension)
#   bare namespace        <name>-bare  loopback only    (no instrument network)
#
# Usage:
#   testnet.sh up NAME          create (idempotent: an existing NAME is rebuilt)
#   testnet.sh down NAME        remove whatever exists of NAME
#   testnet.sh inst NAME CMD..  run CMD in the instrument namespace
#   testnet.sh host NAME CMD..  run CMD in the host namespace
#   testnet.sh bare NAME CMD..  run CMD in the bare namespace
#   testnet.sh with CMD..       create a network with a unique name, export
#                               VORN_NET, VORN_NS_INST, VORN_NS_HOST and
#                               VORN_NS_BARE, run CMD, remove the network
#                               (also when CMD fails or is interrupted)
# Needs root (ip netns).
set -euo pipefail

die() { echo "testnet: $*" >&2; exit 2; }

ns_exists() { ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$1"; }

down() {
  local name=$1
  for ns in "$name-inst" "$name-host" "$name-bare"; do
    if ns_exists "$ns"; then ip netns del "$ns" 2>/dev/null || true; fi
  done
}

up() {
  local name=$1
  [[ ${#name} -le 10 ]] || die "name '$name' longer than 10 characters"
  down "$name"
  build "$name"
}

# Creates the namespaces of NAME (the instrument one may exist already, empty).
build() {
  local name=$1
  local inst="$name-inst" host="$name-host" bare="$name-bare"
  # veth names are global until moved; keep them short and derived from NAME.
  local vi="vi$name" vh="vh$name"
  ip link del "$vi" 2>/dev/null || true
  ns_exists "$inst" || ip netns add "$inst"
  ip netns add "$host"
  ip netns add "$bare"
  ip link add "$vi" type veth peer name "$vh"
  ip link set "$vi" netns "$inst"
  ip link set "$vh" netns "$host"
  ip -n "$inst" addr add 192.168.42.1/24 broadcast 192.168.42.255 dev "$vi"
  ip -n "$host" addr add 192.168.42.20/24 broadcast 192.168.42.255 dev "$vh"
  for ns in "$inst" "$host" "$bare"; do
    ip -n "$ns" link set lo up
    ip netns exec "$ns" sysctl -q -w net.ipv4.conf.all.rp_filter=0 >/dev/null 2>&1 || true
  done
  ip -n "$inst" link set "$vi" up
  ip -n "$host" link set "$vh" up
  # The extension asks for a 425984-byte receive buffer and refuses to run
  # with less; the kernel's common default ceiling (212992) is below that.
  local rmem
  rmem=$(ip netns exec "$host" sysctl -n net.core.rmem_max 2>/dev/null || echo 0)
  if [[ $rmem -lt 4194304 ]]; then
    ip netns exec "$host" sysctl -q -w net.core.rmem_max=4194304 >/dev/null 2>&1 || true
  fi
}

[[ $# -ge 1 ]] || die "usage: testnet.sh up|down|inst|host|bare|with ..."
cmd=$1; shift
case "$cmd" in
  up)   [[ $# -eq 1 ]] || die "usage: testnet.sh up NAME"; up "$1" ;;
  down) [[ $# -eq 1 ]] || die "usage: testnet.sh down NAME"; down "$1" ;;
  inst|host|bare)
    [[ $# -ge 2 ]] || die "usage: testnet.sh $cmd NAME CMD..."
    name=$1; shift
    exec ip netns exec "$name-$cmd" "$@" ;;
  with)
    [[ $# -ge 1 ]] || die "usage: testnet.sh with CMD..."
    # Claim a name nobody uses: creating the instrument namespace is the
    # claim, so two runs can never share (or tear down) one network.
    name=
    for _ in $(seq 1 50); do
      candidate="v$(printf '%05d' $(( $$ % 100000 )))$(( RANDOM % 100 ))"
      if ip netns add "$candidate-inst" 2>/dev/null; then name=$candidate; break; fi
    done
    [[ -n $name ]] || die "could not claim a network name"
    trap 'down "$name"' EXIT
    trap 'exit 130' INT TERM
    build "$name"
    export VORN_NET=$name VORN_NS_INST=$name-inst VORN_NS_HOST=$name-host VORN_NS_BARE=$name-bare
    set +e
    "$@"
    rc=$?
    set -e
    exit $rc ;;
  *) die "unknown command '$cmd'" ;;
esac
