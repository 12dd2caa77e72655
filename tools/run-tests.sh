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
# The dialog tests need a display: a private Xvfb on the first free display number.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 </dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$display_file")"
rm -f "$display_file"
tools/wine-session.sh stop
tools/wine-session.sh start
trap 'tools/wine-session.sh stop; kill $xvfb_pid 2>/dev/null' EXIT
if ! ctest --test-dir build/win --output-on-failure -j 2; then
  # Wine now and then fails to start a program at all (no output, an exit within milliseconds)
  # when two start at once. A few such failures are run once more, alone, and named; a test
  # that fails again, or many that fail, fail the run.
  failed=build/win/Testing/Temporary/LastTestsFailed.log
  if [ "$(wc -l <"$failed")" -le 3 ]; then
    echo "== run once more, alone: $(cut -d: -f2 "$failed" | tr '\n' ' ')"
    ctest --test-dir build/win --output-on-failure --rerun-failed -j 1 || status=1
  else
    status=1
  fi
fi
exit $status
