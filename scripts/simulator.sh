# Sourced by scripts/run.sh and scripts/screenshots.sh: starts the MPE host
# simulator where the installer window dials, 127.0.0.1:1570.
#
#   start_simulator LOG [mpe-host-sim options...]
#
# Starts build/mpe-host-sim --listen 127.0.0.1:1570 with the options given,
# its standard error in LOG (and on this script's too when SIM_ECHO=1), sets
# sim to its process id and returns once the simulator says it listens. If
# port 1570 is taken, or the simulator ends or stays silent for 10 s, it says
# so plainly and exits: the window cannot reach any other port, so it must not
# open without a simulator there.
# The caller stops the simulator (kill "$sim") when done.

sim_address=127.0.0.1:1570

start_simulator() {
  local log="$1"
  shift
  : >"$log"
  if [ "${SIM_ECHO:-0}" = 1 ]; then
    build/mpe-host-sim --listen "$sim_address" "$@" 2> >(tee -a "$log" >&2) &
  else
    build/mpe-host-sim --listen "$sim_address" "$@" 2>>"$log" &
  fi
  sim=$!
  local tenths status
  for ((tenths = 0; ; tenths++)); do
    grep -qx "mpe-host-sim: listening on $sim_address" "$log" && return 0
    if ! kill -0 "$sim" 2>/dev/null; then
      status=0
      wait "$sim" || status=$?
      sleep 0.2  # the last lines, when they pass through tee
      [ "${SIM_ECHO:-0}" = 1 ] || cat "$log" >&2
      if grep -q "cannot listen on $sim_address: .*in use" "$log"; then
        echo "$0: port 1570 on 127.0.0.1 is taken, so mpe-host-sim cannot listen there," >&2
        echo "and the installer window always connects to port 1570. See which process holds it:" >&2
        echo "  ss -ltnp 'sport = :1570'" >&2
        echo "then end that process (or its mpe-host-sim) and run $0 again." >&2
      else
        echo "$0: mpe-host-sim ended (status $status) before it listened on $sim_address." >&2
      fi
      exit 1
    fi
    if [ "$tenths" -ge 100 ]; then
      [ "${SIM_ECHO:-0}" = 1 ] || cat "$log" >&2
      echo "$0: mpe-host-sim printed no 'listening on $sim_address' line within 10 s; stopping it." >&2
      kill "$sim" 2>/dev/null || true
      exit 1
    fi
    sleep 0.1
  done
}
