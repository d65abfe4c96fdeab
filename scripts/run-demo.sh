#!/usr/bin/env bash
# The main job: installs what is missing (scripts/setup.sh), builds the MEX
# file and the simulator, creates a test network, starts the simulator in it
# and runs a short Octave session against it (scripts/demo_session.m). The
# simulator and the network are removed again afterwards, also on failure.
# Needs root for the network namespaces (re-runs itself with sudo if needed).
# The build goes to $VORN_BUILD_DIR, by default <repo>/build.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${VORN_BUILD_DIR:-$ROOT/build}

if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "run-demo: needs root (network namespaces)" >&2; exit 1; }
  exec sudo VORN_BUILD_DIR="$BUILD" "$0" "$@"
fi

"$ROOT/scripts/setup.sh"

echo "== build =="
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target vornmex vornsim

echo "== demo session =="
VORN_BUILD_DIR="$BUILD" "$ROOT/tests/e2e/run_e2e.sh" "$ROOT/scripts/demo_session.m"
