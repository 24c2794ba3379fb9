#!/usr/bin/env bash
# The main job: a whole update run of the real Ulmet.exe under Wine against
# the local test server, with a report of what happened.
#
# It publishes a sample release (several versions, an archive with
# sub-folders, a file deletion, a folder deletion, a name with a blank, a new
# page relay component and the updater's own new copy),
# installs an older client into the Wine prefix (registry and folder), serves
# the release, runs Ulmet.exe with the message-box answerer watching, and
# prints the installed version before and after, the files that changed, the
# programs that were started, the boxes and pages, the requests, the trace
# and where the screenshots are.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh" || exit 1
"$ROOT/scripts/build.sh" >/dev/null || exit 1
B=${ULMET_BUILD:-$ROOT/build}
export ULMET_BUILD=$B
source "$ROOT/scripts/wine-env.sh"
wine_env_start || exit 1

WIN=$B/$ULMET_WIN_TREE/bin
NAT=$B/native/bin
OUT=$B/main-job
HOST=$(sed -n 's/^ULMET_CONFIG_HOST:STRING=//p' "$B/$ULMET_WIN_TREE/CMakeCache.txt")
HOST=${HOST:-127.0.0.1}
CLIENT_UNIX=$WINEPREFIX/drive_c/Ulmet
ARG=$(printf '5001\f2')
export ULMET_TESTBED_LOG="Z:${OUT//\//\\}\\logs"
export TB_SERVER_STATE=$OUT/server

cleanup() {
  wine "$WIN/tbctl.exe" quit 5000 >/dev/null 2>&1
  "$ROOT/testbed/server.sh" stop >/dev/null 2>&1
  [ -n "${SHOTS_PID:-}" ] && kill "$SHOTS_PID" 2>/dev/null
  wine_env_stop
}
trap cleanup EXIT

rm -rf "$OUT"; mkdir -p "$OUT/logs" "$OUT/release/client" "$OUT/shots"
say() { printf '%s\n' "$*"; }

# --- The release: the newest client and its history. ------------------------
C=$OUT/release/client
mkdir -p "$C/Data/Skins/blue" "$C/Data/Skins/red"
cp "$WIN/UlmetMain.exe" "$C/UlmetMain.exe"
printf 'a.dll version 3\n' >"$C/a.dll"
printf 'Welcome to the new Ulmet.\n' >"$C/read me.txt"
printf '[view]\nskin=blue\n' >"$C/Data/config.ini"
printf 'blue skin\n' >"$C/Data/Skins/blue/panel.bmp"
printf 'red skin\n' >"$C/Data/Skins/red/panel.bmp"
head -c 1500000 /dev/urandom >"$C/big.pak"
printf 'sound bank v3\n' >"$C/sound.dat"
cp "$WIN/bvx.dll" "$C/bvx.dll"
cp "$WIN/Ulmet.exe" "$C/Ulmet.exe"
cat >"$OUT/release/release.txt" <<REL
# Sample release of the main job
host $HOST
archive Data\\Skins.zip Skins
file Ulmet.ex_ Ulmet.exe
version 1001 a.dll
version 1002 Data\\Skins.zip "read me.txt" -old.dll bvx.dll
version 1003 a.dll Data\\config.ini big.pak =OldCache
version 1004 Ulmet.ex_
REL
"$NAT/testbed_publish" --client "$C" --release "$OUT/release/release.txt" --out "$OUT/tree" --quiet || exit 1
# The operators' check of the tree, with the updater's own readers and rules.
"$NAT/ulmet-publish" verify "$OUT/tree" >"$OUT/verify.txt" 2>/dev/null ||
  { cat "$OUT/verify.txt"; echo "main job: the sample release does not pass ulmet-publish verify"; exit 1; }

