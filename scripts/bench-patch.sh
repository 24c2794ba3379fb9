#!/usr/bin/env bash
# Binary patch formats compared on real programs' Windows executables: two
# consecutive releases of each, fetched from the npm registry with
# `npm pack` and kept in build/bench-cache/ (never in the repository).
# For every pair and candidate it prints the patch's size, and the time
# (wall clock and processor) and peak resident memory (GNU time) to make it
# and to apply it; every applied patch is checked against the new release
# byte for byte.
#
#   scripts/bench-patch.sh                 every pair
#   scripts/bench-patch.sh esbuild bun     the named pairs
#   BENCH_BSDIFF_MAX=0 scripts/bench-patch.sh   no bsdiff at all
#   BENCH_PATCH_OTHERS=0 scripts/bench-patch.sh zstd alone (no xdelta3, no bsdiff)
#   BENCH_PATCH_LOCAL="name|OLD|NEW|what" scripts/bench-patch.sh
#                                          a pair of local files too (';' between
#                                          pairs; scripts/bench.sh gives Ulmet.exe
#                                          built at two commits)
#
# Besides the table, build/bench-patch/pairs.txt gets one line per pair and
# candidate, "NAME OLD NEW CANDIDATE PATCH-BYTES" (the files' paths; the
# candidate "zstd-19" is zstd -19 --long=W --patch-from), which
# scripts/bench.sh reads.
# Candidates: zstd --patch-from at each entry of ZSTD_LEVELS (default
# "19 22": 19 is the reference, 22 the publisher's setting) with a --long
# window covering the file; an entry "N:chain" is level N with a match chain
# that covers the whole file too (chainLog one above the window log). Level
# 19's own chain reaches only a few MB back: on the 110-155 MB programs
# level 22 or 19:chain made patches 40-64 % smaller than 19. 19:chain took
# 20-30 times the file's size in memory; 22 stayed near 1.7 GB.
# Then xdelta3 -9 with a source window covering the file, once with its
# default secondary compressor (LZMA in Debian's build) and once with djw
# (built into the library, no LZMA needed); and bsdiff for files up to
# BENCH_BSDIFF_MAX bytes (default 256 MiB; on the 110 MB programs it took
# about 9 times the file's size in memory and no longer than zstd -19).
# Progress goes to stderr, the table to stdout; each run's files stay in
# build/bench-patch/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=${ULMET_BUILD:-$ROOT/build}
CACHE=$B/bench-cache
OUT=$B/bench-patch
ZSTD_LEVELS=${ZSTD_LEVELS:-19 22}
BSDIFF_MAX=${BENCH_BSDIFF_MAX:-268435456}
say() { echo "bench-patch: $*" >&2; }
die() { echo "bench-patch: FAILED: $*" >&2; exit 1; }

# name|npm package|old version|new version|file inside the package|what it is
PAIRS=(
  "esbuild|@esbuild/win32-ia32|0.28.1|0.28.2|package/esbuild.exe|32-bit Go program"
  "next-swc|@next/swc-win32-x64-msvc|16.4.4|16.4.5|package/next-swc.win32-x64-msvc.node|64-bit Rust DLL"
  "bun|@oven/bun-windows-x64|1.4.4|1.4.5|package/bin/bun.exe|64-bit program"
)

for t in zstd xdelta3 bsdiff bspatch npm /usr/bin/time; do
  command -v "$t" >/dev/null || die "$t is missing; run scripts/setup.sh"
done

