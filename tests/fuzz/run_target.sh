#!/usr/bin/env bash
# Runs one fuzz program for a while over its seeds and its working corpus.
# Usage: run_target.sh PROGRAM TARGET_FOLDER WORK_FOLDER SECONDS
#   TARGET_FOLDER holds seeds/ (read only) and optionally dict;
#   WORK_FOLDER receives corpus/ (what the run found worth keeping, reused by
#   the next run), findings/ (inputs that broke a property) and log.
# Prints one summary line; exits 1 on any finding, 2 when it could not run.
set -u
PROGRAM=$1
TARGET=$2
WORK=$3
SECONDS_=$4
name=$(basename "$TARGET")

[ -x "$PROGRAM" ] || { echo "fuzz $name: no program at $PROGRAM (scripts/build.sh builds the fuzz tree)" >&2; exit 2; }
[ -d "$TARGET/seeds" ] || { echo "fuzz $name: no seeds in $TARGET/seeds" >&2; exit 2; }
mkdir -p "$WORK/corpus" "$WORK/findings"
dict=()
[ -f "$TARGET/dict" ] && dict=(-dict="$TARGET/dict")

# New inputs go to the first folder only; the seeds stay as committed.
"$PROGRAM" -max_total_time="$SECONDS_" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$WORK/findings/" "${dict[@]}" "$WORK/corpus" "$TARGET/seeds" \
  </dev/null >"$WORK/log" 2>&1
rc=$?

execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$WORK/log" | tail -1)
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$WORK/log" | tail -1)
cov=$(grep -o 'cov: [0-9]*' "$WORK/log" | tail -1)
corpus=$(find -L "$WORK/corpus" -type f | wc -l)
if [ $rc -eq 0 ]; then
  echo "fuzz $name: ${execs:-?} executions in ${SECONDS_} s (${speed:-?}/s), ${cov:-cov: ?}, corpus $corpus: no finding"
  exit 0
fi
echo "fuzz $name: FINDING after ${execs:-?} executions (exit $rc); log: $WORK/log"
grep -E 'property broken|ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)|runtime error|^  [^ ]' "$WORK/log" | head -20
ls -1 "$WORK/findings"/* 2>/dev/null | sed 's/^/  input: /'
exit 1
