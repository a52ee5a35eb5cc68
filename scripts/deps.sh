#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# Runs as root (CI) or through sudo; never asks a question.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev zlib1g-dev libgl-dev
          libgtest-dev libbenchmark-dev
          clang libclang-rt-14-dev  # the sanitizer build and the fuzz targets
          "$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
