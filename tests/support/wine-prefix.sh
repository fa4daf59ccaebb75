#!/usr/bin/env bash
# Creates the build tree's Wine prefix once and keeps a wineserver running for the test
# run ("start"), or stops that wineserver ("stop").
# "gui" makes a prefix for the window tests on the X display in $DISPLAY: its Wine
# desktop must draw on that display, so it gets a prefix and a wineserver of its own,
# and no persistent server; "gui-stop" ends that server once the test's programs are
# gone, letting it save its registry (a killed server can leave a prefix whose next
# desktop fails to start).
set -eu
action=$1
export WINEPREFIX=$2
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winevdm.exe="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

make_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1 || true
    "$wineserver" -w </dev/null >/dev/null 2>&1
  fi
  [ -f "$WINEPREFIX/system.reg" ] || { echo "could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
  # Make the prefix look like a player's Windows: a program without a common-controls 6
  # manifest gets the classic controls there (Wine would theme them), and "Times New
  # Roman" is drawn with its metric twin.
  if ! grep -q '^"ThemeActive"="0"' "$WINEPREFIX/user.reg"; then
    "$wine" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
      /v ThemeActive /t REG_SZ /d 0 /f </dev/null >/dev/null 2>&1 || true
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
      /v 'Times New Roman' /t REG_SZ /d 'Liberation Serif' /f </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w </dev/null >/dev/null 2>&1
  fi
}

case "$action" in
  start)
    (export DISPLAY=; make_prefix) || exit 1
    # A persistent server spares every test the start-up of its own.
    "$wineserver" -p 600 </dev/null >/dev/null 2>&1 || true
    # Wine's own services (services.exe, winedevice.exe, ...) start with the first program
    # and outlive it; start them here, detached from any test's output, so that ctest
    # does not wait on them after a test has ended.
    DISPLAY= "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
    echo "Wine prefix ready: $WINEPREFIX"
    ;;
  gui)
    [ -n "${DISPLAY:-}" ] || { echo "gui: no DISPLAY" >&2; exit 2; }
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w </dev/null >/dev/null 2>&1 || true
    make_prefix || exit 1
    echo "Wine prefix ready for $DISPLAY: $WINEPREFIX"
    ;;
  gui-stop)
    timeout 30 "$wineserver" -w </dev/null >/dev/null 2>&1 || "$wineserver" -k 2>/dev/null || true
    ;;
  stop)
    "$wineserver" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start|gui|gui-stop|stop PREFIX" >&2
    exit 2
    ;;
esac
