#!/usr/bin/env bash
# The updater's speed in one table. Each row: this project's figure, a
# reference measured in the same run on the same data, the bound that the
# mandated 1 ms pauses set (one after every 4 KB network read, one after
# every 32 KB digest chunk, as a tree without "[PACE]" has it), and the
# ratios; then the rows of trees made with ulmet-publish's defaults
# ("[PACE]" and the verified-state record), each beside its reference and
# its target. Builds what it needs (both trees
# and a Release tree without the sanitizers for the digest), starts the Wine
# environment and ends non-zero when any run did not do its work.
#
#   scripts/bench.sh          (as root, like the tests: the server uses port 80)
#   scripts/bench.sh chunks   the rows of big packs by their changed chunks alone
#   scripts/bench.sh patches [PAIR...]  the rows of programs' new builds by patch
#                             alone (not under the port-80 lock: it takes it
#                             for the updater's runs only)
#   scripts/bench.sh operators  the operators' tools, release build beside the sanitizer build
#   scripts/bench.sh pace     the rows of init's trees ("[PACE]" and the record)
#                             alone, with the default tree's pause tests
#
# Everything that listens on port 80 (the test server, the scenarios) holds
# /tmp/ulmet-port80.lock while it does, one step at a time, since other
# work on this machine uses the port too. The programs started under the lock
# do not inherit it (flock -o, 9>&-): Wine's desktop process and console
# hosts outlive the step that started them and would hold it for ever.
#
# Progress goes to stderr, the table to stdout; every run's output stays in
# build/bench-runs/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=${ULMET_BUILD:-$ROOT/build}
OUT=$B/bench-runs
say() { echo "bench: $*" >&2; }
die() { echo "bench: FAILED: $*" >&2; exit 1; }

source "$ROOT/scripts/machine.sh"
WIN_TREE=$(ulmet_win_tree)  # build/win64 where this machine runs no 32-bit programs
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
STARTED=$(date -u '+%H:%M')
mkdir -p "$B"
rm -rf "$OUT"
mkdir -p "$OUT"
say "building (log in $OUT/build.log)"
{
  if [ "${1:-}" = pace ]; then
    # What these rows run, and no more: the machine's two cores are shared.
    cmake --build "$B/$WIN_TREE" -j "${JOBS:-2}" && cmake --build "$B/native" -j "${JOBS:-2}" \
      --target testbed_server ul_scenarios ulmet-publish
  else
    "$ROOT/scripts/build.sh"
  fi &&
  if [ "${1:-}" != patches ] && [ "${1:-}" != pace ]; then
    cmake -S "$ROOT" -B "$B/bench" -DCMAKE_BUILD_TYPE=Release -DULMET_SANITIZE=OFF ${ULMET_CMAKE_ARGS:-} >/dev/null &&
    cmake --build "$B/bench" -j "${JOBS:-$(nproc)}" --target ul_digest_bench ul_file_digest_bench
  fi
} >"$OUT/build.log" 2>&1 || die "build; see $OUT/build.log"

HOST=$(sed -n 's/^ULMET_CONFIG_HOST:STRING=//p' "$B/$WIN_TREE/CMakeCache.txt")
[ -n "$HOST" ] || die "no configuration host in $B/$WIN_TREE/CMakeCache.txt"
source "$ROOT/scripts/wine-env.sh"
SERVER_PID=
PORT80_LOCK=${ULMET_PORT80_LOCK:-/tmp/ulmet-port80.lock}
stop_server() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null; fi
  SERVER_PID=
  # The port is free again for others.
  { flock -u 9; exec 9>&-; } 2>/dev/null || true
}
# "scripts/bench.sh patches" spends most of its time making patches, which
# needs no port: it takes the port-80 lock (PORT80_LOCK) only for the
# updater's runs and starts Wine then (and stops it only if it did: until
# then the display may serve someone else's run). Every mode takes the lock
# itself, step by step: never run this script under the lock.
WINE_STARTED=0
trap 'stop_server; [ $WINE_STARTED = 0 ] || wine_env_stop' EXIT
start_wine() { wine_env_start || die "the Wine environment did not start"; WINE_STARTED=1; }
[ "${1:-}" = patches ] || start_wine

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.${2:-3}f\", ($1) }"; }
# "met" when a figure is at most its limit, else "MISSED".
verdict() { awk "BEGIN { exit !($1 <= $2) }" && echo met || echo MISSED; }
# A figure "NAME VALUE" from a file of such lines (the Windows programs end
# them with CR LF); the run failed without it.
fig() {
  local v
  v=$(awk -v n="$2" '{ sub(/\r$/, "") } $1 == n { print $2; exit }' "$1" 2>/dev/null)
  [ -n "$v" ] || die "no figure $2 in $1"
  echo "$v"
}
# The test server on the configuration host, serving one folder (more
# options of it after the folder, e.g. --rate-mbit N). It holds the port's
# lock until stop_server.
serve() {
  local root=$1
  shift
  stop_server
  exec 9>>"$PORT80_LOCK"
  flock 9
  rm -f "$OUT/ready"
  "$B/native/bin/testbed_server" --root "$root" --log /dev/null --bind "$HOST" --port 80 \
    --ready-file "$OUT/ready" "$@" </dev/null >"$OUT/server.out" 2>&1 9>&- &
  SERVER_PID=$!
  for _ in $(seq 1 200); do
    [ -f "$OUT/ready" ] && return 0
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.05
  done
  die "the test server did not start on $HOST:80: $(cat "$OUT/server.out")"
}
# One disabled benchmark scenario; its figures file.
scenario() {
  say "scenario $1"
  flock -o "$PORT80_LOCK" "$B/native/tests/scenarios/ul_scenarios" --gtest_also_run_disabled_tests --gtest_filter="$1" \
    >"$OUT/$1.out" 2>&1 || die "scenario $1; see $OUT/$1.out"
  echo "$B/native/scenarios/$1/figures.txt"
}
# Best wall time of three runs of a command (its output into files).
best_of_3() {
  local best= t0 t i
  for i in 1 2 3; do
    t0=$(now)
    "$@" >"$OUT/ref.out" 2>"$OUT/ref.err" || return 1
    t=$(calc "$(now) - $t0")
    if [ -z "$best" ] || awk "BEGIN { exit !($t < $best) }"; then best=$t; fi
  done
  echo "$best"
}

# curl fetching the ranges a chunk scenario asked for (its ranges.txt, beside
# its figures file $1) from the same tree ($2), over one connection: its best
# time of three. The bytes must be the ones the updater was sent.
curl_same_ranges() {
  local ranges curl_bytes sent curl_s
  ranges=$(dirname "$1")/ranges.txt
  [ -s "$ranges" ] || die "no ranges in $ranges"
  # One group of options a range ("next" between them); curl keeps the
  # connection from group to group.
  awk -v h="$HOST" 'NR > 1 { print "next" } { print "url = \"http://" h "/Ulmet3/files/Data/pack.pak\"\nrange = \"" $1 "\"\noutput = \"/dev/null\"\nsilent\nwrite-out = \"%{http_code} %{size_download}\\n\"" }' \
    "$ranges" >"$OUT/chunk-curl.txt"
  serve "$2"
  curl_ranges() { curl -K "$OUT/chunk-curl.txt" >"$OUT/chunk-curl.out"; }
  curl_s=$(best_of_3 curl_ranges) || die "curl did not fetch the ranges"
  curl_ranges
  curl_bytes=$(awk '$1 == 206 { b += $2 } END { print b + 0 }' "$OUT/chunk-curl.out")
  stop_server
  sent=$(fig "$1" pack_sent_bytes)
  [ "$curl_bytes" = "${sent%.*}" ] || die "curl fetched $curl_bytes bytes of ranges, the updater $sent"
  echo "$curl_s"
}

