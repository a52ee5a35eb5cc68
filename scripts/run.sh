#!/usr/bin/env bash
# Command one: install what is missing, build the installer and the MPE host
# simulator, start the simulator on 127.0.0.1:1570 and open the installer
# window. Type 127.0.0.1 in the host field and press Connect; log on with
# HELLO MANAGER.SYS; press Begin.
# Arguments are passed to the installer (a first argument with a T traces).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_TARGETS="zorbelix-installer mpe-host-sim" scripts/build.sh build
source scripts/simulator.sh

store="${ZORBELIX_SIM_STORE:-$PWD/build/sim-store}"
mkdir -p "$store"
log="$(mktemp "${TMPDIR:-/tmp}/mpe-host-sim-XXXXXX.log")"
sim=""
trap '[ -n "$sim" ] && { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; }; rm -f "$log"' EXIT
SIM_ECHO=1 start_simulator "$log" --store "$store"  # its lines show here as well

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: the installer runs off screen (QT_QPA_PLATFORM=offscreen); end it with Ctrl+C."
  export QT_QPA_PLATFORM=offscreen
fi
build/zorbelix-installer "$@"