# --- An older client installed in the prefix (version 1001). ----------------
wine "$WIN/tbctl.exe" quit 3000 >/dev/null 2>&1
rm -rf "$CLIENT_UNIX"; mkdir -p "$CLIENT_UNIX/OldCache/sub"
cp "$WIN/UlmetMain.exe" "$CLIENT_UNIX/"
# The installed updater and page relay component are older builds: the same
# programs with a few bytes more, so that their replacement shows.
{ cat "$WIN/Ulmet.exe"; printf 'older build'; } >"$CLIENT_UNIX/Ulmet.exe"
{ cat "$WIN/bvx.dll"; printf 'older build'; } >"$CLIENT_UNIX/bvx.dll"
# Damaged behind the updater's back; no update line names it, so only the
# digest check brings it back.
printf 'sound bank, damaged\n' >"$CLIENT_UNIX/sound.dat"
printf 'a.dll version 1\n' >"$CLIENT_UNIX/a.dll"
printf 'obsolete\n' >"$CLIENT_UNIX/old.dll"
printf 'cache\n' >"$CLIENT_UNIX/OldCache/sub/entry.tmp"
rm -f "$WINEPREFIX/drive_c/windows/temp/"*_
BROWSER="Z:${WIN//\//\\\\}\\\\testbed_browser.exe"
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
  '[-HKEY_LOCAL_MACHINE\Software\ULMET]' '[-HKEY_LOCAL_MACHINE\Software\ULMET3]' '[-HKEY_LOCAL_MACHINE\Software\Zolte]' \
  '[HKEY_LOCAL_MACHINE\Software\ULMET]' '"MainPath"="C:\\Ulmet\\"' '"AppVersion"="1001"' '"PatchPath"="C:\\Ulmet"' \
  '[HKEY_CLASSES_ROOT\http\shell\open\command]' "@=\"\\\"$BROWSER\\\" \\\"%1\\\"\"" >"$OUT/install.reg"
wine regedit /S "$OUT/install.reg" >/dev/null 2>&1 || { echo "main job: registry import failed"; exit 1; }
listing() { (cd "$CLIENT_UNIX" && find . -type f ! -name 'Ulmet.e_*' -exec md5sum {} + | sed 's| \./| |' | sort -k2); }
listing >"$OUT/files-before.txt"
reg_version() { wine reg query 'HKLM\Software\ULMET' /v AppVersion 2>/dev/null | tr -d '\r' | awk '/AppVersion/ {print $3}'; }
BEFORE=$(reg_version)

# --- Serve it and run the updater. ------------------------------------------
"$ROOT/testbed/server.sh" start --root "$OUT/tree" --log "$OUT/requests.jsonl" --bind "$HOST" --port 80 >/dev/null || exit 1
# The big file trickles in, so that the progress dialog stays on screen a while.
"$ROOT/testbed/server.sh" fault /Ulmet3/files/big.pak trickle bytes=100000 interval_ms=150 >/dev/null
(wine "$WIN/testbed_answerer.exe" --answers first --hold-ms 800 >/dev/null 2>&1 &)
for _ in $(seq 1 100); do grep -q '"ready"' "$OUT/logs/boxes.jsonl" 2>/dev/null && break; sleep 0.1; done
( n=0; while :; do n=$((n + 1)); import -window root "$OUT/shots/during-$(printf %02d $n).png" 2>/dev/null; sleep 1; done ) &
SHOTS_PID=$!

say "main job: client $BEFORE installed in C:\\Ulmet; release of versions 1001-1004 served on $HOST:80"
say "main job: ulmet-publish verify of the tree: $(tail -n 1 "$OUT/verify.txt")"
say "main job: starting Ulmet.exe with the launch argument 5001<FF>2"
START=$(date +%s.%N)
WINEDEBUG=-all,+debugstr timeout 120 wine "$CLIENT_UNIX/Ulmet.exe" "$ARG" >"$OUT/stdout.log" 2>"$OUT/trace.log"
RC=$?
END=$(date +%s.%N)
# The new updater that the first run started finishes the job (it removes
# the old copy, repairs files by their digests and starts the client).
for _ in $(seq 1 600); do grep -q '"program":"UlmetMain.exe"' "$OUT/logs/starts.jsonl" 2>/dev/null && break; sleep 0.1; done
DONE=$(date +%s.%N)
kill "$SHOTS_PID" 2>/dev/null; wait "$SHOTS_PID" 2>/dev/null; SHOTS_PID=
sleep 1.5
import -window root "$OUT/shots/end.png" 2>/dev/null
AFTER=$(reg_version)
listing >"$OUT/files-after.txt"

