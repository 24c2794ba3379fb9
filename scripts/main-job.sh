#!/usr/bin/env bash
# The main job: a whole update run of the real Ulmet.exe under Wine against
# the local test server, with a report of what happened.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh" || exit 1
"$ROOT/scripts/build.sh" >/dev/null || exit 1
source "$ROOT/scripts/wine-env.sh"
wine_env_start || exit 1
trap wine_env_stop EXIT

OUT="$ROOT/build/main-job"
rm -rf "$OUT"; mkdir -p "$OUT"
ARG=$(printf '5001\f2')
echo "main job: starting Ulmet.exe with launch kind 2"
WINEDEBUG=-all,+debugstr timeout 60 wine "$ROOT/build/win/bin/Ulmet.exe" "$ARG" >"$OUT/stdout.log" 2>"$OUT/trace.log"
echo "main job: Ulmet.exe ended with $?"
echo "main job: trace lines:"
grep 'debugstr' "$OUT/trace.log" | sed 's/^.*OutputDebugStringA /  /'