# The tests that count the pauses without "[PACE]": one after every read of
# at most 4,096 bytes, one after every 32 KB digest chunk.
PAUSE_TESTS=Download.EachReadIsFollowedByItsPauseAtThePacesSize:DigestPassTest.EachReadIsFollowedByItsPauseAtThePacesSize

# --- big packs by their changed chunks ------------------------------------
# A pack of 256 MB and one of 2 GB with 1 MB changed, in one place or spread
# over ten places: made by its changed chunks, beside the whole download of
# today and curl fetching the same ranges over one connection from the same
# server. The packs and their trees are made once below the native tree's
# scenario folder (removed at the end unless ULMET_BENCH_KEEP_CLIENTS=1).
# Prints its rows; "scripts/bench.sh chunks" measures these alone.
chunk_rows() {
  local size mb places n f whole tree sent curl_s
  crow() { printf '%-6s %-10s %12s %9s %8s %9s  %-26s %s\n' "$@"; }
  echo "Big packs by their changed chunks, 1 MB changed (bytes the server sent for the pack; the whole run; the updater's"
  echo "peak memory; index: its share of the pack; curl: the same ranges, one connection, no pause):"
  crow "pack" "change" "sent" "seconds" "peak" "index" "whole download (today)" "curl, same ranges"
  for size in 256MB 2GB; do
    mb=$([ $size = 2GB ] && echo 2048 || echo 256)
    whole=$(scenario "ChunkBench.DISABLED_Pack${size}Whole")
    for places in OnePlace TenPlaces; do
      n=$([ $places = OnePlace ] && echo 1 || echo 10)
      f=$(scenario "ChunkBench.DISABLED_Pack${size}${places}")
      ranges=$(dirname "$f")/ranges.txt
      tree=$B/native/scenarios/bench-clients/chunks-$mb/tree-$n-chunks
      curl_s=$(curl_same_ranges "$f" "$tree")
      crow "$size" "$n place$([ $n = 1 ] || echo s)" "$(calc "$sent / 1048576" 2) MB" "$(calc "$(fig "$f" run_s)" 1) s" \
           "$(calc "$(fig "$f" peak_kb) / 1024" 1) MB" "$(calc "100 * $(fig "$f" index_bytes) / ($mb * 1048576)" 4)%" \
           "$(calc "$(fig "$whole" pack_sent_bytes) / 1048576" 0) MB, $(calc "$(fig "$whole" run_s)" 1) s, $(calc "$(fig "$whole" peak_kb) / 1024" 1) MB" \
           "$(calc "$curl_s" 2) s, $(fig "$f" requests | cut -d. -f1) ranges"
    done
  done
}
# --- programs' new builds by patch ----------------------------------------
# Pairs of two consecutive releases of real programs' Windows executables
# (fetched from the npm registry into build/bench-cache/ by
# scripts/bench-patch.sh) and Ulmet.exe built at two commits (the old one from
# that commit's files below build/). scripts/bench-patch.sh first weighs
# the candidate formats on every pair and gives the reference: zstd -19
# --long=W --patch-from, the window covering the larger file. Then, per
# pair, ulmet-publish makes the tree (init --patches with the old build as
# Program.exe, release with the new; its time and peak memory measured, its
# verify applies the patch from the tree's history), and the updater runs
# under Wine on an installed client with the old build three times: by
# patch, by chunks (the tree without [PATCHLIST]) and whole (without
# [CHUNKLIST] too). Prints its rows; "scripts/bench.sh patches" measures
# these alone.
ULMET_OLD_COMMIT=${ULMET_BENCH_OLD_COMMIT:-52d6498}
ulmet_at_commit() { # the old Ulmet.exe, built once from that commit's files
  local wt=$B/bench-ulmet-$ULMET_OLD_COMMIT
  if [ ! -f "$wt/build/win/bin/Ulmet.exe" ]; then
    say "building Ulmet.exe at $ULMET_OLD_COMMIT (log in $OUT/ulmet-old.log)"
    # The commit's files alone (git archive), not a worktree the repository
    # would have to keep track of.
    [ -f "$wt/CMakeLists.txt" ] || { mkdir -p "$wt" && git -C "$ROOT" archive "$ULMET_OLD_COMMIT" | tar -x -C "$wt"; } \
      >"$OUT/ulmet-old.log" 2>&1 || die "no files of $ULMET_OLD_COMMIT; see $OUT/ulmet-old.log"
    { cmake -S "$wt" -B "$wt/build/win" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$(ulmet_win_toolchain).cmake" \
        -DCMAKE_BUILD_TYPE=Release -DULMET_DEPS_DIR="$B/deps" &&
      cmake --build "$wt/build/win" -j "${JOBS:-$(nproc)}" --target Ulmet; } >>"$OUT/ulmet-old.log" 2>&1 ||
      die "building Ulmet.exe at $ULMET_OLD_COMMIT; see $OUT/ulmet-old.log"
  fi
  echo "$wt/build/win/bin/Ulmet.exe"
}
# A pair's trees (no port needed): init --patches with the old build as
# Program.exe, release with the new (its time and peak memory measured),
# verify (which applies the patch from the tree's history); then the same
# tree without [PATCHLIST], and without [CHUNKLIST] too.
patch_trees() { # NAME OLD NEW
  local d=$OUT/patches/$1 pub=$B/native/bin/ulmet-publish
  rm -rf "$d" && mkdir -p "$d/old" "$d/new"
  cp "$B/$WIN_TREE/bin/UlmetMain.exe" "$d/old/" && cp "$B/$WIN_TREE/bin/UlmetMain.exe" "$d/new/"
  cp "$2" "$d/old/Program.exe" && cp "$3" "$d/new/Program.exe"
  "$pub" init --client "$d/old" --out "$d/tree" --host "$HOST" --patches >"$d/init.out" 2>&1 || die "init; see $d/init.out"
  say "$1: ulmet-publish release makes the patch"
  /usr/bin/time -f '%e %M' -o "$d/release.time" "$pub" release --tree "$d/tree" --client "$d/new" \
    >"$d/release.out" 2>&1 || die "release; see $d/release.out"
  grep -q '^patches: 1 listed' "$d/release.out" || die "$1: no patch listed; see $d/release.out"
  "$pub" verify "$d/tree" >"$d/verify.out" 2>&1 || die "$1: verify; see $d/verify.out"
  cp -al "$d/tree" "$d/tree-chunks"
  sed -i '/^\[PATCHLIST\]$/,+1d' "$d/tree-chunks/UlLaunch/ULProgram.cfg"
  cp -al "$d/tree-chunks" "$d/tree-whole"
  sed -i '/^\[CHUNKLIST\]$/,+1d' "$d/tree-whole/UlLaunch/ULProgram.cfg"
}
# The updater under Wine on an installed client with the old build, three
# times: by patch, by chunks and whole (port 80 needed).
patch_runs() { # NAME NEW
  local d=$OUT/patches/$1 way tree
  for way in patch chunks whole; do
    tree=$d/tree; [ $way = patch ] || tree=$d/tree-$way
    say "$1: the updater, $way"
    ULMET_BENCH_CLIENT=$d/old ULMET_BENCH_TREE=$tree ULMET_BENCH_NAME=Program.exe ULMET_BENCH_NEW=$2 \
      "$B/native/tests/scenarios/ul_scenarios" --gtest_also_run_disabled_tests \
      --gtest_filter=PatchBench.DISABLED_NewBuild >"$d/$way.out" 2>&1 || die "$1, $way; see $d/$way.out"
    cp "$B/native/scenarios/PatchBench.DISABLED_NewBuild/figures.txt" "$d/$way.txt"
    [ "$(fig "$d/$way.txt" made_by_patch | cut -d. -f1)" = $([ $way = patch ] && echo 1 || echo 0) ] ||
      die "$1, $way: not made that way"
  done
}
# A pair's row from its runs' figures.
patch_row() { # NAME NEW ZSTD19-BYTES
  local d=$OUT/patches/$1 size patch list mk_s mk_mb
  size=$(stat -c %s "$2")
  patch=$(find "$d/tree/Ulmet3/patches" -name '*.zst' -printf '%s\n' | head -1)
  list=$(stat -c %s "$d/tree/Ulmet3/patches/ULPatchList.dat")
  read -r mk_s mk_mb < <(awk '{ printf "%s %.0f\n", $1, $2 / 1024 }' "$d/release.time")
  prow "$1" "$(calc "$size / 1048576" 1) MB" "$(fig "$d/patch.txt" patch_sent_bytes | cut -d. -f1)" \
       "$(calc "$(fig "$d/patch.txt" patch_sent_bytes) / $3" 2)x" "$3" \
       "$(calc "($(fig "$d/chunks.txt" chunk_sent_bytes) + $(fig "$d/chunks.txt" file_sent_bytes)) / 1048576" 2) MB" \
       "$(fig "$d/patch.txt" apply_ms | cut -d. -f1) ms" \
       "$(calc "$(fig "$d/patch.txt" peak_anon_kb) / 1024" 1) / $(calc "$(fig "$d/whole.txt" peak_anon_kb) / 1024" 1) MB" \
       "$(calc "$(fig "$d/patch.txt" run_s)" 1) / $(calc "$(fig "$d/chunks.txt" run_s)" 1) / $(calc "$(fig "$d/whole.txt" run_s)" 1) s" \
       "$(grep -o 'level [0-9]*' "$d/release.out" | head -1), ${mk_s} s, ${mk_mb} MB"
  echo "  $1: patch $patch bytes + list $list bytes" >>"$OUT/patches/sizes.txt"
}
prow() { printf '%-9s %8s %11s %7s %11s %11s %9s %17s %20s  %s\n' "$@"; }
patch_rows() { # [PAIR...] (scripts/bench-patch.sh's names, "ulmet" for our own; default all)
  local old_ulmet pairs name v1 v2 z
  mkdir -p "$OUT/patches"
  : >"$OUT/patches/sizes.txt"
  old_ulmet=$(ulmet_at_commit)
  say "the candidates on the pairs (scripts/bench-patch.sh; table in $OUT/patches/candidates.md)"
  ZSTD_LEVELS=19 BENCH_PATCH_LOCAL="ulmet|$old_ulmet|$B/$WIN_TREE/bin/Ulmet.exe|our own updater, $ULMET_OLD_COMMIT -> $(git -C "$ROOT" rev-parse --short HEAD)" \
    "$ROOT/scripts/bench-patch.sh" "$@" >"$OUT/patches/candidates.md" 2>"$OUT/patches/candidates.err" ||
    die "scripts/bench-patch.sh; see $OUT/patches/candidates.md and candidates.err"
  pairs=$(awk '$4 == "zstd-19" { print $1, $2, $3, $5 }' "$B/bench-patch/pairs.txt")
  while read -r name v1 v2 z; do patch_trees "$name" "$v1" "$v2"; done <<<"$pairs"
  {
    say "waiting for $PORT80_LOCK"
    flock 9
    start_wine
    while read -r name v1 v2 z; do patch_runs "$name" "$v2"; done <<<"$pairs"
  } 9>>"$PORT80_LOCK"
  echo "Programs' new builds by patch: bytes the server sent for the executable by patch (patch and list), beside"
  echo "zstd -19 --long --patch-from's patch of the same pair (goal: within 1.25x) and the chunk transfer (ranges and index);"
  echo "the patch's apply time and the updater's peak anonymous memory by patch and whole; the whole runs; ulmet-publish"
  echo "release's level, time and peak memory (the candidates: $OUT/patches/candidates.md):"
  prow "program" "size" "by patch" "vs -19" "zstd -19" "by chunks" "apply" "peak anon p/whole" "run s patch/chk/whole" "publisher"
  while read -r name v1 v2 z; do patch_row "$name" "$v2" "$z"; done <<<"$pairs"
  cat "$OUT/patches/sizes.txt"
}
if [ "${1:-}" = patches ]; then
  shift
  patch_rows "$@" | tee "$OUT/table.txt"
  exit 0
