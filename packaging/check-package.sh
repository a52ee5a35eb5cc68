#!/usr/bin/env bash
# Checks the Debian package in BUILD_DIR (made by `cmake --build BUILD_DIR
# --target package`) as a user gets it:
#
#   packaging/check-package.sh BUILD_DIR
#
# lintian on the .deb (any error fails); then the package is extracted with
# dpkg-deb into a temporary root, where desktop-file-validate and appstreamcli
# check the shipped desktop entry and metainfo (and that the icon and program
# it names are there), and the shipped programs run from / with the
# environment as it is (no LD_LIBRARY_PATH, no build folder): the simulator's
# help, the simulator listening and stopping cleanly, the window offscreen
# for a few seconds, and one shipped installation by the unattended
# installer against the simulator; the Ansible collection is where
# ansible-core finds it, and ansible-doc renders its module from there.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 64; }
build="$(cd "$1" && pwd)"
payload="$(cd "$(dirname "$0")/.." && pwd)/resources/payloads/ZORBELIX"
app_id=com.peltrimax.ZorbelixInstaller

version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
deb="$build/zorbelix-installer_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "check-package: $deb is missing; build it with: cmake --build $1 --target package" >&2; exit 1; }
echo "== $(basename "$deb")"

echo "-- lintian"
lintian --fail-on error --display-info "$deb"

root="$(mktemp -d "${TMPDIR:-/tmp}/zorbelix-package-XXXXXX")"
sim_pid=""
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/fs"
bin="$root/fs/usr/bin"

echo "-- desktop-file-validate, appstreamcli validate"
desktop-file-validate "$root/fs/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/fs/usr/share/metainfo/$app_id.metainfo.xml"
# The names that tie them together: the desktop entry's icon and program.
icon="$(sed -n 's/^Icon=//p' "$root/fs/usr/share/applications/$app_id.desktop")"
[ -f "$root/fs/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "check-package: no icon $icon.svg" >&2; exit 1; }
program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$root/fs/usr/share/applications/$app_id.desktop")"
[ -x "$bin/$program" ] || { echo "check-package: the desktop entry runs $program, which is not in /usr/bin" >&2; exit 1; }

cd /

echo "-- mpe-host-sim --help"
"$bin/mpe-host-sim" --help >"$root/help.txt"
grep -q -- '--listen' "$root/help.txt" || { cat "$root/help.txt"; echo "check-package: the help lists no --listen" >&2; exit 1; }

# Starts the extracted simulator on a free port with a fresh store, waits for
# its listening line, runs the given command with every PORT in its arguments
# replaced by the simulator's port, then stops the simulator and requires
# verdict 0 (no protocol deviation, every --expect matched). The store stays
# in $root/store for the caller to inspect.
with_simulator() {
  rm -rf "$root/store" && mkdir "$root/store"
  "$bin/mpe-host-sim" --listen 127.0.0.1:0 --store "$root/store" 2>"$root/sim.log" &
  sim_pid=$!
  local port="" waited=0
  until port="$(sed -n 's/^mpe-host-sim: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$root/sim.log")"; [ -n "$port" ]; do
    if ! kill -0 "$sim_pid" 2>/dev/null || [ $waited -ge 100 ]; then
      cat "$root/sim.log" >&2
      echo "check-package: the extracted mpe-host-sim did not start listening within 10 s" >&2
      exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  "${@//PORT/$port}"
  kill -TERM "$sim_pid"
  local verdict=0
  wait "$sim_pid" || verdict=$?
  sim_pid=""
  if [ $verdict -ne 0 ]; then
    cat "$root/sim.log" >&2
    echo "check-package: mpe-host-sim ended with verdict $verdict" >&2
    exit 1
  fi
}

echo "-- mpe-host-sim listens and stops cleanly"
with_simulator true

echo "-- zorbelix-installer starts (offscreen, 5 s)"
status=0
QT_QPA_PLATFORM=offscreen timeout 5 "$bin/zorbelix-installer" </dev/null >"$root/window.log" 2>&1 || status=$?
if [ $status -ne 124 ]; then
  cat "$root/window.log" >&2
  echo "check-package: the extracted zorbelix-installer ended with status $status before 5 s" >&2
  exit 1
fi

echo "-- zorbelix-install --help"
"$bin/zorbelix-install" --help >"$root/install-help.txt"
grep -q -- '--hosts' "$root/install-help.txt" || { cat "$root/install-help.txt"; echo "check-package: the help lists no --hosts" >&2; exit 1; }

# One whole shipped installation with the extracted programs: the installer
# must end with status 0 and the simulator must hold the shipped payload
# byte for byte.
install_shipped() {
  "$bin/zorbelix-install" --host 127.0.0.1 --port "$1" --logon MANAGER.SYS >"$root/install.log" 2>&1 || {
    cat "$root/install.log" >&2
    echo "check-package: the extracted zorbelix-install failed" >&2
    exit 1
  }
}
echo "-- zorbelix-install: the shipped installation on the extracted simulator"
with_simulator install_shipped PORT
tail -n 1 "$root/install.log"
cmp "$payload" "$root/store/SYS/PUB/ZORBELIX" || { echo "check-package: the installed ZORBELIX differs from $payload" >&2; exit 1; }

# The Ansible collection where Debian's ansible-core looks without
# configuration; its module documentation must render from there.
echo "-- the Ansible collection peltrimax.zorbelix"
collections="$root/fs/usr/share/ansible/collections"
[ -f "$collections/ansible_collections/peltrimax/zorbelix/plugins/modules/install.py" ] ||
  { echo "check-package: no peltrimax.zorbelix collection under /usr/share/ansible/collections" >&2; exit 1; }
if command -v ansible-doc >/dev/null; then
  LC_ALL=C.UTF-8 ANSIBLE_COLLECTIONS_PATH="$collections" ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=False \
    ansible-doc peltrimax.zorbelix.install >"$root/ansible-doc.txt"
  grep -q "^RETURN VALUES" "$root/ansible-doc.txt" || { cat "$root/ansible-doc.txt"; echo "check-package: ansible-doc shows no return values" >&2; exit 1; }
else
  echo "(ansible-doc is not installed: the documentation is not rendered)"
fi

echo "check-package: $(basename "$deb") passed"
