#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the package checks
# need, only those that are missing; names given as arguments are installed
# too (scripts/screenshots.sh asks for its own that way). Runs as root (CI) or
# through password-less sudo; never asks a question.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev zlib1g-dev libgl-dev libgtest-dev
          clang libclang-rt-dev  # the sanitizer build and the fuzz targets; libclang-rt-dev follows clang's version
          clang-format clang-tidy     # scripts/lint.sh
          g++-mingw-w64-x86-64-posix  # scripts/check-windows.sh
          xvfb xauth             # a virtual display for tests and pictures of the window (xvfb-run)
          libxcb1-dev            # the desktop test reads captions back from the X server
          dpkg-dev file          # the Debian package: dpkg-shlibdeps, and file, which CPack runs on each binary
          lintian desktop-file-utils appstream  # its checks
          ansible-core ansible-lint  # the Ansible collection's test (the real ansible-playbook) and lint
          "$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo=(sudo -n)
  else
    echo "scripts/deps.sh: missing Debian packages: ${missing[*]}" >&2
    echo "scripts/deps.sh: installing them needs root; this user is not root and cannot use sudo" >&2
    echo "without a password (sudo -n true failed). Install them as root, then run this again:" >&2
    echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
    echo "(A user who may use sudo with a password can run 'sudo -v' first instead.)" >&2
    exit 1
  fi
fi

echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq </dev/null
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