fi
# --- the operators' tools: the packaged build beside the tests' build -------
# For build/release (optimised, no sanitizers, hardened: what the packages
# hold) and build/native (the tests' Debug build with ASan and UBSan):
# posts a second into SQLite from 50 senders, symbolising the 10,000
# stored reports of a client version (symbols add: the program with its
# DWARF and its map; time and peak memory), and ulmet-publish release of a
# 1 GB client (one 256 MB pack changed in 1 MB, ten small files changed,
# five added). Prints its rows; "scripts/bench.sh operators" measures these alone.
operator_rows() {
  local d=$OUT/operators posts=${OPERATOR_BENCH_POSTS:-10000} c build bin pid port
  rm -rf "$d"
  mkdir -p "$d"
  cmake --build "$B/release" -j "${JOBS:-$(nproc)}" --target reports_load >>"$OUT/build.log" 2>&1 ||
    die "building reports_load in the release tree; see $OUT/build.log"
  # The client of the symbols, built with debug information and crashed
  # under Wine through the test bed's handler: every post carries its log.
  c=$d/client
  mkdir -p "$c"
  say "operators: the crashing client, built and crashed"
  i686-w64-mingw32-g++-posix -std=c++17 -g -O0 -fno-omit-frame-pointer -static -static-libgcc -static-libstdc++ \
    -I"$ROOT" -I"$ROOT/testbed" -I"$ROOT/testbed/win" "$ROOT/testbed/win/crashme.cpp" \
    "$ROOT/testbed/win/crash_handler.cpp" "$ROOT/testbed/common/crash_log.cpp" -o "$c/UlmetMain.exe" \
    -Wl,-Map="$c/UlmetMain.map" >"$d/client-build.log" 2>&1 || die "building the client; see $d/client-build.log"
  (cd "$c" && wine ./UlmetMain.exe 1004 bench </dev/null >/dev/null 2>&1) || true
  [ -s "$c/Log/bench_exception.log" ] || die "the client wrote no crash log"
  # A 1 GB client and its next version.
  say "operators: a 1 GB client"
  mkdir -p "$d/c1000/Data/small" "$d/c1000/Data/packs"
  for i in 1 2 3; do head -c 268435456 /dev/urandom >"$d/c1000/Data/packs/pack$i.pak"; done
  for i in $(seq 1 1000); do head -c 262144 /dev/urandom >"$d/c1000/Data/small/f$i.dat"; done
  cp "$c/UlmetMain.exe" "$d/c1000/UlmetMain.exe"
  cp -al "$d/c1000" "$d/c1001"
  rm "$d/c1001/Data/packs/pack2.pak"
  cp "$d/c1000/Data/packs/pack2.pak" "$d/c1001/Data/packs/pack2.pak"
  head -c 1048576 /dev/urandom | dd of="$d/c1001/Data/packs/pack2.pak" bs=1M seek=100 conv=notrunc status=none
  for i in $(seq 1 10); do rm "$d/c1001/Data/small/f$i.dat"; head -c 262144 /dev/urandom >"$d/c1001/Data/small/f$i.dat"; done
  for i in $(seq 1 5); do head -c 262144 /dev/urandom >"$d/c1001/Data/small/new$i.dat"; done
  "$B/release/bin/ulmet-publish" init --client "$d/c1000" --out "$d/tree0" --host 127.0.0.1 >"$d/init.log" 2>&1 ||
    die "ulmet-publish init; see $d/init.log"
  # "seconds peak_kB" of a command (its output in $d/out).
  measure() { /usr/bin/time -f "%e %M" -o "$d/time" "$@" >"$d/out" 2>&1 || die "$*: $(tail -3 "$d/out")"; cat "$d/time"; }
  local -A recv p99 sym_s sym_kb pub_s pub_kb
  for build in release native; do
    bin=$B/$build/bin
    say "operators: $build build: $posts posts"
    rm -f "$d/ready"
    "$bin/ulmet-reports" serve --listen 127.0.0.1:0 --store "sqlite:$d/$build.db" --post-rate 0 \
      --connections-per-address 0 --min-free-mb 0 --ready-file "$d/ready" >"$d/serve-$build.log" 2>&1 &
    pid=$!
    for _ in $(seq 1 300); do [ -f "$d/ready" ] && break; sleep 0.05; done
    port=$(cut -d' ' -f2 "$d/ready" 2>/dev/null) || { kill $pid; die "ulmet-reports did not start"; }
    "$B/release/bin/reports_load" --port "$port" --posts "$posts" --senders 50 --uid-prefix "$build" \
      --log "$c/Log/bench_exception.log" >"$d/load-$build.txt" 2>&1 || { kill $pid; die "the load; see $d/load-$build.txt"; }
    kill $pid
    wait $pid || true
    recv[$build]=$(fig "$d/load-$build.txt" posts_per_s)
    p99[$build]=$(fig "$d/load-$build.txt" p99_ms)
    say "operators: $build build: symbolising $posts reports"
    read -r sym_s[$build] sym_kb[$build] < <(measure "$bin/ulmet-reports" symbols add --store "sqlite:$d/$build.db" \
      --version 1004 "$c/UlmetMain.exe" "$c/UlmetMain.map")
    grep -q "resolved $posts reports" "$d/out" || die "symbols add did not resolve $posts reports: $(cat "$d/out")"
    say "operators: $build build: ulmet-publish release of the 1 GB client"
    rm -rf "$d/tree" "$d/tree.previous"
    cp -a "$d/tree0" "$d/tree"
    read -r pub_s[$build] pub_kb[$build] < <(measure "$bin/ulmet-publish" release --tree "$d/tree" --client "$d/c1001")
  done
  orow() { printf '%-44s %18s %18s %8s\n' "$@"; }
  echo
  orow "operators' tools" "release build" "sanitizer build" "ratio"
  orow "crash reports received, SQLite, 50 senders" "${recv[release]} /s" "${recv[native]} /s" \
       "$(calc "${recv[release]} / ${recv[native]}" 1)x"
  orow "  p99 answer time" "${p99[release]} ms" "${p99[native]} ms" "-"
  orow "symbolising $posts stored reports" "${sym_s[release]} s" "${sym_s[native]} s" \
       "$(calc "${sym_s[native]} / ${sym_s[release]}" 1)x"
  orow "  peak memory" "$(calc "${sym_kb[release]} / 1024" 1) MB" "$(calc "${sym_kb[native]} / 1024" 1) MB" "-"
  orow "ulmet-publish release, 1 GB client" "${pub_s[release]} s" "${pub_s[native]} s" \
       "$(calc "${pub_s[native]} / ${pub_s[release]}" 1)x"
  orow "  peak memory" "$(calc "${pub_kb[release]} / 1024" 1) MB" "$(calc "${pub_kb[native]} / 1024" 1) MB" "-"
  rm -rf "$d/c1000" "$d/c1001" "$d/tree0" "$d/tree" "$d/tree.previous"
}
if [ "${1:-}" = operators ]; then
  operator_rows | tee "$OUT/table.txt"
  exit 0
