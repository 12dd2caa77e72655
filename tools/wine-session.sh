#!/usr/bin/env bash
# start | stop: a persistent wineserver for the project's prefix. Both the server and the
# boot are detached from every pipe: Wine's service processes would otherwise inherit the
# caller's output pipe and keep ctest waiting for ever.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$top/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
case "${1:-}" in
  start)
    mkdir -p "$WINEPREFIX"
    # In the foreground: the server puts itself in the background once it listens. Started with
    # "&", it raced the boot below, which then could start a server of its own that quits as soon
    # as no program runs, so that a test's program could start while it was going away.
    setsid wineserver -p >/dev/null 2>&1 </dev/null
    setsid wine wineboot >/dev/null 2>&1 </dev/null
    # No window manager runs on the test display: a window handed to one would wait for it
    # (two seconds) each time it is hidden. Wine then draws the window frames itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
    # A crashing program ends at once with its backtrace on standard error, instead of waiting
    # on the test display for somebody to close Wine's crash dialog until the test times out.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 </dev/null || true
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
