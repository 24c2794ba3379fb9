#!/usr/bin/env bash
# The updater's speed in one table. Each row: this project's figure, a
# reference measured in the same run on the same data, the bound that the
# mandated 1 ms pauses set (one after every 4 KB network read, one after
# every 32 KB digest chunk), and the ratios. Builds what it needs (both trees
# and a Release tree without the sanitizers for the digest), starts the Wine
# environment and ends non-zero when any run did not do its work.
#
#   scripts/bench.sh          (as root, like the tests: the server uses port 80)
#   scripts/bench.sh chunks   the rows of big packs by their changed chunks alone
#
# Progress goes to stderr, the table to stdout; every run's output stays in
# build/bench-runs/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=${ULMET_BUILD:-$ROOT/build}
OUT=$B/bench-runs
say() { echo "bench: $*" >&2; }
die() { echo "bench: FAILED: $*" >&2; exit 1; }

mkdir -p "$B"
rm -rf "$OUT"
mkdir -p "$OUT"
say "building (log in $OUT/build.log)"
{
  "$ROOT/scripts/build.sh" &&
  cmake -S "$ROOT" -B "$B/bench" -DCMAKE_BUILD_TYPE=Release -DULMET_SANITIZE=OFF ${ULMET_CMAKE_ARGS:-} >/dev/null &&
  cmake --build "$B/bench" -j "${JOBS:-$(nproc)}" --target ul_digest_bench ul_file_digest_bench
} >"$OUT/build.log" 2>&1 || die "build; see $OUT/build.log"