fi
# Two releases in a row of the 2 GB pack from init's tree ("[PACE]" and the
# record): the second plans from the index the first was made by (the
# installed copy is not cut again). Beside: one read of the new pack (cat,
# and md5sum), curl fetching the same ranges on loopback, and the 2 GB row
# above as today's run with 1 MB changed in one place. Target: the second
# release's whole run within 2x of one read of the pack (md5sum's: the
# updater digests every byte it writes) plus its changed bytes at line speed
# (curl's time on loopback; at 100 Mbit/s shown too).
releases_rows() {
  local f pack read_s md5_s curl_s sent line_s limit today run first
  f=$(scenario ChunkBenchReleases.DISABLED_Pack2GBTwoReleases)
  pack=$B/native/scenarios/bench-clients/chunks-2048/client-second/Data/pack.pak
  cat_pack() { cat "$pack" >/dev/null; }
  md5_pack() { md5sum "$pack" >/dev/null; }
  say "one read of the 2 GB pack: cat, then md5sum"
  read_s=$(best_of_3 cat_pack) || die "cat of the pack"
  md5_s=$(best_of_3 md5_pack) || die "md5sum of the pack"
  curl_s=$(curl_same_ranges "$f" "$B/native/scenarios/bench-clients/chunks-2048/tree-releases")
  sent=$(fig "$f" pack_sent_bytes)
  line_s=$(calc "$sent * 8 / 100000000" 3)
  run=$(fig "$f" run_s)
  first=$(fig "$f" first_run_s)
  # The reference read is md5sum's: the updater must digest every byte of
  # the new file for the hash list, and cat only shows the page cache.
  limit=$(calc "2 * ($md5_s + $curl_s)" 2)
  today=$B/native/scenarios/ChunkBench.DISABLED_Pack2GBOnePlace/figures.txt
  echo
  echo "Two releases in a row of a 2 GB pack, 1 MB changed each time, init's tree ([PACE] and the record; the pack in"
  echo "the hash list); the second plans from the index the first was made by, kept beside the pack:"
  printf '  first release (the installed copy cut into chunks): %s s, %s MB sent, peak %s MB\n' "$(calc "$first" 1)" \
    "$(calc "$(fig "$f" first_pack_sent_bytes) / 1048576" 2)" "$(calc "$(fig "$f" first_peak_kb) / 1024" 1)"
  printf '  second release (planned from the kept index): %s s, %s MB sent in %s ranges, peak %s MB\n' "$(calc "$run" 1)" \
    "$(calc "$sent / 1048576" 2)" "$(fig "$f" requests | cut -d. -f1)" "$(calc "$(fig "$f" peak_kb) / 1024" 1)"
  [ -f "$today" ] && printf '  today (no [PACE], no record, 1 MB in one place, the row above): %s s\n' "$(calc "$(fig "$today" run_s)" 1)"
  printf '  one read of the pack: cat %s s, md5sum %s s; its changed bytes: curl %s s on loopback, %s s at 100 Mbit/s\n' \
    "$(calc "$read_s" 2)" "$(calc "$md5_s" 2)" "$(calc "$curl_s" 2)" "$line_s"
  printf '  target: within 2x of (md5sum + curl) = %s s: %s s is %sx of the reference: %s\n' "$limit" "$(calc "$run" 1)" \
    "$(calc "$run / ($md5_s + $curl_s)" 1)" "$(verdict "$run" "$limit")"
}
# --- a new 256 MB pack: the updater and curl through the same line -------
# A release of ulmet-publish (init, then release) that adds a 256 MB pack,
# with init's defaults (PACED, LOOP) and with --no-pace (PACED_DEF,
# LOOP_DEF); through the test server paced at 100 Mbit/s (one line for every
# connection) and unpaced on loopback. curl fetches the pack from the same
# tree through the same line. NP_NAMES says which of the four run.
NP_RATE=100
new_pack_measure() {
  local name
  for name in $NP_NAMES; do
    case $name in
      PACED) NP_PACED=$(scenario WorkerBenchNewPack.DISABLED_PacedLine) ;;
      PACED_DEF) NP_PACED_DEF=$(scenario WorkerBenchNewPack.DISABLED_PacedLineDefaultTree) ;;
      LOOP) NP_LOOP=$(scenario WorkerBenchNewPack.DISABLED_Loopback) ;;
      LOOP_DEF) NP_LOOP_DEF=$(scenario WorkerBenchNewPack.DISABLED_LoopbackDefaultTree) ;;
    esac
  done
  curl_pack() {
    local got
    got=$(curl -s -o /dev/null -w '%{http_code} %{size_download}' "http://$HOST/Ulmet3/files/Data/pack.pak")
    [ "$got" = "200 268435456" ]
  }
  say "curl: the new pack through $NP_RATE Mbit/s, then on loopback"
  serve "$B/native/scenarios/bench-clients/new-pack/tree-pace" --rate-mbit "$NP_RATE"
  CURL_NP_PACED_S=$(best_of_3 curl_pack) || die "curl did not fetch the new pack through the paced line"
  serve "$B/native/scenarios/bench-clients/new-pack/tree-pace"
  CURL_NP_LOOP_S=$(best_of_3 curl_pack) || die "curl did not fetch the new pack"
  stop_server
}

