#!/usr/bin/env bash
# The release tree of the operators' tools (ulmet-publish, ulmet-reports):
# optimised, without the sanitizers, with Debian's hardening flags from
# dpkg-buildflags; then their Debian packages (CPack's DEB generator) in
# build/release/packages, checked by lintian. The test trees stay as they
# are; scripts/build.sh calls this after them.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=${JOBS:-$(nproc)}
B=${ULMET_BUILD:-$ROOT/build}/release
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
cmake -S "$ROOT" -B "$B" -DCMAKE_BUILD_TYPE=None -DULMET_SANITIZE=OFF -DULMET_PACKAGES=ON \
  -DCMAKE_C_FLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" ${ULMET_CMAKE_ARGS:-} >/dev/null
cmake --build "$B" -j "$JOBS" --target ulmet-publish ulmet-reports ulmet-publish-doc ulmet-reports-doc
rm -rf "$B/packages"
(cd "$B" && cpack -G DEB >/dev/null)
for deb in "$B"/packages/*.deb; do
  # Errors fail the build; warnings are printed.
  lintian --fail-on error "$deb" || { echo "lintian: errors in $deb" >&2; exit 1; }
done
ls "$B"/packages/*.deb
