#!/usr/bin/env bash
# Opens the settings dialog under Xvfb, in English and with the Simplified Chinese language
# module, with a few keep patterns in its list, and saves the two pictures under docs/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/win/bin"
work="$top/build/screenshots"
. "$top/tools/common.sh"

display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 </dev/null &
xvfb_pid=$!
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  "$top/tools/wine-session.sh" stop
  kill "$xvfb_pid" 2>/dev/null
  rm -f "$display_file"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$display_file")"
# A prefix of its own, so that the pictures do not depend on what the tests left behind.
export WINEPREFIX="$work/wineprefix"
"$top/tools/wine-session.sh" start

# shoot NAME OUTPUT LOCALE [LANGUAGE_MODULE]: the dialog of a fresh module copy, captured
# whole, with Wine running in LOCALE.
shoot() {
  local dir="$work/$1"
  rm -rf "$dir" && mkdir -p "$dir"
  cp "$bin/ravelpak.wcx64" "$dir/"
  [ $# -ge 4 ] && cp "$4" "$dir/"
  write_settings "$dir/ravelpak.xml" 0 "*.nfo,*.txt,*.jpg"
  LC_ALL="$3" "$top/tools/wine-run.sh" "$bin/wcxhost.exe" configure "$(winpath "$dir/ravelpak.wcx64")" >/dev/null 2>&1 &
  host_pid=$!
  local window
  window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Ravelpak' | head -n 1)
  sleep 1
  import -window "$window" "$2"
  kill "$host_pid" 2>/dev/null
  wait "$host_pid" 2>/dev/null || true
  host_pid=
}

mkdir -p "$top/docs"
shoot english "$top/docs/settings-dialog.png" C.UTF-8
shoot chinese "$top/docs/settings-dialog-chs.png" zh_CN.UTF-8 "$bin/lang/ravelpak_chs.dll"
echo "screenshots: docs/settings-dialog.png docs/settings-dialog-chs.png"