# --- starts with nothing to update on clients of gigabytes ----------------
# The clients are made once below the native tree's scenario folder and
# removed at the end (ULMET_BENCH_KEEP_CLIENTS=1 keeps them for the next run).
# md5sum reads the same files (its best of three) right after each client's
# starts. START_KIND: NothingToUpdateOn (the default tree's four starts, then
# init's three) or PacedStartsOn (init's three alone).
CLIENTS=$B/native/scenarios/bench-clients
starts_measure() {
  local size need_gb folder free_gb start md5_s
  START_ROWS=
  for size in 1GB 10GB; do
    need_gb=$([ $size = 1GB ] && echo 22 || echo 40)
    folder=$CLIENTS/$(echo "${size%B}" | tr 'A-Z' 'a-z')
    free_gb=$(df -P -BG "$B" | awk 'NR == 2 { sub(/G$/, "", $4); print $4 }')
    if [ ! -f "$folder/client.done" ] && [ "$free_gb" -lt "$need_gb" ]; then
      die "$free_gb GB free under $B; the $size client needs $need_gb GB (20 GB stay free for others)"
    fi
    start=$(scenario "WorkerBenchStart.DISABLED_$START_KIND$size")
    md5_client() { find "$folder/client" -type f -print0 | xargs -0 md5sum >/dev/null; }
    say "md5sum over the $size client"
    md5_s=$(best_of_3 md5_client) || die "md5sum over the $size client"
    START_ROWS="$START_ROWS $size:$start:$md5_s"
  done
}
# ... then the daily starts (the record at the days init gives the client and
# at the updater's default of 7), and the
# big clients go unless ULMET_BENCH_KEEP_CLIENTS=1.
pace_measure() {
  new_pack_measure
  starts_measure
  DAILY=$(scenario WorkerBenchDaily.DISABLED_ThirtyDailyStartsOn10GB)
  DAILY7=$(scenario WorkerBenchDaily.DISABLED_ThirtyDailyStartsOn10GBRecordOf7Days)
  [ "${ULMET_BENCH_KEEP_CLIENTS:-0}" = 1 ] || rm -rf "$CLIENTS"
}

# --- the rows of init's trees ----------------------------------------------
# 30 daily starts of the 10 GB client (rolling re-verification).
daily_rows() { # FIGURES: the scenario's figures
  local f=$1 days first one slow per reads d
  days=$(fig "$f" record_days | cut -d. -f1)
  first=$(calc "$(fig "$f" day_01_ms) / 1000" 2)
  one=$(calc "$(fig "$f" paced_one_listed_file_ms) / 1000" 2)
  slow=$(calc "$(fig "$f" later_slowest_ms) / 1000" 2)
  per= reads=
  for d in $(seq -w 2 30); do
    per="$per $((10#$d)):$(calc "$(fig "$f" day_${d}_ms) / 1000" 1)"
    reads="$reads $(calc "$(fig "$f" day_${d}_read_mb)" 0)"
  done
  echo "30 daily starts of the 10 GB client, init's tree with the record at $days days (the record's times moved back a"
  echo "day between starts; the client's files dated two months back, as installed a while ago):"
  echo "  first start (the record removed: every file read): $first s; one-file start: $one s"
  echo "  later starts: fastest $(calc "$(fig "$f" later_fastest_ms) / 1000" 2) s, median $(calc "$(fig "$f" later_median_ms) / 1000" 2) s, slowest $slow s"
  echo "  each day (day:s):$per"
  echo "  MB read by each later start (whole files and parts of big ones):$reads"
  echo "  slowest WM_NULL answer over the later starts: $(calc "$(fig "$f" later_slowest_answer_ms)" 1) ms"
  echo "  target: slowest later start within 2 s of the one-file start: $(calc "$slow - $one" 2) s more: $(verdict "$slow - $one" 2)"
  echo "  every file read again within $days days: the file read longest ago was $(calc "$(fig "$f" oldest_look_days)" 2) days old" \
       "at a start, $(fig "$f" fell_due | cut -d. -f1) files fell due: $( [ "$(fig "$f" fell_due | cut -d. -f1)" = 0 ] &&
         verdict "$(fig "$f" oldest_look_days)" "$days" || echo MISSED)"
}

# The new 256 MB pack (MB here: 10^6 bytes).
new_pack_rows() {
  local f name curl limit
  nrow() { printf '%-32s %10s %9s  %10s  %10s %9s  %8s %9s  %s\n' "$@"; }
  echo "A new 256 MB pack (ulmet-publish init, then release; download: the first request for the pack to the end of its"
  echo "last answer; curl: the pack alone from the same tree through the same line, best of 3):"
  nrow "tree, line" "download" "MB/s" "to client" "curl" "curl MB/s" "dl/curl" "run/curl" "target"
  for name in $NP_NAMES; do
    eval "f=\$NP_$name"
    case $name in
      PACED) label="[PACE], $NP_RATE Mbit/s" curl=$CURL_NP_PACED_S ;;
      PACED_DEF) label="default tree, $NP_RATE Mbit/s" curl=$CURL_NP_PACED_S ;;
      LOOP) label="[PACE], loopback" curl=$CURL_NP_LOOP_S ;;
      LOOP_DEF) label="default tree, loopback" curl=$CURL_NP_LOOP_S ;;
    esac
    dl=$(fig "$f" download_s)
    to=$(calc "$(fig "$f" start_to_client_ms) / 1000" 2)
    target=-
    if [ $name = PACED ]; then
      limit=$(calc "1.15 * $curl" 2)
      target="download <= $limit s: $(verdict "$dl" "$limit"); to client: $(verdict "$to" "$limit")"
    fi
    nrow "$label" "$(calc "$dl" 2) s" "$(calc "268.435456 / $dl" 1)" "$to s" "$(calc "$curl" 2) s" \
         "$(calc "268.435456 / $curl" 1)" "$(calc "$dl / $curl" 2)x" "$(calc "$to / $curl" 2)x" "$target"
  done
}

