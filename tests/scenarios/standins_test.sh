#!/usr/bin/env bash
# The test bed's Windows stand-ins under Wine, each against a real second
# Wine process: the client's start record, window, running mark and its
# handling of message 1224 with a real global atom; the installer-style
# stand-in; the browser as the prefix's http handler; the answerer on a
# system message box and on a box shaped like the updater's.
# Usage: standins_test.sh BIN_DIR   (the Wine environment must be started)
set -u
BIN=$(cd "$1" && pwd)
source "$(dirname "$0")/../../scripts/wine-env.sh"
W=$(mktemp -d)
trap 'wine "$BIN/tbctl.exe" quit 3000 >/dev/null 2>&1; [ -n "${KEEP:-}" ] || rm -rf "$W"' EXIT
export ULMET_TESTBED_LOG="Z:$W/logs"
mkdir -p "$W/logs" "$W/client"
fails=0
# Runs a command with its output in a file, then prints it: a Wine process
# started on the way (the desktop process) must not inherit the pipe of a
# command substitution and keep it open.
through_file() { local f rc; f=$(mktemp); "$@" </dev/null >"$f"; rc=$?; cat "$f"; rm -f "$f"; return $rc; }
check() { local name=$1; shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; fails=$((fails + 1)); fi; }
field() { # field FILE FILTER_KEY FILTER_VALUE KEY: value of KEY in the last record matching
  python3 -c '
import json,sys
v=None
for l in open(sys.argv[1],encoding="utf-8"):
    r=json.loads(l)
    if sys.argv[2]=="" or str(r.get(sys.argv[2]))==sys.argv[3]: v=r.get(sys.argv[4])
print("" if v is None else v, end="")' "$@" 2>/dev/null; }
reg_running() { through_file wine reg query 'HKLM\Software\ULMET\Main' /v Running 2>/dev/null | tr -d '\r' | awk '/Running/ {print $3}'; }

cp "$BIN/UlmetMain.exe" "$W/client/UlmetMain.exe"
cp "$BIN/UlmetMain.exe" "$W/client/Update3.exe"
wine reg delete 'HKLM\Software\ULMET' /f >/dev/null 2>&1

# The client, started the way the updater starts it.
ARG=$(printf '5001\f1\ftok%%en')
(cd "$W/client" && wine "$W/client/UlmetMain.exe" "$ARG" >/dev/null 2>&1 &)
wine "$BIN/tbctl.exe" wait Ulmet 10000 >/dev/null 2>&1
check "client shows a top-level window titled Ulmet" test $? = 0
check "client records its command line exactly" test "$(field "$W/logs/starts.jsonl" program UlmetMain.exe command_line)" \
  = "\"Z:${W//\//\\}\\client\\UlmetMain.exe\" $ARG"
check "client records its current directory" test "$(field "$W/logs/starts.jsonl" program UlmetMain.exe cwd)" = "Z:${W//\//\\}\\client"
check "client marks itself running" test "$(reg_running)" = 1

TEXT=$(printf 'CONTENTS\fSTART\f한글 자료')
wine "$BIN/tbctl.exe" post Ulmet "$TEXT" >"$W/atom" 2>/dev/null
check "atom posted from another process" test -s "$W/atom"
for _ in $(seq 1 50); do [ -s "$W/logs/messages.jsonl" ] && break; sleep 0.1; done
check "client read the atom's text (Korean in code page 949)" test "$(field "$W/logs/messages.jsonl" "" "" text)" = "$TEXT"
check "client read the right atom" test "$(field "$W/logs/messages.jsonl" "" "" atom)" = "$(tr -d '\r\n' <"$W/atom")"
wine "$BIN/tbctl.exe" atom "$TEXT" >/dev/null 2>&1
check "client deleted the atom" test $? = 1

wine "$BIN/tbctl.exe" quit 5000 >/dev/null 2>&1
check "client ends on request" test $? = 0
check "client clears its running mark" test "$(reg_running)" = 0

# Under another name it only records its start.
(cd "$W/client" && timeout 20 wine "$W/client/Update3.exe" "$ARG" >/dev/null 2>&1)
check "Update3 stand-in ends by itself" test $? = 0
check "Update3 stand-in records its start" test "$(field "$W/logs/starts.jsonl" program Update3.exe command_line)" \
  = "\"Z:${W//\//\\}\\client\\Update3.exe\" $ARG"

# The browser as the http handler: a shell "open" of an address reaches it.
WB="Z:${BIN//\//\\}\\testbed_browser.exe"
wine reg add 'HKCR\http\shell\open\command' /ve /d "\"$WB\" \"%1\"" /f >/dev/null 2>&1
timeout 20 wine start /wait 'http://127.0.0.1/some/page?x=1' >/dev/null 2>&1
for _ in $(seq 1 50); do [ -s "$W/logs/pages.jsonl" ] && break; sleep 0.1; done
check "browser stand-in records the address" test "$(field "$W/logs/pages.jsonl" "" "" url)" = 'http://127.0.0.1/some/page?x=1'

# The answerer: a system box answered with Cancel, then a box like the
# updater's answered with its first button.
(wine "$BIN/testbed_answerer.exe" --answers cancel,first --hold-ms 100 --watch "오류" >/dev/null 2>&1 &)
for _ in $(seq 1 50); do grep -q '"ready"' "$W/logs/boxes.jsonl" 2>/dev/null && break; sleep 0.1; done
R1=$(through_file timeout 30 wine "$BIN/tbctl.exe" msgbox "오류" "첫 줄
둘째 줄" 2>/dev/null | tr -d '\r')
check "system box pressed with Cancel" test "$R1" = 2
check "system box caption recorded" test "$(field "$W/logs/boxes.jsonl" kind system caption)" = "오류"
check "system box text recorded" test "$(field "$W/logs/boxes.jsonl" kind system text)" = "첫 줄
둘째 줄"
# --watch follows the windows titled "오류": the system box came and went.
for _ in $(seq 1 30); do grep -q '"title":"오류","visible":"0"' "$W/logs/boxes.jsonl" && break; sleep 0.1; done
check "watched window seen visible" grep -q '"event":"window","title":"오류","visible":"1"' "$W/logs/boxes.jsonl"
check "watched window seen gone" grep -q '"event":"window","title":"오류","visible":"0"' "$W/logs/boxes.jsonl"
check "box record says the watched window was visible" test "$(field "$W/logs/boxes.jsonl" kind system watched_visible)" = 1
R2=$(through_file timeout 30 wine "$BIN/tbctl.exe" dialog "정보
본문 둘째 줄" 2>/dev/null | tr -d '\r')
check "updater-like box pressed with its first button" test "$R2" = 1176
check "updater-like box: caption is the window text's first line" test "$(field "$W/logs/boxes.jsonl" kind product caption)" = "정보"
check "updater-like box: message is the rest" test "$(field "$W/logs/boxes.jsonl" kind product text)" = "본문 둘째 줄"

# tbctl hold: while it holds a file, another process can neither rename nor
# delete it; released, it can be renamed again.
echo held > "$W/client/held.txt"
(wine "$BIN/tbctl.exe" hold "Z:${W//\//\\}\\client\\held.txt" 3000 >"$W/hold.out" 2>&1 &)
for _ in $(seq 1 100); do grep -q held "$W/hold.out" 2>/dev/null && break; sleep 0.1; done
check "hold reports the file held" grep -q held "$W/hold.out"
wine cmd /c move "Z:${W//\//\\}\\client\\held.txt" "Z:${W//\//\\}\\client\\moved.txt" >/dev/null 2>&1
check "a held file cannot be renamed" test -f "$W/client/held.txt" -a ! -f "$W/client/moved.txt"
wine cmd /c del "Z:${W//\//\\}\\client\\held.txt" >/dev/null 2>&1
check "a held file cannot be deleted" test -f "$W/client/held.txt"
sleep 3
wine cmd /c move "Z:${W//\//\\}\\client\\held.txt" "Z:${W//\//\\}\\client\\moved.txt" >/dev/null 2>&1
check "released, it can be renamed" test -f "$W/client/moved.txt"

echo "$fails failure(s)"
[ $fails = 0 ]
