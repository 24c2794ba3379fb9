#!/usr/bin/env bash
# Configures and builds both trees: build/win (Windows, cross) and
# build/native (portable code and its tests under the sanitizers).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=${JOBS:-$(nproc)}
B=${ULMET_BUILD:-$ROOT/build}
cmake -S "$ROOT" -B "$B/win" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release ${ULMET_CMAKE_ARGS:-} >/dev/null
cmake --build "$B/win" -j "$JOBS"
cmake -S "$ROOT" -B "$B/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$B/native" -j "$JOBS"
