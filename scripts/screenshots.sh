#!/usr/bin/env bash
# Makes the README's pictures of the window from the real program, so they
# follow the code: under Xvfb (a small screen, no window manager) it starts
# mpe-host-sim on 127.0.0.1:1570 with a fresh store and some latency, starts
# the installer, drives it as an operator would with xdotool, and captures the
# window with ImageMagick's import at four moments:
#
#   docs/window-start.png     just started: the host field
#   docs/window.png           logged on as MANAGER.SYS, at the MPE prompt
#   docs/window-upload.png    the upload, about half way
#   docs/window-success.png   the box that says "Successful installation."
#
# Run it from anywhere; it installs xdotool and imagemagick when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${SCREENSHOTS_XVFB:-}" ]; then
  scripts/deps.sh imagemagick xdotool
  BUILD_TARGETS="zorbelix-installer mpe-host-sim" scripts/build.sh build
  # An 800x600 screen of its own (-a: the first free display number).
  exec env SCREENSHOTS_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" "$0" "$@"
fi

source scripts/simulator.sh
work="$(mktemp -d "${TMPDIR:-/tmp}/zorbelix-screenshots-XXXXXX")"
sim=""
window=""
cleanup() {
  [ -n "$window" ] && kill "$window" 2>/dev/null
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "scripts/screenshots.sh: $*" >&2
  echo "--- mpe-host-sim:" >&2
  cat "$work/sim.log" >&2
  echo "--- the installer:" >&2
  cat "$work/window.log" >&2
  exit 1
}

# Waits up to 30 s until the simulator's transcript holds a line matching the
# extended regular expression $1, at least $2 times (default 1).
await() {
  local pattern="$1" count="${2:-1}" tenths
  for ((tenths = 0; tenths < 300; tenths++)); do
    [ "$(grep -cE -- "$pattern" "$work/transcript.txt" 2>/dev/null)" -ge "$count" ] && return 0
    sleep 0.1
  done
  fail "waited 30 s for the host's transcript to show $count of: $pattern"
}

# Captures the screen's area under the installer window (so a box over the
# window is in the picture too) into docs/$1.
capture() {
  sleep 0.5  # the window paints what it was just told
  local X Y WIDTH HEIGHT WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "docs/$1"
  echo "docs/$1: ${WIDTH}x${HEIGHT}"
}

# 20 ms a host message: the 438 records take about 20 s, so the upload is
# caught under way.
mkdir "$work/store"
start_simulator "$work/sim.log" --store "$work/store" --transcript "$work/transcript.txt" \
  --latency-ms 20

unset QT_QPA_PLATFORM
: >"$work/window.log"
(cd "$work" && exec "$OLDPWD/build/zorbelix-installer" </dev/null >"$work/window.log" 2>&1) &
window=$!
wid="$(timeout 20 xdotool search --sync --onlyvisible --name '^ZORBELIX MPEiX Installer$' | head -1)" ||
  fail "the installer's window did not appear within 20 s"
xdotool windowmove --sync "$wid" 0 0 windowfocus --sync "$wid"
capture window-start.png

xdotool type --delay 20 127.0.0.1
xdotool key Return
await 'host> TERM_IO .*text="MPE XL:"'
xdotool type --delay 20 'HELLO MANAGER.SYS'
xdotool key Return
await 'event logged on as MANAGER\.SYS'
await 'host> TERM_IO .*text=":"'
capture window.png

xdotool key alt+b
await 'term> TERMINAL-INPUT .* n=256 ' 219  # half the records are on the host
capture window-upload.png

box="$(timeout 60 xdotool search --sync --onlyvisible --name '^ZORBELIX MPEiX Installation$' | head -1)" ||
  fail "no box appeared within 60 s of the upload's start"
grep -q 'saved ZORBELIX.PUB.SYS' "$work/sim.log" || fail "a box appeared, but the host saved no ZORBELIX"
capture window-success.png

# Close the box: the installer logs off and ends.
xdotool windowfocus --sync "$box" key Return
for ((tenths = 0; tenths < 100; tenths++)); do
  kill -0 "$window" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$window" 2>/dev/null && fail "the installer did not end within 10 s of the box"
window=""
echo "scripts/screenshots.sh: look at the pictures before committing them."