# The paced first starts beside md5sum over the same files, and their target.
start_target_rows() {
  local entry size f md5_s first one slowest run limit ok
  echo "Target: the paced first start (the record being written) within 3x of md5sum over the same files (best of 3)"
  echo "plus the paced one-file start, every WM_NULL probe of the paced starts answered within 250 ms:"
  trow() { printf '%-6s %12s  %10s  %14s  %11s  %7s  %14s  %s\n' "$@"; }
  trow "client" "first start" "md5sum" "one-file start" "limit (3x)" "ratio" "slowest answer" "verdict"
  for entry in $START_ROWS; do
    IFS=: read -r size f md5_s <<<"$entry"
    first=$(calc "$(fig "$f" paced_first_ms) / 1000")
    one=$(calc "$(fig "$f" paced_one_listed_file_ms) / 1000")
    slowest=0
    for run in paced_first paced_second paced_one_listed_file; do
      slowest=$(calc "$(fig "$f" ${run}_slowest_answer_ms) > $slowest ? $(fig "$f" ${run}_slowest_answer_ms) : $slowest" 1)
    done
    limit=$(calc "3 * ($md5_s + $one)" 2)
    ok=$(verdict "$first" "$limit")
    [ "$(verdict "$slowest" 250)" = met ] || ok=MISSED
    trow "$size" "$(calc "$first" 2) s" "$(calc "$md5_s" 2) s" "$(calc "$one" 2) s" "$limit s" \
         "$(calc "$first / ($md5_s + $one)" 2)x" "$slowest ms" "$ok"
  done
  echo
}

if [ "${1:-}" = chunks ]; then
  {
    chunk_rows
    releases_rows
  } | tee "$OUT/table.txt"
  [ "${ULMET_BENCH_KEEP_CLIENTS:-0}" = 1 ] || rm -rf "$B/native/scenarios/bench-clients"/chunks-*
  exit 0
fi
# "scripts/bench.sh pace": the rows of init's trees alone, each beside its
# reference (the default tree's rows take minutes a start at 10 GB): the
# default tree's pause tests, the new pack with init's tree, init's three
# starts of 1 GB and 10 GB, the 30 daily starts, the two releases.
if [ "${1:-}" = pace ]; then
  # The big clients and trees first, without the port (others may hold it).
  for t in WorkerBenchNewPack.DISABLED_Loopback WorkerBenchStart.DISABLED_PacedStartsOn1GB \
           WorkerBenchStart.DISABLED_PacedStartsOn10GB ChunkBenchReleases.DISABLED_Pack2GBTwoReleases; do
    say "making the clients of $t"
    ULMET_BENCH_MAKE_ONLY=1 "$B/native/tests/scenarios/ul_scenarios" --gtest_also_run_disabled_tests \
      --gtest_filter="$t" >"$OUT/make-$t.out" 2>&1 || die "making the clients of $t; see $OUT/make-$t.out"
  done
  say "the default tree's pause tests"
  mkdir -p "$OUT/served"
  serve "$OUT/served"
  ULMET_TEST_HTTP_HOST=$HOST ULMET_TEST_HTTP_ROOT=$OUT/served "$ROOT/scripts/wine-run.sh" "$B/$WIN_TREE/tests/unit/ul_win_tests.exe" \
    --gtest_filter="$PAUSE_TESTS" >"$OUT/pauses.out" 2>&1 9>&- || die "the pause tests; see $OUT/pauses.out"
  stop_server
  grep -q '^\[  PASSED  \] 2 tests' "$OUT/pauses.out" || die "not both pause tests ran; see $OUT/pauses.out"
  NP_NAMES="PACED LOOP"
  START_KIND=PacedStartsOn
  pace_measure
  {
    echo "Ulmet updater benchmark, init's trees, $(date -u '+%Y-%m-%d %H:%M UTC'), $(wine --version), $(nproc) CPUs, load $LOAD_START at the start ($STARTED), $(cut -d' ' -f1-3 /proc/loadavg) now"
    echo "The default tree's pause tests (a pause after every read of 4,096 bytes and every 32 KB digest chunk): passed"
    echo
    new_pack_rows
    echo
    echo "Init's starts, nothing to update (after one start that warms the disk cache):"
    for entry in $START_ROWS; do
      IFS=: read -r size f md5_s <<<"$entry"
      for run in paced_first paced_second paced_one_listed_file; do
        printf '  %-5s %-22s %9s s, slowest WM_NULL answer %s ms of %s probes\n' "$size" "${run//_/ }" \
          "$(calc "$(fig "$f" ${run}_ms) / 1000" 2)" "$(calc "$(fig "$f" ${run}_slowest_answer_ms)" 1)" "$(fig "$f" ${run}_probes | cut -d. -f1)"
      done
    done
    start_target_rows
    echo
    daily_rows "$DAILY"
    daily_rows "$DAILY7"
    releases_rows
    echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  } | tee "$OUT/table.txt"
  [ "${ULMET_BENCH_KEEP_CLIENTS:-0}" = 1 ] || rm -rf "$B/native/scenarios/bench-clients"/chunks-*
  exit 0
fi

# --- one 64 MB file: DownloadFile against curl from the same server -------
say "64 MB through DownloadFile, then curl"
mkdir -p "$OUT/served"
serve "$OUT/served"
ULMET_TEST_HTTP_HOST=$HOST ULMET_TEST_HTTP_ROOT=$OUT/served "$ROOT/scripts/wine-run.sh" \
  "$B/$WIN_TREE/tests/unit/ul_win_tests.exe" --gtest_filter="Download.DISABLED_Benchmark64MB:$PAUSE_TESTS" \
  --gtest_also_run_disabled_tests >"$OUT/download.out" 2>&1 9>&- || die "DownloadFile or the pause tests; see $OUT/download.out"
grep -q '^\[  PASSED  \] 3 tests' "$OUT/download.out" || die "not all three of DownloadFile and the pause tests ran; see $OUT/download.out"
sed -n 's/^bench //p' "$OUT/download.out" >"$OUT/download.txt"
DL_S=$(fig "$OUT/download.txt" download_s)
PAUSE_MS=$(fig "$OUT/download.txt" pause_ms)
SLEEP_MS=$(fig "$OUT/download.txt" sleep_ms)
TIMER_MADE=$(fig "$OUT/download.txt" timer_made)
TIMER_WAIT_MS=$(fig "$OUT/download.txt" timer_wait_ms)
TIMER_USED=$(fig "$OUT/download.txt" pause_uses_timer)
curl_64mb() {
  local got
  got=$(curl -s -o /dev/null -w '%{http_code} %{size_download}' "http://$HOST/dl/big.bin")
  [ "$got" = "200 67108864" ]
}
CURL_64_S=$(best_of_3 curl_64mb) || die "curl did not fetch the 64 MB file"
stop_server

