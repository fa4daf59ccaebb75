#!/usr/bin/env bash
# Creates the build tree's Wine prefix once and keeps a wineserver running for the test
# run ("start"), or stops that wineserver ("stop").
set -eu
action=$1
export WINEPREFIX=$2
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
case "$action" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      DISPLAY= "$wine" wineboot --init >/dev/null 2>&1 || true
      "$wineserver" -w </dev/null >/dev/null 2>&1
    fi
    [ -f "$WINEPREFIX/system.reg" ] || { echo "could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
    # A persistent server spares every test the start-up of its own.
    "$wineserver" -p 600 </dev/null >/dev/null 2>&1 || true
    # Wine's own services (services.exe, winedevice.exe, ...) start with the first program
    # and outlive it; start them here, detached from any test's output, so that ctest
    # does not wait on them after a test has ended.
    DISPLAY= "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
    echo "Wine prefix ready: $WINEPREFIX"
    ;;
  stop)
    "$wineserver" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start|stop PREFIX" >&2
    exit 2
    ;;
esac
