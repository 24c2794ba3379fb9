#!/usr/bin/env bash
# The test server against a plain HTTP client: every fault kind, the request
# log, form posts, path handling, the control requests and the fault file.
# Usage: server_faults_test.sh TESTBED_SERVER_BINARY
set -u
BIN=$1
W=$(mktemp -d)
PID=
cleanup() { [ -n "$PID" ] && kill "$PID" 2>/dev/null; rm -rf "$W"; }
trap cleanup EXIT
fails=0
check() { # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; fails=$((fails + 1)); fi
}

mkdir -p "$W/root/UlLaunch" "$W/root/files/sub"
head -c 70000 /dev/urandom >"$W/root/files/big.bin"
printf 'hello\n' >"$W/root/UlLaunch/global_Ulmet.cfg"
printf 'blank\n' >"$W/root/files/my!name.txt"
printf 'sub\n' >"$W/root/files/sub/a.txt"
printf '/files/sub/a.txt status status=500 count=1\n# comment\n' >"$W/faults.txt"

"$BIN" --help >"$W/help" 2>&1; check "--help exits 0 and explains the faults" \
  bash -c "[ $? = 0 ] && grep -q cut '$W/help'"
"$BIN" --root "$W/root" --log "$W/x" --bogus >/dev/null 2>&1; check "unknown option exits 2" test $? = 2
"$BIN" --root "$W/nowhere" --log "$W/x" --port 0 >/dev/null 2>&1; check "missing root refused" test $? = 1
printf '/a cutt\n' >"$W/badfaults"
"$BIN" --root "$W/root" --log "$W/x" --port 0 --faults "$W/badfaults" >"$W/bad.out" 2>&1
check "bad fault file refused with its line" bash -c "[ $? = 1 ] && grep -q 'badfaults:1' '$W/bad.out'"

"$BIN" --root "$W/root" --log "$W/log.jsonl" --port 0 --ready-file "$W/ready" --faults "$W/faults.txt" \
  >"$W/server.out" 2>&1 &
PID=$!
for _ in $(seq 1 100); do [ -f "$W/ready" ] && break; sleep 0.05; done
U="http://127.0.0.1:$(cut -d' ' -f2 "$W/ready")"
armp() { local p=$1 k=$2; shift 2; local a=(); for kv in "$@"; do a+=(--data-urlencode "$kv"); done
  curl -sS --fail "$U/__control/fault" --get --data-urlencode "path=$p" --data-urlencode "kind=$k" "${a[@]}" >/dev/null; }
get() { # get OUT [curl args] URL: headers into OUT.h, body into OUT, curl's exit code into OUT.rc
  local out=$1; shift
  curl -sS -D "$out.h" -o "$out" "$@" 2>/dev/null; echo $? >"$out.rc"
}
hdr() { grep -i "^$2:" "$1.h" | tr -d '\r' | cut -d' ' -f2-; }
status() { head -1 "$1.h" | cut -d' ' -f2; }

get "$W/plain" "$U/files/big.bin"
check "plain file with Content-Length" bash -c "cmp -s '$W/plain' '$W/root/files/big.bin' && [ \"\$(grep -i '^Content-Length:' '$W/plain.h' | tr -d '\r')\" = 'Content-Length: 70000' ]"
get "$W/dot" --path-as-is "$U/./UlLaunch/global_Ulmet.cfg"
check "'./' in the path is served" cmp -s "$W/dot" "$W/root/UlLaunch/global_Ulmet.cfg"
get "$W/bang" "$U/files/my!name.txt"
check "a published '!' name is served" cmp -s "$W/bang" "$W/root/files/my!name.txt"
get "$W/bs" "$U/files%5Csub%5Ca.txt"
check "fault file: first answer 500" test "$(status "$W/bs")" = 500
get "$W/bs2" "$U/files%5Csub%5Ca.txt"
check "fault file count=1 then normal; backslash taken as separator" cmp -s "$W/bs2" "$W/root/files/sub/a.txt"
get "$W/up" --path-as-is "$U/files/../../etc/passwd"
check "leaving the root is refused" test "$(status "$W/up")" = 400
get "$W/missing" "$U/files/none.txt"
check "missing file answers 404" test "$(status "$W/missing")" = 404

for code in 404 401 407 500; do
  armp /files/big.bin status status=$code
  get "$W/s$code" "$U/files/big.bin"
  check "status fault $code" test "$(status "$W/s$code")" = $code
done

armp /files/big.bin nolength
t0=$(date +%s%N); get "$W/nl" "$U/files/big.bin"; t1=$(date +%s%N)
check "nolength: the connection closes right after the body" test $(( (t1 - t0) / 1000000 )) -lt 1500
check "nolength: whole body, no Content-Length, no chunking" bash -c \
  "cmp -s '$W/nl' '$W/root/files/big.bin' && ! grep -qi '^Content-Length' '$W/nl.h' && ! grep -qi '^Transfer-Encoding' '$W/nl.h' && grep -qi '^Connection: close' '$W/nl.h'"

