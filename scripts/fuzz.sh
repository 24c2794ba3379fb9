#!/usr/bin/env bash
# Longer fuzzing of the portable readers, encoders and checks.
#   scripts/fuzz.sh <target|all> [seconds]     (default: all, 60 s each)
#   scripts/fuzz.sh list                        the targets
# Builds the fuzz tree if needed (clang-14, libFuzzer, ASan, UBSan), then
# runs each target for the given time over its committed seeds
# (tests/fuzz/<target>/seeds) and its kept corpus ($ULMET_BUILD/fuzz/corpus,
# reused by the next run and replayed by the Wine comparison test). An input
# that breaks a property or trips a sanitizer lands in
# $ULMET_BUILD/fuzz/findings/<target>/; the script then exits 1.
# Reproduce a finding with: $ULMET_BUILD/fuzz/bin/<target>_fuzz <input>
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=${ULMET_BUILD:-$ROOT/build}
TARGETS=$(sed -n '/^set(ULMET_FUZZ_TARGETS/,/)/p' "$ROOT/tests/fuzz/CMakeLists.txt" |
  tr -d '()' | sed 's/set//; s/ULMET_FUZZ_TARGETS//' | xargs)
what=${1:-all}
seconds=${2:-60}

if [ "$what" = list ]; then
  echo "$TARGETS" | tr ' ' '\n'
  exit 0
fi
if [ "$what" != all ] && ! echo " $TARGETS " | grep -q " $what "; then
  echo "fuzz: no target '$what'; targets: $TARGETS" >&2
  exit 2
fi
[ "$what" = all ] && what=$TARGETS

if [ ! -f "$B/fuzz/CMakeCache.txt" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B "$B/fuzz" -DULMET_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 2
fi
cmake --build "$B/fuzz" -j "${JOBS:-$(nproc)}" >/dev/null || exit 2

status=0
for t in $what; do
  work=$B/fuzz/work/$t
  mkdir -p "$B/fuzz/corpus/$t" "$B/fuzz/findings/$t" "$work"
  # The kept corpus and findings live apart from the run's log, so that the
  # replay test finds every target's corpus in one place.
  rm -rf "$work/corpus" "$work/findings"
  ln -s "$B/fuzz/corpus/$t" "$work/corpus"
  ln -s "$B/fuzz/findings/$t" "$work/findings"
  "$ROOT/tests/fuzz/run_target.sh" "$B/fuzz/bin/${t}_fuzz" "$ROOT/tests/fuzz/$t" "$work" "$seconds" || status=1
done
exit $status