# --- Report. ----------------------------------------------------------------
say "main job: Ulmet.exe ended with exit code $RC after $(awk "BEGIN {printf \"%.1f\", $END - $START}") s; the client started $(awk "BEGIN {printf \"%.1f\", $DONE - $START}") s after the start"
say ""
say "installed version: $BEFORE -> $AFTER"
say "files changed in C:\\Ulmet (md5 before -> after):"
python3 - "$OUT/files-before.txt" "$OUT/files-after.txt" <<'PY'
import sys
def load(p):
    d = {}
    for line in open(p, encoding='utf-8', errors='replace'):
        h, name = line.rstrip('\n').split(' ', 1)
        d[name.strip()] = h
    return d
a, b = load(sys.argv[1]), load(sys.argv[2])
for name in sorted(set(a) | set(b)):
    if name not in b: print(f"  deleted   {name}")
    elif name not in a: print(f"  new       {name}")
    elif a[name] != b[name]: print(f"  changed   {name}")
PY
say "programs started:"
python3 - "$OUT/logs" <<'PY'
import json, os, sys
def records(name):
    p = os.path.join(sys.argv[1], name)
    return [json.loads(l) for l in open(p, encoding='utf-8')] if os.path.exists(p) else []
for r in records('starts.jsonl'):
    print("  %s: %s  (in %s)" % (r['program'], r['command_line'].replace('\f', '<FF>'), r['cwd']))
if not records('starts.jsonl'): print("  none")
boxes = [r for r in records('boxes.jsonl') if r.get('event') == 'box']
print("message boxes:" + ("" if boxes else " none"))
for b in boxes: print("  [%s] %s" % (b['caption'], b['text'].replace('\n', ' / ')))
pages = records('pages.jsonl')
print("pages opened:" + ("" if pages else " none"))
for p in pages: print("  " + p['url'])
PY
clsid=$(wine reg query 'HKCR\Brevix.Quillet\CLSID' /ve 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ {print $NF}')
server=$([ -n "$clsid" ] && wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve 2>/dev/null | tr -d '\r' | LC_ALL=C sed -n 's/^.*REG_SZ *//p')
say "page relay component: Brevix.Quillet -> ${clsid:-not registered} ${server:+in $server}"
say "requests to the server:"
python3 - "$OUT/requests.jsonl" <<'PY'
import json, sys
for l in open(sys.argv[1], encoding='utf-8'):
    r = json.loads(l)
    if 'method' in r: print("  %s %s -> %s%s" % (r['method'], r['target'], r['status'], "  (" + r['fault'] + ")" if r['fault'] else ""))
PY
say "trace (DebugTrace lines):"
grep 'warn:debugstr' "$OUT/trace.log" | sed 's/^.*OutputDebugStringA "//; s/\\n"$//; s/"$//' | head -200 |
  python3 -c '
import sys,re
for line in sys.stdin:
    try:
        raw = bytes(line.rstrip("\n"), "latin-1", "replace").decode("unicode_escape").encode("latin-1", "replace")
        text = raw.decode("cp949", "replace").rstrip("\n")
    except UnicodeDecodeError:  # a line that Wine cut short
        text = line.rstrip("\n")
    if text: print("  " + text.replace("\n", " / "))'
say ""
say "screenshots: $OUT/shots (during-*.png while running, end.png after)"
say "logs: $OUT (trace.log, requests.jsonl, logs/*.jsonl, files-before.txt, files-after.txt)"
# The job did its work only when the release is installed, the client was
# started and the page relay component is the new copy, registered where it
# lies.
ok=1
[ "$RC" = 0 ] || { say "main job: the updater failed"; ok=0; }
[ "$AFTER" = 1004 ] || { say "main job: AppVersion is $AFTER, not 1004"; ok=0; }
grep -q '"program":"UlmetMain.exe"' "$OUT/logs/starts.jsonl" || { say "main job: the client was not started"; ok=0; }
cmp -s "$WIN/bvx.dll" "$CLIENT_UNIX/bvx.dll" || { say "main job: bvx.dll is not the released copy"; ok=0; }
printf '%s' "$server" | grep -qi '^c:\\ulmet\\bvx\.dll$' || { say "main job: the component is not registered from C:\\Ulmet\\bvx.dll"; ok=0; }
[ $ok = 1 ]