# --- 1,000 small files: the updater, then curl on the same tree ------------
SMALL=$(scenario WorkerBench.DISABLED_ThousandSmallFiles)
SMALL_DIR=$(dirname "$SMALL")
SMALL_S=$(fig "$SMALL" download_s)
SMALL_PAUSES=$(fig "$SMALL" download_pauses)
RUN_S=$(fig "$SMALL" run_s)
RUN_PAUSES=$(fig "$SMALL" run_pauses)
serve "$SMALL_DIR/tree"
grep -o '"path":"/Ulmet3/files/[^"]*"' "$SMALL_DIR/requests.jsonl" | cut -d'"' -f4 |
  awk -v h="$HOST" '{ print "url = \"http://" h $0 "\"\noutput = \"/dev/null\"" }' >"$OUT/small-urls.txt"
N_SMALL=$(grep -c '^url' "$OUT/small-urls.txt")
[ "$N_SMALL" = 1000 ] || die "the updater's run requested $N_SMALL files, not 1000"
WANT_BYTES=$(cat "$SMALL_DIR"/tree/Ulmet3/files/f*.dat | wc -c)
curl_small() {
  # A new connection for every file, as the updater's one set of handles per file.
  curl -s -H 'Connection: close' -K "$OUT/small-urls.txt" -w '%{http_code} %{size_download}\n' >"$OUT/small-curl.txt" &&
    awk -v want="$WANT_BYTES" '$1 == 200 { n++; b += $2 } END { exit !(n == 1000 && b == want) }' "$OUT/small-curl.txt"
}
CURL_SMALL_S=$(best_of_3 curl_small) || die "curl did not fetch the 1,000 files"
stop_server

# --- digests -------------------------------------------------------------
say "DigestBuffer and md5sum on 256 MB"
"$B/bench/tests/bench/ul_digest_bench" 256 3 >"$OUT/digest-buffer.out" 2>&1 || die "DigestBuffer; see $OUT/digest-buffer.out"
DB_S=$(awk '$1 == "DigestBuffer" { print $2 }' "$OUT/digest-buffer.out")
DB_MD5_S=$(awk '$1 == "md5sum" { print $2 }' "$OUT/digest-buffer.out")
[ -n "$DB_S" ] && [ -n "$DB_MD5_S" ] || die "no DigestBuffer figures in $OUT/digest-buffer.out"

say "chained file digest of 256 MB under Wine"
head -c $((256 << 20)) /dev/urandom >"$OUT/digest.bin"
"$ROOT/scripts/wine-run.sh" "$B/$WIN_TREE/tests/bench/ul_file_digest_bench.exe" "Z:${OUT//\//\\}\\digest.bin" \
  >"$OUT/file-digest.txt" 2>"$OUT/file-digest.err" || die "file digest; see $OUT/file-digest.err"
"$B/bench/tests/bench/ul_file_digest_bench" "$OUT/digest.bin" --no-pause >"$OUT/file-digest-native.txt" ||
  die "native file digest"
[ "$(fig "$OUT/file-digest.txt" digest)" = "$(fig "$OUT/file-digest-native.txt" digest)" ] ||
  die "the chained digest under Wine differs from the native one"
FD_S=$(fig "$OUT/file-digest.txt" seconds)
FD_CHUNKS=$(fig "$OUT/file-digest.txt" chunks)
FD_PAUSE_MS=$(fig "$OUT/file-digest.txt" pause_ms)
md5_file() { md5sum "$OUT/digest.bin"; }
FD_MD5_S=$(best_of_3 md5_file) || die "md5sum"
rm -f "$OUT/digest.bin"

# --- launch with nothing to update ---------------------------------------
LAUNCH1=$(scenario WorkerBenchLaunch.DISABLED_NothingToUpdateWithOneDigest)
LAUNCH1000=$(scenario WorkerBenchLaunch.DISABLED_NothingToUpdateWithAThousandDigests)
noop_program() { "$ROOT/scripts/wine-run.sh" "$B/$WIN_TREE/bin/tbctl.exe" atom "bench-no-such-atom"; [ $? = 1 ]; }
NOOP_S=$(best_of_3 noop_program) || die "the do-nothing program under Wine"
NOOP_MS=$(calc "$NOOP_S * 1000" 0)

# The rows of init's trees measured above (scripts/bench.sh, the default tree's rows) or alone (pace).
NP_NAMES="PACED PACED_DEF LOOP LOOP_DEF"
START_KIND=NothingToUpdateOn
pace_measure

# --- peak memory ---------------------------------------------------------
MEM16=$(scenario WorkerBenchLargeFile.DISABLED_OneFileOf16MB)
MEM256=$(scenario WorkerBenchLargeFile.DISABLED_OneFileOf256MB)
PEAK16=$(fig "$MEM16" peak_kb)
PEAK256=$(fig "$MEM256" peak_kb)

# --- crash reports: ulmet-reports under 50 concurrent senders --------------
# Posts per second and the 99th percentile answer time of the receiver with
# each store (every post stored and synced before its answer), beside nginx
# answering the same posts with a fixed 200 on this machine. Prints its rows.
reports_rows() {
  local d=$OUT/reports posts=${REPORTS_BENCH_POSTS:-20000} pid
  mkdir -p "$d"
  cmake --build "$B/bench" -j "${JOBS:-$(nproc)}" --target ulmet-reports reports_load >>"$OUT/build.log" 2>&1 ||
    die "building ulmet-reports; see $OUT/build.log"
  local load="$B/bench/bin/reports_load --host 127.0.0.1 --path /report --senders 50 --posts $posts"
  say "crash reports: $posts posts from 50 senders to nginx"
  mkdir -p "$d/nginx/logs"
  cat >"$d/nginx/nginx.conf" <<NGINX
worker_processes 1;
error_log $d/nginx/error.log;
pid $d/nginx/nginx.pid;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $d/nginx;
  client_max_body_size 7m;
  client_body_buffer_size 1m;
  server { listen 127.0.0.1:18081; location = /report { return 200 "OK\n"; } }
}
NGINX
  nginx -p "$d/nginx" -c "$d/nginx/nginx.conf" || die "nginx did not start"
  $load --port 18081 --uid-prefix nginx >"$d/nginx.txt" 2>&1
  local rc=$?
  nginx -p "$d/nginx" -c "$d/nginx/nginx.conf" -s stop
  [ $rc = 0 ] || die "load on nginx; see $d/nginx.txt"
  # One receiver on a store, the load against it.
  receive() {
    local name=$1 store=$2
    rm -f "$d/ready-$name"
    # The 50 senders are all 127.0.0.1: no limits per sender.
    "$B/bench/bin/ulmet-reports" serve --listen 127.0.0.1:0 --path /report --store "$store" \
      --post-rate 0 --connections-per-address 0 --ready-file "$d/ready-$name" >"$d/serve-$name.log" 2>&1 &
    pid=$!
    for _ in $(seq 1 300); do [ -f "$d/ready-$name" ] && break; sleep 0.05; done
    [ -f "$d/ready-$name" ] || { kill $pid; die "ulmet-reports did not start; see $d/serve-$name.log"; }
    $load --port "$(cut -d' ' -f2 "$d/ready-$name")" --uid-prefix "$name" >"$d/$name.txt" 2>&1
    local rc=$?
    kill $pid; wait $pid
    return $rc
  }
  say "crash reports: the same to ulmet-reports on SQLite"
  rm -f "$d/bench.db"*
  receive sqlite "sqlite:$d/bench.db" || die "load on SQLite; see $d/sqlite.txt"
  say "crash reports: the same to ulmet-reports on PostgreSQL"
  export -f receive die say
  export B d load
  "$ROOT/tests/reports/with_postgres.sh" bash -c 'receive postgres "$ULMET_REPORTS_TEST_PG dbname=postgres"' \
    >"$d/postgres-run.log" 2>&1 || die "load on PostgreSQL; see $d/postgres.txt and $d/postgres-run.log"
  local nginx_ps nginx_p99 name
  nginx_ps=$(fig "$d/nginx.txt" posts_per_s)
  nginx_p99=$(fig "$d/nginx.txt" p99_ms)
  for name in sqlite postgres; do
    local ps p99
    ps=$(fig "$d/$name.txt" posts_per_s)
    p99=$(fig "$d/$name.txt" p99_ms)
    row "crash reports, ulmet-reports, $name" "$ps /s" "$nginx_ps /s nginx fixed 200" \
        "$(calc "$ps / $nginx_ps" 2)x" "p99 $p99 ms (nginx $nginx_p99 ms)" "50 senders, $posts posts"
  done
}

