#!/usr/bin/env bash
# Runs one cross-built test program under Wine, on a virtual X display.
#   run_under_wine.sh PREFIX PROGRAM [ARGUMENTS...]
# PREFIX is a private Wine prefix, made on first use and kept for later
# runs. The Wine server is stopped before the run (one started without a
# display cannot make windows) and after it, so nothing is left running.
set -euo pipefail

prefix=$1
program=$2
shift 2

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs while the prefix is made, and no
# debugger waiting on a crashed test: it ends with its failure instead.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# Wine takes its ANSI code page from the locale: 1252 under C.UTF-8 and
# en_US.UTF-8, which the tests expect.
export LC_ALL=C.UTF-8
unset DISPLAY

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.skerrow-ready" ]; then
    echo "run_under_wine: making the Wine prefix $prefix"
    timeout 600 wineboot -i >/dev/null 2>&1 || { echo "run_under_wine: wineboot failed" >&2; exit 1; }
    # Wine's own Tahoma, which the dialog font maps to (Debian: fonts-wine), if installed.
    cp -n /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
    # The virtual display has no window manager: Wine draws the title bars.
    timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
    timeout 120 wineserver -w || true
    touch "$prefix/.skerrow-ready"
  fi
) 9>"$prefix.lock"

stop_server() { timeout 30 wineserver -k >/dev/null 2>&1 || true; }
stop_server
trap stop_server EXIT

# The server goes before the display does, so that no Wine process is left
# talking to a display that has gone.
status=0
timeout --kill-after=10 "${SKERROW_WINE_TIMEOUT:-300}" \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  bash -c 'wine "$@"; status=$?; wineserver -k >/dev/null 2>&1; exit $status' wine "$program" "$@" || status=$?
if [ $status -eq 124 ]; then
  echo "run_under_wine: $program timed out" >&2
fi
exit $status
