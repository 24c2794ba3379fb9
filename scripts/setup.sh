#!/usr/bin/env bash
# Installs everything that the build, the tests and the main job need on a
# Debian 12 machine, and fetches the sources that are cross-built for Windows
# (minizip from zlib, the zstd and xdelta3 libraries). Safe to run again: it
# only does what is still missing.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEPS="$ROOT/build/deps"

PACKAGES=(
  cmake make dpkg-dev curl ca-certificates
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev
  wine wine32:i386 wine64 libwine-dev
  xvfb x11-utils imagemagick fonts-nanum fonts-wine locales
  googletest libcpp-httplib-dev libminizip-dev nginx zip unzip
  clang-14 libclang-rt-14-dev libssl-dev
  libsqlite3-dev libpq-dev postgresql chromium tesseract-ocr tesseract-ocr-kor
  libzstd-dev zstd xdelta3 bsdiff time
  llvm lld-14 nlohmann-json3-dev
  lintian
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${PACKAGES[@]}"; do
  st=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$st" = "install ok installed" ] || missing+=("$p")
done

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi
SRC=/etc/apt/sources.list.d/debian-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  as_root tee "$SRC" >/dev/null <<'SRCEOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRCEOF
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  echo "setup: installing ${missing[*]:-package lists}"
  as_root apt-get update -q
  if [ ${#missing[@]} -gt 0 ]; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
fi

# Wine takes its ANSI code page from the locale; without a generated
# ko_KR.UTF-8 it silently falls back to 1252.
if ! locale -a 2>/dev/null | grep -qi '^ko_KR\.utf-\?8$'; then
  as_root sed -i 's/^# *\(ko_KR.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi

# The patch benchmark fetches real programs' releases with npm. The machine
# may carry its own Node.js with npm; Debian's npm is installed only when
# there is none, since it would pull Debian's nodejs over that one.
if ! command -v npm >/dev/null 2>&1; then
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends npm
fi

# Libraries for the cross target come from Debian's own source packages:
# minizip from zlib, the patch decoders from libzstd and xdelta3. Each is
# fetched once into build/deps, identified by a file the build needs.
fetch_source() { # PACKAGE GLOB
  if ! ls -d "$DEPS"/$2 >/dev/null 2>&1; then
    mkdir -p "$DEPS"
    (cd "$DEPS" && apt-get source -q "$1" >/dev/null 2>&1 || { [ $need_update = 1 ] || as_root apt-get update -q; apt-get source -q "$1"; })
  fi
  ls -d "$DEPS"/$2 >/dev/null
}
fetch_source zlib 'zlib-*/contrib/minizip'
fetch_source libzstd 'libzstd-*/lib/zstd.h'
fetch_source xdelta3 'xdelta3-*/xdelta3.c'
echo "setup: ready"
