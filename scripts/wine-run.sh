#!/usr/bin/env bash
# Runs one Windows program under the project's Wine environment. ctest uses it
# as the emulator for cross-built tests; the environment must be started.
# (wine-env.sh's wine keeps Wine's background processes off ctest's pipes.)
source "$(dirname "$0")/wine-env.sh"
wine "$@"
