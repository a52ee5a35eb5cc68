#!/usr/bin/env bash
# Records real sessions against mpe-host-sim and cuts them into seeds of the
# corpus (fuzz/corpus/*/rec-*): the shipped installation, and the same with
# each kind of host fault. For each session the installer window (offscreen,
# record_session) logs on from its console and presses Begin; the bytes the
# host sent before and after Begin become seeds of fuzz_receive (with and
# without a running installation), and the bytes after Begin, cut into raw
# answers, seeds of fuzz_script under the shipped script's lines.
#
#   fuzz/record_seeds.sh BUILD-DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/zorbelix-seeds-XXXXXX")"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

record() {  # name, simulator options...
  local name="$1"
  shift
  "$build/mpe-host-sim" --listen 127.0.0.1:0 --once --store "$work/store-$name" \
      --transcript "$work/$name.transcript" "$@" >"$work/$name.sim" 2>&1 &
  local sim=$!
  local port=""
  for _ in $(seq 50); do
    port="$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/$name.sim")"
    [ -n "$port" ] && break
    sleep 0.1
  done
  "$build/record_session" "$port" "$work/$name" 2>"$work/$name.log" || true
  wait "$sim" || true
  echo "$name: $(tail -1 "$work/$name.log")"
  grep "^box:" "$work/$name.log" | sed "s/^/    /" || true
}

mkdir -p "$work"
record shipped
record cierr-purge --fail PURGE
record in-use --in-use ZORBELIX
record bad-version --bad-version-at fcopy-record:3
record short-length --short-length-at command:PURGE
record terminate --terminate-at fcopy-record:10:6
record read-length --read-length fcopy-record:2=1
record fcopy-question --fcopy-question 1
record drop --drop-at fcopy-end

python3 - "$work" <<'PYTHON'
import os, sys
work = sys.argv[1]
corpus = os.path.join(os.getcwd(), "fuzz", "corpus")
shipped = ("SEND1~ECHO !HPUSER.!HPACCOUNT~MANAGER.SYS~9\nSEND2~PURGE ZORBELIX~CIERR~8\n"
           "XFERU~ZORBELIX~NMPRG\nSEND2~SAVE $OLDPASS,ZORBELIX~CIERR~8\nMSGW~Done.\n"
           "MSGB~Successful installation.\nEXIT\nMSGB~Error occured\nSTOP").encode()

def put(target, name, data):
    with open(os.path.join(corpus, target, "rec-" + name), "wb") as f:
        f.write(data)

for entry in sorted(os.listdir(work)):
    if not entry.endswith(".after"):
        continue
    name = entry[:-len(".after")]
    before = open(os.path.join(work, name + ".before"), "rb").read()
    after = open(os.path.join(work, name + ".after"), "rb").read()
    # fuzz_receive: flags, chunk seed, stream. The whole session while no
    # installation runs; the bytes after Begin meeting a running one, whole
    # and cut at 4 KB (the first records of the upload), in mixed reads.
    put("fuzz_receive", name + "-session", bytes([0x00, 0x01]) + before + after)
    put("fuzz_receive", name + "-install", bytes([0x01, 0x01]) + after)
    put("fuzz_receive", name + "-install-4k", bytes([0x05, 0x02]) + after[:4096])
    # fuzz_script: the shipped lines, then the host's bytes as raw answers.
    answers = b"".join(bytes([0x80, len(after[i:i + 255])]) + after[i:i + 255]
                       for i in range(0, min(len(after), 16384), 255))
    put("fuzz_script", name, bytes([0x00]) + shipped + b"\0" + answers)
PYTHON
