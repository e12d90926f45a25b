#!/usr/bin/env bash
# Runs a wizard test with a drive that fills up while the setup unpacks onto it: a tmpfs just
# large enough for the first program the payload puts in the installation folder and half of
# the second, mapped to drive S: of the build tree's prefix and named to the test in
# MW_SMALL_DRIVE.
#   small_drive_test.sh BUILD_DIR PAYLOAD_MANIFEST PAYLOAD_FILES GTEST_FILTER
# Wine's server does part of the file operations (deleting a file on close, among others), so
# it must see the mount as the programs do: the prefix's server is stopped, the test runs in a
# mount namespace of its own with a server of its own, which is stopped there before the
# namespace ends; a session server that with-wine.sh had started is started again afterwards.
# Exit 77 (skipped) where no tmpfs can be mounted (not root, no mount namespace to be had).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$here/../../scripts" && pwd)
source "$scripts/ia32.sh"
source "$scripts/wine-server.sh"
mw_ia32_enter bash "$0" "$@"

build=$(cd "$1" && pwd)
manifest=$2
payload_files=$3
filter=$4
letter=s

skip() {
  echo "SKIPPED: $*"
  exit 77
}

# Inside the namespace: the drive mounted and mapped, the test, the namespace's server ended.
if [ "${MW_SMALL_DRIVE_INSIDE:-}" = 1 ]; then
  mount -t tmpfs -o "size=${MW_SMALL_DRIVE_KIB}k,mode=0755" mw-small-drive "$MW_SMALL_DRIVE_DIR"
  status=0
  (cd "$build/bin" && MW_SMALL_DRIVE=${letter^^}: "$scripts/wine-run.sh" "$build/bin/wizard_tests.exe" \
    --gtest_filter="$filter") || status=$?
  mw_wine_stop_server
  left=$(cd "$MW_SMALL_DRIVE_DIR" && find . -mindepth 1 | head -20)
  [ -z "$left" ] || echo "left on the small drive after the test:"$'\n'"$left"
  umount "$MW_SMALL_DRIVE_DIR"
  exit "$status"
fi

[ "$(id -u)" = 0 ] || skip "not root here: no tmpfs can be mounted for the small drive"
command -v unshare >/dev/null || skip "no unshare (util-linux): no mount namespace for the small drive"
probe=$(mktemp -d)
if ! why=$(unshare --mount --propagation private -- mount -t tmpfs -o size=64k mw-small-drive-probe "$probe" 2>&1); then
  rmdir "$probe"
  skip "no tmpfs can be mounted in a mount namespace of its own here: ${why:-mount failed}"
fi
rmdir "$probe"

# The size: the first file of the installation folder fits (its pages), the second fills the
# drive halfway through.
mapfile -t installed < <(awk -F'\t' '!/^#/ && $2 ~ /^<InstallPath>/ { print $1 }' "$manifest")
[ "${#installed[@]}" -ge 2 ] || { echo "small_drive_test.sh: the manifest puts fewer than two files in <InstallPath>" >&2; exit 2; }
first=$(stat -c %s "$payload_files/${installed[0]}")
second=$(stat -c %s "$payload_files/${installed[1]}")
kib=$(( (first + 4095) / 4096 * 4 + second / 2048 ))
echo "small drive ${letter^^}: ${kib} KiB: ${installed[0]} ($first bytes) fits, ${installed[1]} ($second bytes) does not"

export MW_BUILD_DIR=$build
"$scripts/wine-run.sh" --prepare
mw_wine_environment "$build"
drive=$WINEPREFIX/dosdevices/$letter:
if [ -e "$drive" ] || [ -L "$drive" ]; then
  echo "small_drive_test.sh: drive ${letter^^}: is mapped already ($(readlink "$drive"))" >&2
  exit 2
fi
mount_point=$(mktemp -d "$build/wine/small-drive.XXXXXX")

finish() {
  rm -f "$drive"
  rmdir "$mount_point" 2>/dev/null || true
  # The session's server, as with-wine.sh started it, for the tests that follow.
  if [ -n "${MW_WINE_SESSION:-}" ]; then
    mw_wine_start_server >/dev/null 2>&1 </dev/null || true
  fi
}
trap finish EXIT

# The programs the prefix's server serves end with it; no other test runs meanwhile (RUN_SERIAL).
mw_wine_stop_server
ln -s "$mount_point" "$drive"
MW_SMALL_DRIVE_INSIDE=1 MW_SMALL_DRIVE_KIB=$kib MW_SMALL_DRIVE_DIR=$mount_point \
  unshare --mount --propagation private -- bash "$0" "$build" "$manifest" "$payload_files" "$filter"
