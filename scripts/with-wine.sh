#!/usr/bin/env bash
# Runs a command with the build tree's Wine prefix ready and a warm persistent Wine server,
# and stops that server afterwards.  with-wine.sh BUILD_DIR COMMAND [ARGS...]
# A program given as *.exe is started through Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/ia32.sh"
mw_ia32_enter bash "$0" "$@"
build=$(cd "$1" && pwd); shift
export MW_BUILD_DIR=$build
"$here/wine-run.sh" --prepare
if [ "${MW_WINE_DISPLAY:-}" = 1 ]; then
  export WINEPREFIX=$build/wine/prefix-display
else
  export WINEPREFIX=$build/wine/prefix
fi
export WINEARCH=win32 WINEDEBUG=-all HOME=$build/wine/home
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Ends the server and every program it serves. A Wine program still starting when the server
# ends starts a server of its own (the desktop process, above all where 32-bit code is
# emulated and starts slowly): end that one too, until none answers.
stop_server() {
  local _
  for _ in 1 2 3 4 5; do
    wineserver -k >/dev/null 2>&1 || return 0
    timeout 10 wineserver -w >/dev/null 2>&1 || true
    sleep 0.5
  done
}
trap stop_server EXIT
# A server that an earlier command left (a program that did not end) may still be running; a
# second "wineserver -p" would then fail. Let it end first, but not for ever: a server kept
# alive by a program that hangs is killed with everything it runs.
if ! timeout "${MW_WINESERVER_WAIT:-60}" wineserver -w; then
  echo "with-wine.sh: the Wine server did not end within ${MW_WINESERVER_WAIT:-60} s; killing it" >&2
  wineserver -k >/dev/null 2>&1 || true
  timeout 10 wineserver -w || true
fi
wineserver -p
# Warm-up: Wine's service processes start now, not inside the first test (they would keep
# that test's output pipe open). rundll32 without arguments also starts the desktop process
# and the COM service, which the first test showing a window or using COM would start.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
wine rundll32.exe </dev/null >/dev/null 2>&1 || true
# The desktop process (explorer.exe /desktop) is started by the first program that makes a
# window, COM's apartment window included, and it keeps that program's output pipe open until
# the desktop closes, 3 s after the last window program has ended; ctest then waits for it.
# Start it now, away from the output, for the whole session, and wait until it runs.
wine explorer.exe /desktop </dev/null >/dev/null 2>&1 &
for _ in $(seq 100); do
  for pid in $(pgrep -f 'system32.explorer\.exe /desktop' || true); do
    grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && break 2
  done
  sleep 0.05
done
case "$1" in
  *.exe) "$here/wine-run.sh" "$@" ;;
  *) "$@" ;;
esac
