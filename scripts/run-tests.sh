#!/usr/bin/env bash
# The project's test command: set-up, both builds, then every test: the
# native ones under the sanitizers and the Windows ones under Wine.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh" || exit 1
"$ROOT/scripts/build.sh" || exit 1

B=${ULMET_BUILD:-$ROOT/build}
source "$ROOT/scripts/wine-env.sh"
if ! wine_env_start; then
  # What needs no Wine still runs, so that one run tells both what passed
  # and why the rest could not.
  echo "== native tests (ASan, UBSan) without the scenarios"
  ctest --test-dir "$B/native" --output-on-failure -LE scenario ${CTEST_ARGS:-}
  echo "== the scenarios and the Windows tests did not run: Wine could not start (wine-env says why above)"
  exit 1
fi
trap wine_env_stop EXIT

status=0
# The native tree also holds the scenarios (label "scenario"): native
# programs that run the cross tree's Ulmet.exe under this Wine environment
# against the test server on port 80, one at a time.
echo "== native tests (ASan, UBSan) and scenarios"
ctest --test-dir "$B/native" --output-on-failure ${CTEST_ARGS:-} || status=1
echo "== Windows tests under Wine ($B/$ULMET_WIN_TREE, $WINEARCH)"
[ "$ULMET_WIN_TREE" = win ] || ulmet_i386_why
ctest --test-dir "$B/$ULMET_WIN_TREE" --output-on-failure ${CTEST_ARGS:-} || status=1
exit $status
