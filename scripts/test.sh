#!/usr/bin/env bash
# Command two: install what is missing, build, lint (scripts/lint.sh),
# compile the Windows branches (scripts/check-windows.sh), and run every test
# with CTest; build the Debian package and check it
# (packaging/check-package.sh); then the same suite built with clang under
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, and a short
# run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
# Warnings fail CI's builds; a developer's own builds only show them.
scripts/build.sh build -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
# clang-format and clang-tidy (on the build's compile commands), and the
# Windows branches compiled with mingw-w64.
scripts/lint.sh build
scripts/check-windows.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"

# The Debian package of that build: lintian (no errors), the desktop entry and
# metainfo validators, and the extracted programs run from / (packaging/README.md).
cmake --build build --target package
packaging/check-package.sh build

# Sanitizer build (build-asan): any report fails the test that caused it.
# The only leak suppressions are for libraries outside the project; each is
# explained in scripts/lsan.supp.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
CC=clang CXX=clang++ scripts/build.sh build-asan \
  -DZORBELIX_SANITIZE=ON -DZORBELIX_FUZZ=ON -DZORBELIX_BENCH=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

# About a minute of each fuzz target of the installer's core and half a
# minute of the command line's and the simulator's, from the committed
# corpora (six minutes would be too long a share of CI).
fuzz/run.sh build-asan 60 fuzz_receive fuzz_script fuzz_window fuzz_pure
fuzz/run.sh build-asan 30 fuzz_cli fuzz_sim
