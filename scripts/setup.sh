#!/usr/bin/env bash
# Installs everything that building, testing, benchmarking and the demo need.
# Non-interactive and idempotent: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential cmake g++ clang libclang-rt-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  octave liboctave-dev gnuplot-nox
  iproute2 procps python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "setup: installing ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
