#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's private prefix. The prefix and the
# persistent wineserver are prepared by tools/wine-session.sh; without that server each
# program still runs, only slower.
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$top/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
