#!/usr/bin/env bash
# The shipped server block (publish/nginx/ulmet.conf) in a real nginx whose
# http block turns compression on for everything and ranges off: files are
# still served in byte ranges, uncompressed, over a kept-open connection.
# Usage: nginx_block_test.sh SOURCE_DIR
set -u
SRC=$1
W=$(mktemp -d)
PID=
cleanup() { [ -n "$PID" ] && kill "$PID" 2>/dev/null; wait 2>/dev/null; rm -rf "$W"; }
trap cleanup EXIT
fails=0
check() { # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; fails=$((fails + 1)); fi
}
command -v nginx >/dev/null || { echo "nginx_block_test: no nginx (scripts/setup.sh installs it)" >&2; exit 1; }

mkdir -p "$W/tree/Ulmet3/files" "$W/tmp"
head -c 300000 /dev/urandom >"$W/tree/Ulmet3/files/pack.pak"
yes 'a line of text that compresses well' | head -c 200000 >"$W/tree/Ulmet3/UpdateList.dat"
printf 'host x\n' >"$W/tree/ulmet-publish.cfg"
mkdir -p "$W/tree/.ulmet-history" && printf 'ulmet-history 1\n' >"$W/tree/.ulmet-history/ULHistory.dat"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
{
  printf 'daemon off;\nworker_processes 1;\nuser root;\npid %s/nginx.pid;\nerror_log %s/error.log;\n' "$W" "$W"
  printf 'events { worker_connections 64; }\nhttp {\n'
  printf '  gzip on; gzip_types *; gzip_min_length 1; gzip_proxied any; max_ranges 0;\n'
  for t in client_body proxy fastcgi uwsgi scgi; do printf '  %s_temp_path %s/tmp;\n' "$t" "$W"; done
  printf '  access_log off;\n'
  sed -e "s|^\( *\)listen .*|\1listen 127.0.0.1:$PORT;|" -e "s|^\( *\)root .*|\1root $W/tree;|" \
    "$SRC/publish/nginx/ulmet.conf"
  printf '}\n'
} >"$W/nginx.conf"
nginx -t -c "$W/nginx.conf" -p "$W" >"$W/t.out" 2>&1
check "the block passes nginx -t" test $? = 0 || { cat "$W/t.out"; exit 1; }
nginx -c "$W/nginx.conf" -p "$W" >"$W/out" 2>&1 &
PID=$!
for _ in $(seq 1 100); do curl -s -o /dev/null "http://127.0.0.1:$PORT/" && break; sleep 0.05; done

U="http://127.0.0.1:$PORT"
get() { local out=$1; shift; curl -sS -D "$out.h" -o "$out" -H 'Accept-Encoding: gzip, deflate' "$@" 2>/dev/null; }
hdr() { grep -i "^$2:" "$1.h" | tr -d '\r' | cut -d' ' -f2-; }
status() { head -1 "$1.h" | cut -d' ' -f2; }
part() { head -c $(($2 + $3)) "$1" | tail -c "$3"; }

get "$W/r" -r 1000-4999 "$U/Ulmet3/files/pack.pak"
check "a range: 206 with its Content-Range and exactly its bytes" bash -c \
  "[ $(status "$W/r") = 206 ] && [ '$(hdr "$W/r" Content-Range)' = 'bytes 1000-4999/300000' ] && cmp -s '$W/r' <(head -c 5000 '$W/tree/Ulmet3/files/pack.pak' | tail -c 4000)"
get "$W/t" -r 100-199 "$U/Ulmet3/UpdateList.dat"
get "$W/tw" "$U/Ulmet3/UpdateList.dat"
check "text asked for compressed: ranges still served, nothing encoded" bash -c \
  "[ $(status "$W/t") = 206 ] && [ -z '$(hdr "$W/t" Content-Encoding)$(hdr "$W/tw" Content-Encoding)' ] && cmp -s '$W/tw' '$W/tree/Ulmet3/UpdateList.dat'"
get "$W/m" -r 0-9,20-29 "$U/Ulmet3/files/pack.pak"
check "several ranges at once: the whole file" bash -c \
  "[ $(status "$W/m") = 200 ] && cmp -s '$W/m' '$W/tree/Ulmet3/files/pack.pak'"
curl -sS -o "$W/k1" -r 0-99 "$U/Ulmet3/files/pack.pak" -w '%{num_connects} ' --next -o "$W/k2" -r 100-199 \
  "$U/Ulmet3/files/pack.pak" -w '%{num_connects}' >"$W/connects"
check "ranges one after the other on one kept-open connection" test "$(cat "$W/connects")" = "1 0"
get "$W/s" "$U/ulmet-publish.cfg"
check "the settings file stays unserved" test "$(status "$W/s")" = 404
get "$W/h" "$U/.ulmet-history/ULHistory.dat"
check "the publisher's history stays unserved" test "$(status "$W/h")" = 404

echo "$fails failure(s)"
[ $fails = 0 ]
