#!/usr/bin/env bash
# Configures and builds the three test trees: build/win (Windows, cross; on a
# machine that runs no 32-bit programs also build/win64, see machine.sh),
# build/native (portable code and its tests under the sanitizers) and
# build/fuzz (the portable code's libFuzzer targets, built with clang; the
# native tree's tests run them); then the operators' tools for production
# and their Debian packages (build/release, scripts/build-release.sh).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=${JOBS:-$(nproc)}
B=${ULMET_BUILD:-$ROOT/build}
cmake -S "$ROOT" -B "$B/win" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release ${ULMET_CMAKE_ARGS:-} >/dev/null
cmake --build "$B/win" -j "$JOBS"
source "$ROOT/scripts/machine.sh"
WIN_TREE=$(ulmet_win_tree)
if [ "$WIN_TREE" != win ]; then
  cmake -S "$ROOT" -B "$B/$WIN_TREE" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$(ulmet_win_toolchain).cmake" \
    -DCMAKE_BUILD_TYPE=Release ${ULMET_CMAKE_ARGS:-} >/dev/null
  cmake --build "$B/$WIN_TREE" -j "$JOBS"
fi
cmake -S "$ROOT" -B "$B/native" -DCMAKE_BUILD_TYPE=Debug -DULMET_WIN_TREE="$B/$WIN_TREE" >/dev/null
cmake --build "$B/native" -j "$JOBS"
CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B "$B/fuzz" -DULMET_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/fuzz" -j "$JOBS"
"$ROOT/scripts/build-release.sh"
