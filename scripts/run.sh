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

# The window always dials port 1570, so the simulator must listen there.
address=127.0.0.1:1570
store="${ZORBELIX_SIM_STORE:-$PWD/build/sim-store}"
mkdir -p "$store"
log="$(mktemp "${TMPDIR:-/tmp}/mpe-host-sim-XXXXXX.log")"
# The simulator's lines go to the terminal as well as to the log read below.
build/mpe-host-sim --listen "$address" --store "$store" 2> >(tee "$log" >&2) &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$log"' EXIT

# Wait for its listening line (at most 10 s), or for it to give up.
for ((tenths = 0; ; tenths++)); do
  grep -qx "mpe-host-sim: listening on $address" "$log" && break
  if ! kill -0 "$sim" 2>/dev/null; then
    status=0
    wait "$sim" || status=$?
    sleep 0.2  # the last lines through tee
    if grep -q "cannot listen on $address: .*in use" "$log"; then
      echo "scripts/run.sh: port 1570 on 127.0.0.1 is taken, so mpe-host-sim cannot listen there," >&2
      echo "and the installer window always connects to port 1570. See which process holds it:" >&2
      echo "  ss -ltnp 'sport = :1570'" >&2
      echo "then end that process (or its mpe-host-sim) and run scripts/run.sh again." >&2
    else
      echo "scripts/run.sh: mpe-host-sim ended (status $status) before it listened on $address; its output is above." >&2
    fi
    exit 1
  fi
  if [ $tenths -ge 100 ]; then
    echo "scripts/run.sh: mpe-host-sim printed no 'listening on $address' line within 10 s; stopping it." >&2
    exit 1
  fi
  sleep 0.1
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: the installer runs off screen (QT_QPA_PLATFORM=offscreen); end it with Ctrl+C."
  export QT_QPA_PLATFORM=offscreen
fi
build/zorbelix-installer "$@"
