# The build tree's Wine prefix and its Wine server, for the scripts that run a session of Wine
# programs (with-wine.sh) or take the server down in the middle of one (a test that needs the
# server in a mount namespace of its own). Sourced; every function works in the prefix that
# mw_wine_environment chose.
#   mw_wine_environment BUILD_DIR   exports WINEPREFIX and the rest as wine-run.sh sets them
#   mw_wine_stop_server             ends the server and every program it serves
#   mw_wine_start_server            starts a persistent server with Wine's service processes and
#                                   the desktop process, warm, away from the caller's output, and
#                                   keeps the desktop open (MW_BUILD_DIR/bin/desktop_holder.exe)

mw_wine_environment() {
  local build=$1
  if [ "${MW_WINE_DISPLAY:-}" = 1 ]; then
    export WINEPREFIX=$build/wine/prefix-display
  else
    export WINEPREFIX=$build/wine/prefix
  fi
  export WINEARCH=win32 WINEDEBUG=-all HOME=$build/wine/home
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# A Wine program still starting when the server ends starts a server of its own (the desktop
# process, above all where 32-bit code is emulated and starts slowly): that one is ended too,
# until none answers.
mw_wine_stop_server() {
  local _
  for _ in 1 2 3 4 5; do
    wineserver -k >/dev/null 2>&1 || return 0
    timeout 10 wineserver -w >/dev/null 2>&1 || true
    sleep 0.5
  done
}

mw_wine_start_server() {
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
  # The desktop process ends a few seconds after the last program using the desktop, in any
  # pause between tests; the holder uses it for the whole session (when the tree has built it).
  local holder=${MW_BUILD_DIR:-}/bin/desktop_holder.exe
  [ -n "${MW_BUILD_DIR:-}" ] && [ -f "$holder" ] && { wine "$holder" </dev/null >/dev/null 2>&1 & }
  local _ pid
  for _ in $(seq 100); do
    for pid in $(pgrep -f 'system32.explorer\.exe /desktop' || true); do
      grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && return 0
    done
    sleep 0.05
  done
}
