#!/usr/bin/env bash
# Runs every test: the native sanitizer build, then the Windows build under Wine with a
# persistent wineserver. Ends with ctest's summary; fails when any test failed.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

status=0
echo "== native tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
ctest --test-dir build/native --output-on-failure -j 2 || status=1

echo "== Windows tests under Wine"
tools/wine-session.sh start
trap 'tools/wine-session.sh stop' EXIT
ctest --test-dir build/win --output-on-failure -j 2 || status=1
exit $status