HOST=$(sed -n 's/^ULMET_CONFIG_HOST:STRING=//p' "$B/win/CMakeCache.txt")
[ -n "$HOST" ] || die "no configuration host in $B/win/CMakeCache.txt"
source "$ROOT/scripts/wine-env.sh"
SERVER_PID=
stop_server() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null; fi
  SERVER_PID=
}
trap 'stop_server; wine_env_stop' EXIT
wine_env_start || die "the Wine environment did not start"

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.${2:-3}f\", $1 }"; }
# A figure "NAME VALUE" from a file of such lines (the Windows programs end
# them with CR LF); the run failed without it.
fig() {
  local v
  v=$(awk -v n="$2" '{ sub(/\r$/, "") } $1 == n { print $2; exit }' "$1" 2>/dev/null)
  [ -n "$v" ] || die "no figure $2 in $1"
  echo "$v"
}
# The test server on the configuration host, serving one folder.
serve() {
  stop_server
  rm -f "$OUT/ready"
  "$B/native/bin/testbed_server" --root "$1" --log /dev/null --bind "$HOST" --port 80 \
    --ready-file "$OUT/ready" </dev/null >"$OUT/server.out" 2>&1 &
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
  "$B/native/tests/scenarios/ul_scenarios" --gtest_also_run_disabled_tests --gtest_filter="$1" \
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

# --- big packs by their changed chunks ------------------------------------
# A pack of 256 MB and one of 2 GB with 1 MB changed, in one place or spread
# over ten places: made by its changed chunks, beside the whole download of
# today and curl fetching the same ranges over one connection from the same
# server. The packs and their trees are made once below the native tree's
# scenario folder (removed at the end unless ULMET_BENCH_KEEP_CLIENTS=1).
# Prints its rows; "scripts/bench.sh chunks" measures these alone.
chunk_rows() {
  local size mb places n f whole ranges tree sent curl_s curl_bytes
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
      [ -s "$ranges" ] || die "no ranges in $ranges"
      # One group of options a range ("next" between them); curl keeps the
      # connection from group to group.
      awk -v h="$HOST" 'NR > 1 { print "next" } { print "url = \"http://" h "/Ulmet3/files/Data/pack.pak\"\nrange = \"" $1 "\"\noutput = \"/dev/null\"\nsilent\nwrite-out = \"%{http_code} %{size_download}\\n\"" }' \
        "$ranges" >"$OUT/chunk-curl.txt"
      serve "$tree"
      curl_ranges() { curl -K "$OUT/chunk-curl.txt" >"$OUT/chunk-curl.out"; }
      curl_s=$(best_of_3 curl_ranges) || die "curl did not fetch the ranges"
      curl_ranges
      curl_bytes=$(awk '$1 == 206 { b += $2 } END { print b + 0 }' "$OUT/chunk-curl.out")
      stop_server
      sent=$(fig "$f" pack_sent_bytes)
      [ "$curl_bytes" = "${sent%.*}" ] || die "curl fetched $curl_bytes bytes of ranges, the updater $sent"
      crow "$size" "$n place$([ $n = 1 ] || echo s)" "$(calc "$sent / 1048576" 2) MB" "$(calc "$(fig "$f" run_s)" 1) s" \
           "$(calc "$(fig "$f" peak_kb) / 1024" 1) MB" "$(calc "100 * $(fig "$f" index_bytes) / ($mb * 1048576)" 4)%" \
           "$(calc "$(fig "$whole" pack_sent_bytes) / 1048576" 0) MB, $(calc "$(fig "$whole" run_s)" 1) s, $(calc "$(fig "$whole" peak_kb) / 1024" 1) MB" \
           "$(calc "$curl_s" 2) s, $(fig "$f" requests | cut -d. -f1) ranges"
    done
  done
}
if [ "${1:-}" = chunks ]; then
  chunk_rows | tee "$OUT/table.txt"
  [ "${ULMET_BENCH_KEEP_CLIENTS:-0}" = 1 ] || rm -rf "$B/native/scenarios/bench-clients"/chunks-*
  exit 0
fi

# --- one 64 MB file: DownloadFile against curl from the same server -------
say "64 MB through DownloadFile, then curl"
mkdir -p "$OUT/served"
serve "$OUT/served"
ULMET_TEST_HTTP_HOST=$HOST ULMET_TEST_HTTP_ROOT=$OUT/served "$ROOT/scripts/wine-run.sh" \
  "$B/win/tests/unit/ul_win_tests.exe" --gtest_filter=Download.DISABLED_Benchmark64MB \
  --gtest_also_run_disabled_tests >"$OUT/download.out" 2>&1 || die "DownloadFile; see $OUT/download.out"
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
"$ROOT/scripts/wine-run.sh" "$B/win/tests/bench/ul_file_digest_bench.exe" "Z:${OUT//\//\\}\\digest.bin" \
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
noop_program() { "$ROOT/scripts/wine-run.sh" "$B/win/bin/tbctl.exe" atom "bench-no-such-atom"; [ $? = 1 ]; }
NOOP_S=$(best_of_3 noop_program) || die "the do-nothing program under Wine"
NOOP_MS=$(calc "$NOOP_S * 1000" 0)

# --- starts with nothing to update on clients of gigabytes ----------------
# The clients are made once below the native tree's scenario folder and
# removed at the end (ULMET_BENCH_KEEP_CLIENTS=1 keeps them for the next run).
CLIENTS=$B/native/scenarios/bench-clients
START_ROWS=
for size in 1GB 10GB; do
  need_gb=$([ $size = 1GB ] && echo 22 || echo 40)
  free_gb=$(df -P -BG "$B" | awk 'NR == 2 { sub(/G$/, "", $4); print $4 }')
  if [ ! -f "$CLIENTS/${size%B}/client.done" ] && [ "$free_gb" -lt "$need_gb" ]; then
    die "$free_gb GB free under $B; the $size client needs $need_gb GB (20 GB stay free for others)"
  fi
  START=$(scenario "WorkerBenchStart.DISABLED_NothingToUpdateOn$size")
  START_ROWS="$START_ROWS $size:$START"
done
[ "${ULMET_BENCH_KEEP_CLIENTS:-0}" = 1 ] || rm -rf "$CLIENTS"

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
  echo "Ulmet updater benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(wine --version), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
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
  srow "client" "files" "start" "to client" "vs one listed file" "slowest answer" "probes"
  for entry in $START_ROWS; do
    size=${entry%%:*} f=${entry#*:}
    base=$(fig "$f" one_listed_file_ms)
    for run in record_off record_on_first record_on_second one_listed_file; do
      ms=$(fig "$f" ${run}_ms)
      srow "$size" "$(fig "$f" files | cut -d. -f1)" "${run//_/ }" "$(calc "$ms / 1000" 2) s" \
           "$(calc "($ms - $base) / 1000" 2) s more" "$(calc "$(fig "$f" ${run}_slowest_answer_ms)" 1) ms" \
           "$(fig "$f" ${run}_probes | cut -d. -f1)"
    done
  done
} | tee "$OUT/table.txt"
reports_rows | tee -a "$OUT/table.txt"
chunk_rows | tee -a "$OUT/table.txt"
[ "${ULMET_BENCH_KEEP_CLIENTS:-0}" = 1 ] || rm -rf "$B/native/scenarios/bench-clients"/chunks-*

# Memory that grew with the file would show as hundreds of MB here.
awk "BEGIN { exit !($PEAK256 - $PEAK16 < 16 * 1024) }" || die "peak memory grows with the file: $PEAK16 kB, then $PEAK256 kB"
exit 0
