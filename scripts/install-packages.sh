#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Run as root on Debian 12. Safe to run again: it does nothing when all is present.
set -euo pipefail

packages=(
  make cmake bison dpkg-dev xz-utils
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  libz-mingw-w64-dev googletest
  wine wine32:i386 fonts-wine
  xvfb xauth openbox
)

need_arch=0
dpkg --print-foreign-architectures | grep -qx i386 || need_arch=1

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_src=0
grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ /etc/apt/sources.list 2>/dev/null || need_src=1

if [ "$need_arch" = 0 ] && [ "$need_src" = 0 ] && [ "${#missing[@]}" = 0 ]; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "Missing packages (${missing[*]}); run this as root." >&2
  exit 1
fi

[ "$need_arch" = 1 ] && dpkg --add-architecture i386
if [ "$need_src" = 1 ]; then
  # The dependency build fetches Debian's source packages.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  fi
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/mw-deb-src.list
  fi
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${packages[@]}"