armp /files/big.bin chunked
get "$W/ch" "$U/files/big.bin"
check "chunked: whole body, chunked, no Content-Length" bash -c \
  "cmp -s '$W/ch' '$W/root/files/big.bin' && ! grep -qi '^Content-Length' '$W/ch.h' && grep -qi '^Transfer-Encoding: chunked' '$W/ch.h'"

armp /files/big.bin empty
get "$W/em" "$U/files/big.bin"
check "empty: 200 with Content-Length 0" bash -c \
  "[ \"\$(head -1 '$W/em.h' | cut -d' ' -f2)\" = 200 ] && [ ! -s '$W/em' ] && grep -qi '^Content-Length: 0' '$W/em.h'"

armp /files/big.bin cut bytes=1000
get "$W/cut" "$U/files/big.bin"
check "cut: full Content-Length announced, 1000 bytes, connection dropped (curl 18)" bash -c \
  "[ \$(cat '$W/cut.rc') = 18 ] && [ \$(stat -c %s '$W/cut') = 1000 ] && grep -qi '^Content-Length: 70000' '$W/cut.h' && cmp -s '$W/cut' <(head -c 1000 '$W/root/files/big.bin')"

armp /files/big.bin trickle bytes=20000 interval_ms=300
t0=$(date +%s%N); get "$W/tr" "$U/files/big.bin"; t1=$(date +%s%N)
check "trickle: whole body, took at least 3 intervals" bash -c \
  "cmp -s '$W/tr' '$W/root/files/big.bin' && [ $(( (t1 - t0) / 1000000 )) -ge 850 ]"

armp /files/big.bin delay delay_ms=700 count=1
t0=$(date +%s%N); get "$W/de" "$U/files/big.bin"; t1=$(date +%s%N)
check "delay: answer after the delay" bash -c "cmp -s '$W/de' '$W/root/files/big.bin' && [ $(( (t1 - t0) / 1000000 )) -ge 650 ]"
t0=$(date +%s%N); get "$W/de2" "$U/files/big.bin"; t1=$(date +%s%N)
check "delay count=1: the next answer is prompt" test $(( (t1 - t0) / 1000000 )) -lt 500

armp /files/big.bin body body=damaged
get "$W/bo" "$U/files/big.bin"
check "body: the given text instead of the file" test "$(cat "$W/bo")" = damaged
curl -sS "$U/__control/faults" >"$W/list"
check "armed faults are listed" grep -q '^/files/big.bin body' "$W/list"
curl -sS "$U/__control/clear" >/dev/null
get "$W/after" "$U/files/big.bin"
check "clear disarms every fault" cmp -s "$W/after" "$W/root/files/big.bin"
curl -sS "$U/__control/fault?path=/a&kind=sideways" -o "$W/badkind" -w '%{http_code}' >"$W/badkind.code"
check "unknown fault kind refused with 400" test "$(cat "$W/badkind.code")" = 400

curl -sS -X POST -H 'Content-Type:application/x-www-form-urlencoded' --data-binary $'uid=12&ver=4001\n&conts=a+b%26c' \
  "$U/report/crash.php" -o "$W/post"
check "form post answered" test "$(cat "$W/post")" = ok
curl -sS "$U/__control/mark?text=phase-2" >/dev/null

# The log: one JSON object per request, control requests left out.
python3 - "$W/log.jsonl" >"$W/logcheck" 2>&1 <<'PY'
import json, sys
recs = [json.loads(l) for l in open(sys.argv[1], encoding='utf-8')]
reqs = [r for r in recs if 'method' in r]
assert not any('__control' in r['target'] for r in reqs), 'control request logged'
post = [r for r in reqs if r['method'] == 'POST']
assert len(post) == 1, post
p = post[0]
assert p['path'] == '/report/crash.php', p
assert p['body'] == 'uid=12&ver=4001\n&conts=a+b%26c', repr(p['body'])
assert p['body_len'] == len(p['body']), p
assert 'Content-Type: application/x-www-form-urlencoded\r\n' in p['headers'], p['headers']
assert 'REMOTE_ADDR' not in p['headers'], p['headers']
cut = [r for r in reqs if r['fault'] == 'cut']
assert len(cut) == 1 and cut[0]['status'] == 200
dot = [r for r in reqs if r['target'] == '/./UlLaunch/global_Ulmet.cfg']
assert dot and dot[0]['path'] == '/UlLaunch/global_Ulmet.cfg', dot
assert any(r.get('mark') == 'phase-2' for r in recs)
seqs = [r['seq'] for r in recs]
assert seqs == sorted(seqs) and len(set(seqs)) == len(seqs)
print('log ok', len(reqs))
PY
check "request log records method, path, headers and body" grep -q "log ok" "$W/logcheck"; grep -q "log ok" "$W/logcheck" || cat "$W/logcheck"

kill "$PID"; wait "$PID" 2>/dev/null; PID=
curl -sS "$U/files/big.bin" -o /dev/null 2>/dev/null
check "server down: connection refused (curl 7)" test $? = 7

echo "$fails failure(s)"
[ $fails = 0 ]
