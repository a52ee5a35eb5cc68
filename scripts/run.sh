#!/usr/bin/env bash
# Command one: install what is missing, build, start the MPE host simulator on
# 127.0.0.1:1570 and open the installer window. Type 127.0.0.1 in the host
# field and press Connect; log on with HELLO MANAGER.SYS; press Begin.
# Arguments are passed to the installer (a first argument with a T traces).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build

store="${ZORBELIX_SIM_STORE:-$PWD/build/sim-store}"
mkdir -p "$store"
build/mpe-host-sim --listen 127.0.0.1:1570 --store "$store" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
sleep 0.5

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: the installer runs off screen (QT_QPA_PLATFORM=offscreen); end it with Ctrl+C."
  export QT_QPA_PLATFORM=offscreen
fi
build/zorbelix-installer "$@"
