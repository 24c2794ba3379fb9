#!/usr/bin/env bash
# A DebugTrace line from a program under Wine appears on Wine's debugger
# channel, with its line feed.
set -u
here=$(dirname "$0")
out=$(mktemp)
trap 'rm -f "$out"' EXIT
WINEDEBUG=-all,+debugstr "$here/../../scripts/wine-run.sh" "$1" >/dev/null 2>"$out"
fail=0
check() { if grep -qF -- "$1" "$out"; then echo "ok: $2"; else echo "FAILED: $2"; fail=1; fi; }
check 'warn:debugstr:OutputDebugStringA "probe short 42%\n"' "short line with its line feed"
check 'OutputDebugStringA "LONGSTARTxxxx' "long line reaches the channel"
check 'OutputDebugStringA "percent %s %n stays\n"' "value text printed, not used as format"
[ $fail = 0 ] || { echo "--- channel output:"; head -c 3000 "$out"; }
exit $fail
