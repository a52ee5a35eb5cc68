#!/bin/sh
# The top README's shell loop over --json events, as printed there, run by
# dash against a simulator whose one host fails: it must run under POSIX sh,
# print the host's result and the summary, and end with the installer's
# exit status (1).
#   readme_loop_test.sh README.md ZORBELIX_INSTALL MPE_HOST_SIM
set -u
readme=$1 install=$2 sim=$3
work=$(mktemp -d) || exit 1
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The sh block that reads --json events.
awk '/^```sh$/ { block = ""; inside = 1; next }
     /^```$/ && inside { if (block ~ /--json/) { printf "%s", block; exit } inside = 0; next }
     inside { block = block $0 "\n" }' "$readme" >"$work/loop.sh"
grep -q 'zorbelix-install' "$work/loop.sh" || { echo "no loop found in $readme"; exit 1; }

"$sim" --listen 127.0.0.1:0 --store "$work/store" --fail PURGE 2>"$work/sim.log" &
sim_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^mpe-host-sim: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the simulator did not come up"; cat "$work/sim.log"; exit 1; }

mkdir "$work/build" && ln -s "$install" "$work/build/zorbelix-install"
echo "127.0.0.1:$port" >"$work/sites.txt"
(cd "$work" && dash ./loop.sh >out.txt 2>err.txt)
status=$?
cat "$work/out.txt" "$work/err.txt"
[ "$status" -eq 1 ] || { echo "the loop ended with $status, the installer with 1"; exit 1; }
grep -q "^127\.0\.0\.1:$port: failed (" "$work/out.txt" || { echo "no result line"; exit 1; }
grep -qx "0 of 1 installed" "$work/out.txt" || { echo "no summary line"; exit 1; }
[ ! -s "$work/err.txt" ] || { echo "the loop complained"; exit 1; }
echo "the README loop runs under dash and keeps exit status 1"
