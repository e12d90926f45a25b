#!/usr/bin/env bash
# Runs a command with the build tree's Wine prefix ready and a warm persistent Wine server,
# and stops that server afterwards.  with-wine.sh BUILD_DIR COMMAND [ARGS...]
# A program given as *.exe is started through Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/ia32.sh"
source "$here/wine-server.sh"
mw_ia32_enter bash "$0" "$@"
build=$(cd "$1" && pwd); shift
export MW_BUILD_DIR=$build
"$here/wine-run.sh" --prepare
mw_wine_environment "$build"
trap mw_wine_stop_server EXIT
# A server that an earlier command left (a program that did not end) may still be running; a
# second "wineserver -p" would then fail. Let it end first, but not for ever: a server kept
# alive by a program that hangs is killed with everything it runs.
if ! timeout "${MW_WINESERVER_WAIT:-60}" wineserver -w; then
  echo "with-wine.sh: the Wine server did not end within ${MW_WINESERVER_WAIT:-60} s; killing it" >&2
  wineserver -k >/dev/null 2>&1 || true
  timeout 10 wineserver -w || true
fi
mw_wine_start_server
# A test that must stop the server (to run it in a mount namespace of its own) starts the
# session's server again when it is done.
export MW_WINE_SESSION=1
case "$1" in
  *.exe) "$here/wine-run.sh" "$@" ;;
  *) "$@" ;;
esac
