#!/usr/bin/env bash
# Starts the setup program under Wine, in the build tree's own prefix.
#  - With a display (DISPLAY set): the wizard opens on it, for a person to click through.
#  - Without one: a virtual X server with a window manager, in which a walk drives the real
#    wizard through every page in French, German and Spanish (advanced installations, removed
#    again) and then a quick installation in the user's language that stays installed, starts
#    the installed Tilewright from its Start-menu shortcut, and saves a picture of every step
#    under BUILD_DIR/screens. Exits 0 only when every installation succeeded.
# run-setup.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
export MW_WINE_DISPLAY=1
if [ -n "${DISPLAY:-}" ]; then
  exec "$here/with-wine.sh" "$build" "$build/bin/setup.exe"
fi
screens=$build/screens
rm -rf "$screens"
mkdir -p "$screens"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c \
  "openbox >/dev/null 2>&1 & sleep 1; \"$here/with-wine.sh\" \"$build\" \"$build/bin/wizard_walk.exe\" \"Z:${screens//\//\\\\}\"" \
  || status=$?
echo
echo "Pictures of every page: $screens ($(find "$screens" -name '*.png' | wc -l) files)"
if [ "$status" -ne 0 ]; then
  echo "The walk through the wizard failed (exit code $status)." >&2
fi
exit "$status"
