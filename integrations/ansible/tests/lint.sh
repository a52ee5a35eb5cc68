#!/usr/bin/env bash
# Lints the collection with what Debian 12 ships and what runs with nothing
# downloaded (integrations/ansible/README.md says which and why):
#   ansible-doc peltrimax.zorbelix.install      the module's documentation renders
#   ansible-test sanity, the offline tests       (those needing a Python venv are left out)
#   ansible-lint --offline                       the collection and the test's play
# Works on a copy, since ansible-test writes into the collection's tests/
# folder, with HOME in that copy so no user's settings or caches count.
# Exits 77 (skipped) when ansible-core is not installed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
collection="$here/../ansible_collections/peltrimax/zorbelix"
if ! command -v ansible-doc >/dev/null || ! command -v ansible-test >/dev/null; then
  echo "lint: ansible-core is not installed (scripts/deps.sh installs it)"
  exit 77
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/zorbelix-ansible-lint-XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/ansible_collections/peltrimax"
cp -r "$collection" "$work/ansible_collections/peltrimax/zorbelix"
cp "$here/fleet.yml" "$work/fleet.yml"
export HOME="$work/home" ANSIBLE_COLLECTIONS_PATH="$work" ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=False
export ANSIBLE_CONFIG="$work/ansible.cfg" NO_COLOR=1 PYTHONDONTWRITEBYTECODE=1
export LC_ALL=C.UTF-8  # ansible-core refuses any locale but a UTF-8 one
: >"$ANSIBLE_CONFIG"
cd "$work/ansible_collections/peltrimax/zorbelix"

echo "-- ansible-doc peltrimax.zorbelix.install"
ansible-doc peltrimax.zorbelix.install >"$work/doc.txt"
for section in OPTIONS EXAMPLES "RETURN VALUES"; do
  grep -q "^$section" "$work/doc.txt" || { cat "$work/doc.txt"; echo "lint: ansible-doc shows no $section" >&2; exit 1; }
done

# These sanity tests install their own Python packages into a venv from the
# network: left out (pslint needs PowerShell, shellcheck its program).
needs_network=(ansible-doc changelog import pep8 pylint runtime-metadata validate-modules yamllint
               pslint shellcheck)
echo "-- ansible-test sanity (offline tests)"
ansible-test sanity --local --python-interpreter /usr/bin/python3 \
  "${needs_network[@]/#/--skip-test=}"

if command -v ansible-lint >/dev/null; then
  echo "-- ansible-lint --offline"
  ansible-lint --offline --nocolor . "$work/fleet.yml"
else
  echo "-- ansible-lint is not installed: not run (scripts/deps.sh installs it)"
fi
