#!/usr/bin/env bash
# The file readers read the same entries under Wine (the Windows runtime's
# text mode: CR LF and Ctrl-Z) as natively. Replays every reader's seeds and
# whatever fuzz corpora the build holds through both replay programs and
# compares what they print.
# Usage: replay_test.sh WINDOWS_REPLAY NATIVE_REPLAY FUZZ_SOURCE FUZZ_CORPORA READER...
set -u
WIN=$1
NATIVE=$2
SRC=$3
CORPORA=$4
shift 4
HERE=$(cd "$(dirname "$0")" && pwd)

[ -x "$NATIVE" ] || { echo "replay_test: no native replay at $NATIVE (build the native tree)" >&2; exit 1; }
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

# Inputs: the committed seeds, the kept corpora of scripts/fuzz.sh and of
# the test run's short fuzzing (native tree), when they exist.
: >"$W/native.list"
: >"$W/windows.list"
count=0
for reader in "$@"; do
  for dir in "$SRC/$reader/seeds" "$CORPORA/$reader" "$CORPORA/../../native/tests/fuzz/runs/$reader/corpus"; do
    [ -d "$dir" ] || continue
    for f in "$dir"/*; do
      [ -f "$f" ] || continue
      abs=$(readlink -f "$f")
      echo "$reader $abs" >>"$W/native.list"
      echo "$reader Z:${abs//\//\\}" >>"$W/windows.list"
      count=$((count + 1))
    done
  done
done

"$NATIVE" "$W/native.list" "$W/native.out" || { echo "replay_test: native replay failed" >&2; exit 1; }
"$HERE/../../scripts/wine-run.sh" "$WIN" "Z:${W//\//\\}\\windows.list" "Z:${W//\//\\}\\windows.out" \
  >"$W/wine.log" 2>&1 || { echo "replay_test: replay under Wine failed" >&2; cat "$W/wine.log" >&2; exit 1; }
[ -s "$W/windows.out" ] || { echo "replay_test: no output under Wine" >&2; cat "$W/wine.log" >&2; exit 1; }

files=$(grep -c '^== ' "$W/native.out")
if cmp -s "$W/native.out" "$W/windows.out"; then
  echo "replay_test: $count inputs, $files replayed, the same entries natively and under Wine"
  exit 0
fi
echo "replay_test: the builds read different entries:"
diff "$W/native.out" "$W/windows.out" | head -60
exit 1
