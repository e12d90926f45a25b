#!/usr/bin/env bash
# Starts the setup program under Wine, in a prefix of its own that shows windows: on the
# desktop when there is a display, otherwise in a virtual X server (Xvfb) with a window manager.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
export MW_WINE_DISPLAY=1
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c \
    "openbox >/dev/null 2>&1 & \"$here/with-wine.sh\" \"$build\" \"$build/bin/setup.exe\""
fi
exec "$here/with-wine.sh" "$build" "$build/bin/setup.exe"
