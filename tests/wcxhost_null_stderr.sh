#!/usr/bin/env bash
# NUL as wcxhost's standard error costs nothing: it is a character device but no console, so
# the live line is never drawn on it. The benchmarks and the test suites run wcxhost that way.
# Counts the drawings that reach /dev/null (Wine's NUL device is /dev/null, as is a shell's
# 2>/dev/null) in a trace of the write calls: none by default, and some with --progress, which
# shows that the trace sees them.
#
#   wcxhost_null_stderr.sh BIN WORK   (the Windows build's bin/, a scratch folder)
set -euo pipefail
bin=${1:?usage: wcxhost_null_stderr.sh BIN WORK}
work=${2:?}
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/common.sh"
export WINEPREFIX="${WINEPREFIX:-$top/build/wineprefix}"
export WINEDEBUG=-all

rm -rf "$work"
mkdir -p "$work/plugin" "$work/src/Rel"
work=$(cd "$work" && pwd)
cp "$bin/ravelpak.wcx64" "$work/plugin/"
head -c 1048576 /dev/urandom > "$work/film.bin"
(cd "$work" && zip -q -0 src/Rel/rel.zip film.bin)

# drawings OPTIONS...: unpacks the release with standard error on /dev/null, prints the number
# of live-line drawings written there.
drawings() {
  rm -rf "$work/out"
  strace -f -qq -y -e trace=write,writev,pwrite64 -o "$work/trace" \
    wine "$bin/wcxhost.exe" pack "$@" "$(winpath "$work/plugin/ravelpak.wcx64")" "$(winpath "$work/out/x.zip")" \
    "$(winpath "$work/src")\\" Rel > "$work/result.txt" 2>/dev/null
  if ! grep -q '^result 0' "$work/result.txt"; then
    echo "wcxhost_null_stderr: the job failed:" >&2
    cat "$work/result.txt" >&2
    exit 1
  fi
  grep -c '</dev/null>, "\\r' "$work/trace" || true
}

quiet=$(drawings)
forced=$(drawings --progress)
echo "live-line drawings on NUL: $quiet by default, $forced with --progress"
[ "$quiet" -eq 0 ] && [ "$forced" -gt 0 ]
