#!/usr/bin/env bash
# Compiles the Windows side of the platform code on Linux: every Windows
# file (*_win.cpp), every source file of the programs and the test doubles
# that holds a _WIN32 branch or includes a header that does, is checked with
# Debian's mingw-w64 cross compiler (which defines _WIN32) against the Qt
# headers (-fsyntax-only: Debian packages no Qt for Windows, so nothing can be
# linked). Catches what the Linux build never sees: a misspelt Win32 call,
# a missing include, a branch that no longer matches the code around it.
set -euo pipefail
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null; then
  echo "scripts/check-windows.sh: $compiler is missing (scripts/deps.sh installs g++-mingw-w64-x86-64-posix)" >&2
  exit 1
fi
qt=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)

# A POSIX file (*_posix.cpp) is never built for Windows, and is left out.
roots=('src/*' 'tools/*' 'tests/support/*')
mapfile -t sources < <(git ls-files "${roots[@]/%/.cpp}" | grep -v '_posix\.cpp$')
mapfile -t headers < <(git ls-files "${roots[@]/%/.h}" | xargs grep -l '_WIN32' || true)
includes=()
for header in "${headers[@]}"; do
  includes+=(-e "#include \"\([a-z_-]*/\)\?$(basename "$header")\"")
done
mapfile -t files < <(
  { printf '%s\n' "${sources[@]}" | grep '_win\.cpp$' || true
    printf '%s\n' "${sources[@]}" | xargs grep -l -e '_WIN32' "${includes[@]}" || true
  } | sort -u)
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Werror
       -DQT_STATIC  # no dllimport: Qt's Linux headers mix it with plain declarations
       -DZORBELIX_VERSION='"0"' -Isrc -Itools/mpe-host-sim -Itests/support
       -I"$qt" -I"$qt/QtCore" -I"$qt/QtNetwork" -I"$qt/QtGui" -I"$qt/QtWidgets" -I"$qt/QtTest")
printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -I{} "$compiler" "${flags[@]}" {}
echo "scripts/check-windows.sh: ${#files[@]} files compile for Windows"
