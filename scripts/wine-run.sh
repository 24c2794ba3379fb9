#!/usr/bin/env bash
# Runs one Windows program under the project's Wine environment. ctest uses it
# as the emulator for cross-built tests; the environment must be started.
source "$(dirname "$0")/wine-env.sh"
exec wine "$@"
