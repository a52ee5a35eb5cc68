#!/usr/bin/env bash
# Configures and builds the project into build/ (or the folder given); further
# arguments go to CMake's configure step. BUILD_TARGETS="a b" builds only
# those targets (and what they need) instead of everything.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
# shellcheck disable=SC2086  # the target names are words
cmake --build "$dir" -j "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
