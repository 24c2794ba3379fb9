#!/usr/bin/env bash
# Runs the download tests of ul_win_tests under Wine against the test bed's
# HTTP server on port 80 of a loopback address (127.0.0.1 unless
# ULMET_TEST_HTTP_BIND says otherwise), serving a fresh temporary folder.
# Usage: download_server_test.sh UL_WIN_TESTS_EXE TESTBED_SERVER [GTEST_FILTER]
set -u
TESTS=$1
SERVER=$2
FILTER=${3:-Download.*:HeldDownload.*}
BIND=${ULMET_TEST_HTTP_BIND:-127.0.0.1}
HERE=$(cd "$(dirname "$0")" && pwd)

[ -x "$SERVER" ] || { echo "download_server_test: no test server at $SERVER (build the native tree)" >&2; exit 1; }
W=$(mktemp -d)
PID=
cleanup() {
  if [ -n "$PID" ]; then kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; fi
  rm -rf "$W"
}
trap cleanup EXIT
mkdir -p "$W/root"
"$SERVER" --root "$W/root" --log "$W/requests.jsonl" --bind "$BIND" --port 80 --ready-file "$W/ready" \
  </dev/null >"$W/server.out" 2>&1 &
PID=$!
for _ in $(seq 1 100); do
  [ -f "$W/ready" ] && break
  kill -0 "$PID" 2>/dev/null || break
  sleep 0.05
done
if [ ! -f "$W/ready" ]; then
  echo "download_server_test: the test server did not start:" >&2
  cat "$W/server.out" >&2
  exit 1
fi

export ULMET_TEST_HTTP_HOST=$BIND ULMET_TEST_HTTP_ROOT=$W/root ULMET_TEST_HTTP_LOG=$W/requests.jsonl
"$HERE/../../scripts/wine-run.sh" "$TESTS" --gtest_filter="$FILTER" ${ULMET_GTEST_ARGS:-} >"$W/tests.out" 2>&1
rc=$?
cat "$W/tests.out"
# A run that skipped the tests (no server seen) must not pass.
if grep -q '^\[  SKIPPED \]' "$W/tests.out"; then
  echo "download_server_test: tests were skipped" >&2
  rc=1
fi
exit $rc
