#!/usr/bin/env bash
# Runs a command with the build tree's Wine prefix ready and a warm persistent Wine server,
# and stops that server afterwards.  with-wine.sh BUILD_DIR COMMAND [ARGS...]
# A program given as *.exe is started through Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd); shift
export MW_BUILD_DIR=$build
"$here/wine-run.sh" --prepare
export WINEPREFIX=$build/wine/prefix WINEARCH=win32 WINEDEBUG=-all HOME=$build/wine/home
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# A server that a build step started (the payload packer runs under Wine) may still be
# running; a second "wineserver -p" would then fail. Let it end first.
wineserver -w
wineserver -p
# Warm-up: Wine's service processes start now, not inside the first test (they would keep
# that test's output pipe open). rundll32 without arguments also starts the desktop process
# and the COM service, which the first test showing a window or using COM would start.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
wine rundll32.exe </dev/null >/dev/null 2>&1 || true
case "$1" in
  *.exe) "$here/wine-run.sh" "$@" ;;
  *) "$@" ;;
esac
