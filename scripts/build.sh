#!/usr/bin/env bash
# Configures and builds the three test trees: build/win (Windows, cross),
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
cmake -S "$ROOT" -B "$B/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$B/native" -j "$JOBS"
CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B "$B/fuzz" -DULMET_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/fuzz" -j "$JOBS"
"$ROOT/scripts/build-release.sh"
