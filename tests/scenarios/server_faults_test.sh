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

# Ranges: one range a request, 206 with its Content-Range, several on one
# connection.
part() { head -c $(($1 + $2)) "$BIG" | tail -c "$2"; } # part OFFSET LENGTH: bytes of the file
export BIG="$W/root/files/big.bin"
export -f part
get "$W/r1" -r 1000-1999 "$U/files/big.bin"
check "range: 206 with Content-Range and Content-Length, the bytes asked for" bash -c \
  "[ $(status "$W/r1") = 206 ] && [ '$(hdr "$W/r1" Content-Range)' = 'bytes 1000-1999/70000' ] && [ '$(hdr "$W/r1" Content-Length)' = 1000 ] && cmp -s '$W/r1' <(part 1000 1000)"
get "$W/r2" -r 69990- "$U/files/big.bin"
get "$W/r3" -r -10 "$U/files/big.bin"
get "$W/r4" -r 60000-99999 "$U/files/big.bin"
check "range: open end, last bytes, an end beyond the file" bash -c \
  "cmp -s '$W/r2' <(part 69990 10) && cmp -s '$W/r3' <(part 69990 10) && [ '$(hdr "$W/r4" Content-Range)' = 'bytes 60000-69999/70000' ]"
get "$W/r5" -r 70000-70010 "$U/files/big.bin"
check "range beyond the end: 416 with the size" bash -c \
  "[ $(status "$W/r5") = 416 ] && [ '$(hdr "$W/r5" Content-Range)' = 'bytes */70000' ]"
get "$W/r6" -r 0-1,5-6 "$U/files/big.bin"
check "several ranges in one request: 200 with the whole file" bash -c \
  "[ $(status "$W/r6") = 200 ] && cmp -s '$W/r6' '$W/root/files/big.bin'"
curl -sS -o "$W/k1" -r 0-99 "$U/files/big.bin" -w '%{num_connects} ' --next -o "$W/k2" -r 100-199 "$U/files/big.bin" \
  -w '%{num_connects}' >"$W/connects"
check "ranges one after the other on one kept-open connection" bash -c \
  "[ \"\$(cat '$W/connects')\" = '1 0' ] && cmp -s '$W/k2' <(part 100 100)"

armp /files/big.bin noranges
get "$W/nr" -r 10-19 "$U/files/big.bin"
check "noranges: the range passed over, 200 with the whole file" bash -c \
  "[ $(status "$W/nr") = 200 ] && cmp -s '$W/nr' '$W/root/files/big.bin' && ! grep -qi '^Content-Range' '$W/nr.h'"
armp /files/big.bin wrongrange
get "$W/wr" -r 10-19 "$U/files/big.bin"
armp /files/big.bin wrongrange shift=-5
get "$W/wr2" -r 10-19 "$U/files/big.bin"
check "wrongrange: the bytes asked for under a Content-Range shift bytes off" bash -c \
  "[ $(status "$W/wr") = 206 ] && [ '$(hdr "$W/wr" Content-Range)' = 'bytes 11-20/70000' ] && [ '$(hdr "$W/wr2" Content-Range)' = 'bytes 5-14/70000' ] && cmp -s '$W/wr' <(part 10 10)"
armp /files/big.bin wrongbytes at=3
get "$W/wb" -r 100-299 "$U/files/big.bin"
get "$W/wbw" "$U/files/big.bin"
check "wrongbytes: one byte flipped in the range and in a whole answer" bash -c \
  "[ $(status "$W/wb") = 206 ] && [ \$(cmp -l '$W/wb' <(part 100 200) | wc -l) = 1 ] && cmp -l '$W/wb' <(part 100 200) | grep -q '^ *4 ' && [ \$(cmp -l '$W/wbw' '$W/root/files/big.bin' | wc -l) = 1 ]"
armp /files/big.bin cut bytes=500
get "$W/rc" -r 1000-9999 "$U/files/big.bin"
check "cut inside a range: the range's length announced, 500 bytes, dropped (curl 18)" bash -c \
  "[ \$(cat '$W/rc.rc') = 18 ] && [ '$(hdr "$W/rc" Content-Length)' = 9000 ] && cmp -s '$W/rc' <(part 1000 500)"
curl -sS "$U/__control/clear" >/dev/null

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
cut = [r for r in reqs if r['fault'] == 'cut' and 'Range:' not in r['headers']]
assert len(cut) == 1 and cut[0]['status'] == 200
dot = [r for r in reqs if r['target'] == '/./UlLaunch/global_Ulmet.cfg']
assert dot and dot[0]['path'] == '/UlLaunch/global_Ulmet.cfg', dot
assert any(r.get('mark') == 'phase-2' for r in recs)
# What each answer's body carried to the connection, after its request.
sent = {r['answered']: r for r in recs if 'answered' in r}
byseq = {r['seq']: r for r in reqs}
def answer(headers_part, status):
    got = [sent[r['seq']] for r in reqs if headers_part in r['headers'] and r['status'] == status and r['seq'] in sent]
    assert got, (headers_part, status)
    return got[0]
assert answer('Range: bytes=1000-1999', 206)['sent'] == 1000
cutr = answer('Range: bytes=1000-9999', 206)
assert cutr['sent'] == 500 and cutr['complete'] == 0, cutr
assert all(s['answered'] < s['seq'] for s in sent.values())
plain = [r for r in reqs if r['path'] == '/files/big.bin' and r['status'] == 200 and r['fault'] == '']
assert sent[plain[0]['seq']]['sent'] == 70000 and sent[plain[0]['seq']]['complete'] == 1
seqs = [r['seq'] for r in recs]
assert seqs == sorted(seqs) and len(set(seqs)) == len(seqs)
print('log ok', len(reqs))
PY
check "request log records method, path, headers and body" grep -q "log ok" "$W/logcheck"; grep -q "log ok" "$W/logcheck" || cat "$W/logcheck"

kill "$PID"; wait "$PID" 2>/dev/null; PID=
curl -sS "$U/files/big.bin" -o /dev/null 2>/dev/null
check "server down: connection refused (curl 7)" test $? = 7

# A paced line is one for all connections: two answers of 1 MB at once at
# 16 Mbit/s (2 MB/s) take about a second together, not half of one each.
head -c 1000000 /dev/urandom >"$W/root/files/mb.bin"
"$BIN" --root "$W/root" --log "$W/paced.jsonl" --port 0 --ready-file "$W/paced.ready" --rate-mbit 16 \
  >"$W/paced.out" 2>&1 &
PID=$!
for _ in $(seq 1 100); do [ -f "$W/paced.ready" ] && break; sleep 0.05; done
P="http://127.0.0.1:$(cut -d' ' -f2 "$W/paced.ready")/files/mb.bin"
t0=$(date +%s%N)
curl -sS -o "$W/paced1" "$P" & c1=$!
curl -sS -o "$W/paced2" "$P"; wait $c1
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
check "--rate-mbit paces every connection together ($ms ms for 2 MB at 2 MB/s)" \
  bash -c "cmp -s '$W/paced1' '$W/root/files/mb.bin' && cmp -s '$W/paced2' '$W/root/files/mb.bin' && [ $ms -ge 850 ] && [ $ms -le 3000 ]"
"$BIN" --root "$W/root" --log "$W/x" --port 0 --rate-mbit 0 >/dev/null 2>&1; check "a rate of 0 refused" test $? = 2
kill "$PID"; wait "$PID" 2>/dev/null; PID=

echo "$fails failure(s)"
[ $fails = 0 ]
