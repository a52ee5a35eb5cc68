#!/usr/bin/env bash
# Command two: install what is missing, build, and run every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"
