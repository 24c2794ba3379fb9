#!/usr/bin/env bash
# Pages calling the relay through the real script host: bvx.dll registered
# with regsvr32 in the test prefix, the client's running mark and the
# system's product name set in the prefix's registry, a stand-in client
# window that logs what arrives, and a watcher that reads and presses message
# boxes. Every process runs with the same Korean locale (wine-env.sh).
#   page_test.sh BVX_DLL RECEIVER_EXE WATCHER_EXE PAGE_JS
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
dll=$1 receiver=$2 watcher=$3 page=$4

work=$(mktemp -d "$ULMET_BUILD/relay-page.XXXXXX")
cp "$dll" "$work/bvx.dll"
win() { winepath -w "$1" 2>/dev/null; }
win_dll=$(win "$work/bvx.dll")
win_page=$(win "$page")

CURRENT='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
product=$(wine reg query "$CURRENT" /v ProductName 2>/dev/null | tr -d '\r' | sed -n 's/^ *ProductName *REG_SZ *//p')
BASES=('HKLM\Software\ULMET' 'HKLM\Software\ULMET3' 'HKLM\Software\Zolte'
       'HKCU\Software\ULMET' 'HKCU\Software\ULMET3' 'HKCU\Software\Zolte')
clear_marks() { for k in "${BASES[@]}"; do wine reg delete "$k" /f >/dev/null 2>&1; done; }
mark() { wine reg add "$1\\Main" /v Running /d "$2" /f >/dev/null 2>&1; }
set_product() { wine reg add "$CURRENT" /v ProductName /d "$1" /f >/dev/null 2>&1; }
cleanup() {
  clear_marks
  [ -n "$product" ] && set_product "$product"
  wine regsvr32 -u -s "$win_dll" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

fail=0
ok() { echo "ok: $case: $1"; }
bad() { echo "FAILED: $case: $1"; fail=1; }
cp949() { printf "$1" | iconv -f UTF-8 -t CP949; }
# A text as Wine's debugger channel prints it: bytes above 0x7F as \xNN.
traced() {
  local b out=""
  for b in $(cp949 "$1" | od -An -v -tx1); do
    if (( 16#$b >= 128 || 16#$b < 32 )); then out+="\\x$b"; else out+=$(printf "\\x$b"); fi
  done
  printf '%s' "$out"
}

wine regsvr32 -s "$win_dll" >/dev/null 2>&1 || { echo "FAILED: regsvr32 -s"; exit 1; }
[ -n "$product" ] || { echo "FAILED: no product name in the prefix"; exit 1; }

wait_for() { for _ in $(seq 1 200); do [ -e "$1" ] && return 0; sleep 0.05; done; return 1; }

# run_case NAME RECEIVER(yes|no) TITLE_ID TEXT_ID
run_case() {
  case=$1
  local dir="$work/$1"
  mkdir -p "$dir"
  stop="$dir/stop" rlog="$dir/received.log" wlog="$dir/boxes.log" out="$dir/out.txt" err="$dir/trace.txt"
  local pids=()
  wine "$watcher" "$(win "$dir")\\boxes.log" "$(win "$dir")\\stop" >/dev/null 2>&1 &
  pids+=($!)
  if [ "$2" = yes ]; then
    wine "$receiver" "$(win "$dir")\\received.log" "$(win "$dir")\\stop" >/dev/null 2>&1 &
    pids+=($!)
    wait_for "$rlog" || bad "receiver window did not start"
  fi
  wait_for "$wlog" || bad "watcher did not start"
  WINEDEBUG=-all,+debugstr timeout 60 wine cscript //nologo "$win_page" "$3" "$4" >"$out" 2>"$err"
  local rc=$?
  sleep 0.3  # the posted message is handled on the receiver's own time
  touch "$stop"
  wait "${pids[@]}"
  [ -e "$rlog" ] || : >"$rlog"
  ret=$(tr -d '\r' <"$out" | sed -n 's/^ret=//p')
  [ $rc = 0 ] && [ -n "$ret" ] || bad "script host exit $rc, output: $(tr -d '\r' <"$out")"
}

expect_ret() {
  if [ "$1" = written ]; then
    [ "$ret" = -1 ] && ok "returns -1" || bad "returns '$ret', not -1"
  else
    [[ "$ret" =~ ^-?[0-9]+$ ]] && [ "$ret" != -1 ] && ok "result not written (script sees $ret)" || bad "returns '$ret'"
  fi
}
expect_received() {  # TEXT (printf form, UTF-8) | none
  if [ "$1" = none ]; then
    [ ! -s "$rlog" ] && ok "nothing reached the client window" || bad "client received: $(head -c 200 "$rlog")"
    return
  fi
  local want
  want="msg wparam=atom lparam=0 len=$(cp949 "$1" | wc -c) deleted=1 gone=1 text=$(cp949 "$1")"
  if [ "$(wc -l <"$rlog")" = 1 ] && [ "$(head -n 1 "$rlog")" = "$want" ]; then
    ok "whole text arrived in one atom, deleted by the client"
  else
    bad "client log differs: got '$(head -c 300 "$rlog" | tr '\f' '|')'"
  fi
}
expect_no_atom() {
  grep -qx 'msg wparam=0 lparam=0 len=0 deleted=0 gone=0 text=' "$rlog" && [ "$(wc -l <"$rlog")" = 1 ] \
    && ok "posted with wParam 0" || bad "client log: $(head -c 200 "$rlog")"
}
BOX='box title=Ulmet text=울메를 실행하신 후 다운로드 해 주세요. buttons=1 ok=1 icon=exclamation'
expect_box() {
  if [ "$1" = yes ]; then
    [ "$(cat "$wlog")" = "$BOX" ] && ok "message box asks to start the client" || bad "boxes: '$(cat "$wlog")'"
  else
    [ ! -s "$wlog" ] && ok "no message box" || bad "unexpected box: $(cat "$wlog")"
  fi
}
expect_trace() {
  grep -qF "OutputDebugStringA \"$(traced "$1")\"" "$err" && ok "trace $1" || bad "no trace '$1'"
}

set_product "Microsoft Windows 7"

clear_marks; mark 'HKLM\Software\ULMET' 1
run_case running-forward yes ulmet start
expect_ret untouched; expect_received 'CONTENTS\fSTART\fitem=42\f울메 자료'; expect_box no
expect_trace CheckOsVersion_5; expect_trace SetRegKeySubPath::NonVista_HKLM_ULMETPATH
expect_trace GetRunningValue::NonVista-HKLM; expect_trace 'bvx]윈도우 찾기 성공'

run_case long-text-beyond-buffer yes ulmet huge
expect_ret untouched; expect_no_atom; expect_box no

clear_marks; mark 'HKLM\Software\ULMET' 0
run_case not-running-start yes ulmet start
expect_ret untouched; expect_received none; expect_box yes
expect_trace 'bvx]윈도우 찾기 실패'; expect_trace 'GetRunningValue]성공'

run_case not-running-without-start yes ulmet view
expect_ret untouched; expect_received none; expect_box no

clear_marks; mark 'HKLM\Software\ULMET' 1
run_case running-no-window no ulmet start
expect_ret untouched; expect_box yes

clear_marks; mark 'HKLM\Software\ULMET3' 1
run_case second-base yes ulmet start
expect_ret untouched; expect_received 'CONTENTS\fSTART\fitem=42\f울메 자료'; expect_box no
expect_trace SetRegKeySubPath::NonVista_HKLM_PATH

clear_marks
run_case no-registry-base yes ulmet start
expect_ret written; expect_received none; expect_box no
expect_trace 'SendMessage::SetRegKeySubPath strlen <= 0'

run_case lower-case-contents yes ulmet lower
expect_ret untouched; expect_received 'contents\fSTART\fitem=1'; expect_box no

run_case title-marker yes marker notice
expect_ret untouched; expect_received 'NOTICE\fhello 울메'; expect_box no
grep -A1 -F "$(traced 'bvx]윈도우 찾기 성공')" "$err" | tail -n 1 | grep -qF 'OutputDebugStringA "Ulmet"' \
  && ok "searched for the window Ulmet" || bad "searched title not traced as Ulmet"

run_case title-without-marker yes near notice
expect_ret untouched; expect_received none; expect_box no

run_case form-feeds-only yes ulmet formfeeds
expect_ret written; expect_received none; expect_box no

run_case text-over-255-bytes yes ulmet long300
expect_ret untouched; expect_no_atom; expect_box no

# Vista keeps the client's data under the current user: with the mark "1"
# there and "0" in the machine, only the Vista order forwards.
clear_marks; mark 'HKCU\Software\ULMET' 1; mark 'HKLM\Software\ULMET' 0
set_product "Microsoft Windows vista Business"
run_case vista-current-user yes ulmet start
expect_ret untouched; expect_received 'CONTENTS\fSTART\fitem=42\f울메 자료'; expect_box no
expect_trace CheckOsVersion_4; expect_trace SetRegKeySubPath::Vista_HKCU_ULMETPATH
expect_trace GetRunningValue::Vista-HKCU

set_product "Microsoft Windows 7"
run_case same-marks-not-vista yes ulmet start
expect_ret untouched; expect_received none; expect_box yes
expect_trace SetRegKeySubPath::NonVista_HKLM_ULMETPATH

clear_marks; mark 'HKLM\Software\ULMET' 1
set_product "WINDOWS VISTA"
run_case vista-machine yes ulmet start
expect_ret untouched; expect_received 'CONTENTS\fSTART\fitem=42\f울메 자료'; expect_box no
expect_trace SetRegKeySubPath::Vista_HKLM_ULMETPATH; expect_trace GetRunningValue::Vista-HKLM

exit $fail
