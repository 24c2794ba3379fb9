#!/usr/bin/env bash
# Starts, stops and steers the test bed's HTTP server in the background.
#
#   testbed/server.sh start --root DIR --log FILE [--port N] [--bind ADDR] [--faults FILE]
#   testbed/server.sh fault PATH KIND [NAME=VALUE]...   e.g. fault /files/a.dll status status=404
#   testbed/server.sh clear [PATH]
#   testbed/server.sh faults
#   testbed/server.sh stop
#
# The program is $ULMET_BUILD/native/bin/testbed_server (ULMET_BUILD defaults
# to the repository's build/); its pid and address are kept in
# $TB_SERVER_STATE (default $ULMET_BUILD/testbed-server).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=${ULMET_BUILD:-$ROOT/build}
BIN=${TB_SERVER_BIN:-$B/native/bin/testbed_server}
STATE=${TB_SERVER_STATE:-$B/testbed-server}

address() { cat "$STATE/ready" 2>/dev/null | awk '{print $1 ":" $2}'; }

control() {
  local addr; addr=$(address)
  [ -n "$addr" ] || { echo "server.sh: the server is not running" >&2; exit 1; }
  curl -sS --fail-with-body "http://$addr/__control/$1" "${@:2}"
}

case "${1:-}" in
  start)
    shift
    mkdir -p "$STATE"
    if [ -f "$STATE/pid" ] && kill -0 "$(cat "$STATE/pid")" 2>/dev/null; then
      echo "server.sh: already running (pid $(cat "$STATE/pid"))" >&2; exit 1
    fi
    rm -f "$STATE/ready"
    "$BIN" --ready-file "$STATE/ready" "$@" </dev/null >"$STATE/server.out" 2>&1 &
    echo $! >"$STATE/pid"
    for _ in $(seq 1 100); do
      [ -f "$STATE/ready" ] && { echo "server.sh: listening on $(address)"; exit 0; }
      kill -0 "$(cat "$STATE/pid")" 2>/dev/null || break
      sleep 0.05
    done
    echo "server.sh: the server did not start:" >&2; cat "$STATE/server.out" >&2; exit 1 ;;
  stop)
    if [ -f "$STATE/pid" ]; then
      pid=$(cat "$STATE/pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
      rm -f "$STATE/pid" "$STATE/ready"
    fi ;;
  fault)
    [ $# -ge 3 ] || { echo "usage: server.sh fault PATH KIND [NAME=VALUE]..." >&2; exit 2; }
    args=(--get --data-urlencode "path=$2" --data-urlencode "kind=$3")
    for kv in "${@:4}"; do args+=(--data-urlencode "$kv"); done
    control fault "${args[@]}" ;;
  clear)
    if [ $# -ge 2 ]; then control clear --get --data-urlencode "path=$2"; else control clear; fi ;;
  faults) control faults ;;
  address) address ;;
  *) sed -n '2,13p' "$0" >&2; exit 2 ;;
esac
