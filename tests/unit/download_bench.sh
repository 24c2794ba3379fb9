#!/usr/bin/env bash
# Benchmark, run by hand: CHttpDownloader::DownloadFile of a 64 MB file from
# the test server on loopback under Wine, against curl on the same file in
# the same run. Needs the Wine environment started (scripts/wine-env.sh).
# Usage: download_bench.sh UL_WIN_TESTS_EXE TESTBED_SERVER
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
export ULMET_GTEST_ARGS=--gtest_also_run_disabled_tests
# Keep the published file for curl: run the server by hand here.
BIND=${ULMET_TEST_HTTP_BIND:-127.0.0.1}
mkdir -p "$W/root"
"$2" --root "$W/root" --log /dev/null --bind "$BIND" --port 80 --ready-file "$W/ready" </dev/null >"$W/server.out" 2>&1 &
PID=$!
trap 'kill $PID 2>/dev/null; rm -rf "$W"' EXIT
for _ in $(seq 1 100); do [ -f "$W/ready" ] && break; sleep 0.05; done
export ULMET_TEST_HTTP_HOST=$BIND ULMET_TEST_HTTP_ROOT=$W/root
"$HERE/../../scripts/wine-run.sh" "$1" --gtest_filter=Download.DISABLED_Benchmark64MB \
  --gtest_also_run_disabled_tests >"$W/out" 2>&1
grep -E 'DownloadFile|FAILED|OK \]' "$W/out"
ls -l "$W/root/dl/big.bin" | awk '{print "file: " $5 " bytes"}'
for i in 1 2 3; do
  curl -s -o /dev/null -w "curl run $i: %{time_total} s, %{speed_download} B/s\n" "http://$BIND/dl/big.bin"
done