# --- the table -------------------------------------------------------------
row() { printf '%-40s %10s  %-28s %8s  %-34s %s\n' "$@"; }
pct() { calc "100 * $1 / $2" 0; }
times() { calc "$1 / $2" 1; }
CEIL_64=$(calc "16384 * $PAUSE_MS / 1000")
FLOOR_SMALL=$(calc "$SMALL_PAUSES * $PAUSE_MS / 1000")
FLOOR_RUN=$(calc "$RUN_PAUSES * $PAUSE_MS / 1000")
CEIL_FD=$(calc "$FD_CHUNKS * $FD_PAUSE_MS / 1000")
{
  echo "Ulmet updater benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(wine --version), $(nproc) CPUs, load $LOAD_START at the start ($STARTED), $(cut -d' ' -f1-3 /proc/loadavg) now"
  if [ "$TIMER_MADE" = 1 ]; then
    timer="the system made the high-resolution timer; its 1 ms wait lasted $TIMER_WAIT_MS ms, so the pause $([ "$TIMER_USED" = 1 ] && echo uses it || echo "uses Sleep(1)")"
  else
    timer="the system made no high-resolution timer, so the pause uses Sleep(1)"
  fi
  echo "One mandated pause lasts $PAUSE_MS ms under Wine here (Sleep(1): $SLEEP_MS ms; $timer; the digest's pause: $FD_PAUSE_MS ms)."
  echo "Ceiling: the time the mandated pauses alone take, shown as the share of it reached; floor: the same, shown as how many times it."
  echo
  row "row" "ours" "reference (same run, same data)" "ours/ref" "pause bound" "vs bound"
  row "64 MB file, DownloadFile" "$DL_S s" "$CURL_64_S s curl, own process" "$(times "$DL_S" "$CURL_64_S")x" \
      "$CEIL_64 s = 16384 reads x pause" "$(pct "$CEIL_64" "$DL_S")% of ceiling"
  row "1,000 small files, download phase" "$SMALL_S s" "$CURL_SMALL_S s curl, 1,000 connections" \
      "$(times "$SMALL_S" "$CURL_SMALL_S")x" "$FLOOR_SMALL s = ${SMALL_PAUSES%.*} pauses" "$(times "$SMALL_S" "$FLOOR_SMALL")x floor"
  row "1,000 small files, whole run" "$RUN_S s" "-" "-" "$FLOOR_RUN s = ${RUN_PAUSES%.*} pauses" \
      "$(times "$RUN_S" "$FLOOR_RUN")x floor"
  row "DigestBuffer, 256 MB (native)" "$DB_S s" "$DB_MD5_S s md5sum" "$(times "$DB_S" "$DB_MD5_S")x" "none" "-"
  row "chained file digest, 256 MB (Wine)" "$FD_S s" "$FD_MD5_S s md5sum" "$(times "$FD_S" "$FD_MD5_S")x" \
      "$CEIL_FD s = ${FD_CHUNKS} chunks x pause" "$(pct "$CEIL_FD" "$FD_S")% of ceiling"
  for f in "$LAUNCH1" "$LAUNCH1000"; do
    ms=$(fig "$f" start_to_client_ms)
    pauses=$(fig "$f" pauses)
    floor=$(calc "100 + $pauses * $PAUSE_MS" 0)
    row "launch, nothing to update, $(fig "$f" digests | cut -d. -f1) digests" "${ms%.*} ms" \
        "$NOOP_MS ms do-nothing Wine program" "$(times "$ms" "$NOOP_MS")x" \
        "$floor ms = 100 ms tick + ${pauses%.*} pauses" "$(times "$ms" "$floor")x floor"
  done
  row "peak memory, 16 MB file" "$(calc "$PEAK16 / 1024" 1) MB" "-" "-" "-" "-"
  row "peak memory, 256 MB file" "$(calc "$PEAK256 / 1024" 1) MB" "$(calc "$PEAK16 / 1024" 1) MB, the 16 MB file" \
      "$(calc "$PEAK256 / $PEAK16" 2)x" "-" "-"
  echo
  echo "Start with nothing to update, every file listed (one client folder, four starts in a row; a probe sends WM_NULL"
  echo "to the main dialog every 100 ms; 'one listed file': the same start with a hash list of UlmetMain.exe alone):"
  srow() { printf '%-6s %6s  %-24s %11s  %-22s %14s  %s\n' "$@"; }
  echo "The first four from the default tree ([PACE] left out), the 'paced' three from init's tree ([PACE] and the record):"
  srow "client" "files" "start" "to client" "vs one listed file" "slowest answer" "probes"
  for entry in $START_ROWS; do
    IFS=: read -r size f md5_s <<<"$entry"
    for run in record_off record_on_first record_on_second one_listed_file paced_first paced_second paced_one_listed_file; do
      base=$(fig "$f" "$([ "${run#paced}" = "$run" ] && echo one_listed_file_ms || echo paced_one_listed_file_ms)")
      ms=$(fig "$f" ${run}_ms)
      srow "$size" "$(fig "$f" files | cut -d. -f1)" "${run//_/ }" "$(calc "$ms / 1000" 2) s" \
           "$(calc "($ms - $base) / 1000" 2) s more" "$(calc "$(fig "$f" ${run}_slowest_answer_ms)" 1) ms" \
           "$(fig "$f" ${run}_probes | cut -d. -f1)"
    done
  done
  echo
  start_target_rows
  daily_rows "$DAILY"
  daily_rows "$DAILY7"
  echo
  new_pack_rows
} | tee "$OUT/table.txt"
reports_rows | tee -a "$OUT/table.txt"
operator_rows | tee -a "$OUT/table.txt"
{
  chunk_rows
  releases_rows
} | tee -a "$OUT/table.txt"
[ "${ULMET_BENCH_KEEP_CLIENTS:-0}" = 1 ] || rm -rf "$B/native/scenarios/bench-clients"/chunks-*
patch_rows | tee -a "$OUT/table.txt"

# Memory that grew with the file would show as hundreds of MB here.
awk "BEGIN { exit !($PEAK256 - $PEAK16 < 16 * 1024) }" || die "peak memory grows with the file: $PEAK16 kB, then $PEAK256 kB"
exit 0