# The file FILE of PACKAGE@VERSION, fetched once into the cache.
fetch() { # PACKAGE VERSION FILE -> prints the cached path
  local key dst tmp tgz
  key=$(echo "${1#@}@$2" | tr -c 'A-Za-z0-9.\n' '_')
  dst=$CACHE/$key.bin
  if [ ! -s "$dst" ]; then
    tmp=$(mktemp -d "$CACHE/fetch.XXXXXX")
    say "fetching $1@$2"
    (cd "$tmp" && npm pack --silent "$1@$2" >npm.out 2>&1) || { cat "$tmp/npm.out" >&2; rm -rf "$tmp"; die "npm pack $1@$2"; }
    tgz=$(ls "$tmp"/*.tgz)
    tar -xzf "$tgz" -C "$tmp" "$3" || { rm -rf "$tmp"; die "$3 not in $1@$2"; }
    [ "$(head -c 2 "$tmp/$3")" = MZ ] || { rm -rf "$tmp"; die "$1@$2: $3 is no Windows executable"; }
    mv "$tmp/$3" "$dst"
    rm -rf "$tmp"
  fi
  echo "$dst"
}

calc() { awk "BEGIN { printf \"%.${2:-1}f\", $1 }"; }
# Runs a command under GNU time; leaves "wall-seconds processor-seconds
# peak-MiB" in $MEASURED. Other work on the machine stretches the wall clock;
# the processor time is the steadier figure.
MEASURED=
measure() { # LOG COMMAND...
  local log=$1; shift
  /usr/bin/time -f '%e %U %S %M' -o "$log.time" "$@" >"$log" 2>&1 || { cat "$log" >&2; die "$*"; }
  MEASURED=$(awk 'END { printf "%s %.2f %.0f", $1, $2 + $3, $4 / 1024 }' "$log.time")
}
PAIR_OLD= PAIR_NEW= PAIR_NAME=
row() { # NAME PATCH NEW MAKE APPLY
  local p n
  p=$(stat -c %s "$2"); n=$(stat -c %s "$3")
  echo "$PAIR_NAME $PAIR_OLD $PAIR_NEW $(echo "$1" | awk '{ print ($1 == "zstd" ? "zstd" $2 : $1 "-" $2 $3 $4) }') $p" >>"$OUT/pairs.txt"
  printf '| %-36s | %11d | %5s %% | %7s | %7s | %5s | %6s | %6s | %5s |\n' "$1" "$p" \
    "$(calc "100 * $p / $n")" $4 $5
}
# A window log whose window covers the larger of two files.
window_log() {
  local n=$(( $(stat -c %s "$1") > $(stat -c %s "$2") ? $(stat -c %s "$1") : $(stat -c %s "$2") ))
  local w=10
  while [ $(( 1 << w )) -lt "$n" ]; do w=$((w + 1)); done
  echo "$w"
}

bench_pair() { # NAME PACKAGE OLD NEW FILE WHAT (PACKAGE "-": OLD and NEW are files)
  local old new d w src mk ap
  if [ "$2" = - ]; then old=$3 new=$4; else old=$(fetch "$2" "$3" "$5"); new=$(fetch "$2" "$4" "$5"); fi
  PAIR_NAME=$1 PAIR_OLD=$old PAIR_NEW=$new
  d=$OUT/$1; mkdir -p "$d"
  w=$(window_log "$old" "$new")
  src=$(( 1 << w ))
  echo
  local from="$2 $3 -> $4"
  [ "$2" = - ] && from="$(basename "$(dirname "$old")")/$(basename "$old") -> $(basename "$(dirname "$new")")/$(basename "$new")"
  echo "### $1 ($6): $from, $(stat -c %s "$old") -> $(stat -c %s "$new") bytes, window 2^$w"
  echo
  echo "| candidate | patch bytes | of new | make s | make cpu s | make MiB | apply s | apply cpu s | apply MiB |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for entry in $ZSTD_LEVELS; do
    local lv=${entry%%:*} opt=() name ultra=
    name="zstd -$lv --long=$w"
    [ "$lv" -gt 19 ] && ultra=--ultra
    if [ "$entry" != "$lv" ]; then
      opt=("--zstd=chainLog=$((w + 1))"); name="$name chainLog=$((w + 1))"
    fi
    say "$1: $name"
    measure "$d/zstd$entry.make" zstd -q -f -T1 $ultra "-$lv" "--long=$w" "${opt[@]}" \
      "--patch-from=$old" "$new" -o "$d/p.zst"; mk=$MEASURED
    measure "$d/zstd$entry.apply" zstd -q -f -d "--long=$w" "--patch-from=$old" "$d/p.zst" -o "$d/out"; ap=$MEASURED
    cmp -s "$d/out" "$new" || die "$1: $name did not rebuild the new file"
    row "$name" "$d/p.zst" "$new" "$mk" "$ap"
  done
  [ "${BENCH_PATCH_OTHERS:-1}" = 1 ] || { rm -f "$d/out"; return 0; }
  for s in default djw; do
    local sec=(); [ $s = djw ] && sec=(-S djw)
    say "$1: xdelta3 -9 -B $src (${s} secondary)"
    measure "$d/xd3$s.make" xdelta3 -9 "${sec[@]}" -B "$src" -e -f -s "$old" "$new" "$d/p.vcdiff"; mk=$MEASURED
    measure "$d/xd3$s.apply" xdelta3 -B "$src" -d -f -s "$old" "$d/p.vcdiff" "$d/out"; ap=$MEASURED
    cmp -s "$d/out" "$new" || die "$1: xdelta3 ($s) did not rebuild the new file"
    row "xdelta3 -9 -S ${s/default/lzma}" "$d/p.vcdiff" "$new" "$mk" "$ap"
  done
  if [ "$(stat -c %s "$old")" -le "$BSDIFF_MAX" ]; then
    say "$1: bsdiff"
    measure "$d/bsdiff.make" bsdiff "$old" "$new" "$d/p.bsdiff"; mk=$MEASURED
    measure "$d/bsdiff.apply" bspatch "$old" "$d/out" "$d/p.bsdiff"; ap=$MEASURED
    cmp -s "$d/out" "$new" || die "$1: bsdiff did not rebuild the new file"
    row "bsdiff" "$d/p.bsdiff" "$new" "$mk" "$ap"
  else
    echo "| bsdiff | (not run: files over BENCH_BSDIFF_MAX=$BSDIFF_MAX bytes) | | | | | | | |"
  fi
  rm -f "$d/out"
}

mkdir -p "$CACHE" "$OUT"
: >"$OUT/pairs.txt"
if [ -n "${BENCH_PATCH_LOCAL:-}" ]; then
  IFS=';' read -r -a locals <<<"$BENCH_PATCH_LOCAL"
  for l in "${locals[@]}"; do
    IFS='|' read -r name v1 v2 what <<<"$l"
    PAIRS+=("$name|-|$v1|$v2||$what")
  done
fi
echo "Binary patches between consecutive releases. Times in seconds (wall clock, and"
echo "user + system processor time) on $(nproc) cores shared with other work; memory is"
echo "the peak resident set in MiB (GNU time); zstd runs one thread."
ran=0
for p in "${PAIRS[@]}"; do
  IFS='|' read -r name pkg v1 v2 file what <<<"$p"
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  bench_pair "$name" "$pkg" "$v1" "$v2" "$file" "$what"
  ran=$((ran + 1))
done
[ $ran -gt 0 ] || die "no pair named $*"
