#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own 32-bit prefix, creating the
# prefix on first use. Used by CMake as the cross-compiling emulator (the tests).
#   wine-run.sh PROGRAM.exe [ARGS...]     run a program
#   wine-run.sh --prepare                 only create the prefix
# The build tree is MW_BUILD_DIR, or the nearest folder above the program (or the current
# folder) that holds CMakeCache.txt. Tests run headless (Wine's null graphics driver); with
# MW_WINE_DISPLAY=1 a prefix of its own uses the X display instead (for `make run`).
set -euo pipefail
source "$(dirname "$0")/ia32.sh"
source "$(dirname "$0")/wine-server.sh"
mw_ia32_enter bash "$0" "$@"

find_build_dir() {
  local d=$1
  while [ "$d" != / ] && [ -n "$d" ]; do
    [ -f "$d/CMakeCache.txt" ] && { echo "$d"; return; }
    d=$(dirname "$d")
  done
  return 1
}

if [ -z "${MW_BUILD_DIR:-}" ]; then
  start=$PWD
  [ "${1:-}" != --prepare ] && [ -e "${1:-}" ] && start=$(cd "$(dirname "$1")" && pwd)
  MW_BUILD_DIR=$(find_build_dir "$start") || MW_BUILD_DIR=$(find_build_dir "$PWD") || {
    echo "wine-run.sh: no build tree found (set MW_BUILD_DIR)" >&2; exit 2; }
fi

# Wine links the user's Desktop and Documents to $HOME: it is kept inside the build tree.
mw_wine_environment "$MW_BUILD_DIR"
mkdir -p "$HOME"

if [ ! -f "$WINEPREFIX/.mw-ready" ]; then
  exec 9>"$MW_BUILD_DIR/wine/.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.mw-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    if [ "${MW_WINE_DISPLAY:-}" != 1 ]; then
      # Headless: Wine's null graphics driver runs dialogs without an X server.
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    fi
    timeout 120 wineserver -w || { wineserver -k >/dev/null 2>&1 || true; }
    touch "$WINEPREFIX/.mw-ready"
  fi
  exec 9>&-
fi

# Drive T: is a folder on another file system (a tmpfs), for tests of moves across volumes.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  second=/dev/shm/mw-wine-$(printf '%s' "$MW_BUILD_DIR" | md5sum | cut -c1-12)
  mkdir -p "$second"
  [ "$(readlink "$WINEPREFIX/dosdevices/t:" 2>/dev/null)" = "$second" ] || ln -sfn "$second" "$WINEPREFIX/dosdevices/t:"
fi

[ "${1:-}" = --prepare ] && exit 0
exec wine "$@"
