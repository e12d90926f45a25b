#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Run as root on Debian 12. Safe to run again: it does nothing when all is present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/ia32.sh"

# Where this machine cannot run 32-bit x86 code (or MW_IA32=emulated asks for it), Wine's
# 32-bit programs run under qemu-user, 8.0 or later: Debian 12 has 7.2, its backports have
# a newer one. The backports entry is made from the machine's own Debian entry. Only the
# emulator is installed (no system-wide binfmt registration: see scripts/ia32.sh).
install_emulator_if_needed() {
  if [ "${MW_IA32:-}" != emulated ] && mw_ia32_probe >/dev/null; then
    return 0
  fi
  mw_ia32_emulator >/dev/null 2>&1 && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "This machine needs qemu-user 8 or later to run 32-bit programs; run this as root." >&2
    exit 1
  fi
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "install-packages: no Debian codename in /etc/os-release" >&2; exit 1; }
  if ! grep -rqs -- "$codename-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      # deb822: the first stanza of binary packages whose suites name the release itself.
      awk -v suite="$codename" -v RS= '
        function has(field, word,   i, n, w) {
          if (!match($0, "(^|\n)" field ":[^\n]*")) return 0
          n = split(substr($0, RSTART, RLENGTH), w, /[ \t\n:]+/)
          for (i = 1; i <= n; i++) if (w[i] == word) return 1
          return 0
        }
        has("Types", "deb") && has("Suites", suite) {
          m = split($0, lines, "\n")
          for (j = 1; j <= m; j++) {
            if (lines[j] ~ /^#/) continue
            if (lines[j] ~ /^Types:/) lines[j] = "Types: deb"
            if (lines[j] ~ /^Suites:/) lines[j] = "Suites: " suite "-backports"
            print lines[j]
          }
          exit
        }' /etc/apt/sources.list.d/debian.sources >/etc/apt/sources.list.d/mw-backports.sources
    fi
    if [ ! -s /etc/apt/sources.list.d/mw-backports.sources ] && [ -f /etc/apt/sources.list ]; then
      rm -f /etc/apt/sources.list.d/mw-backports.sources
      awk -v suite="$codename" '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i == suite) {
          $i = suite "-backports"; print; exit } }' /etc/apt/sources.list >/etc/apt/sources.list.d/mw-backports.list
    fi
    if [ ! -s /etc/apt/sources.list.d/mw-backports.sources ] && [ ! -s /etc/apt/sources.list.d/mw-backports.list ]; then
      rm -f /etc/apt/sources.list.d/mw-backports.*
      echo "install-packages: found no Debian entry for $codename to make a backports entry from" >&2
      exit 1
    fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends -t "$codename-backports" qemu-user
  mw_ia32_emulator >/dev/null
}

packages=(
  make cmake bison dpkg-dev xz-utils
  gcc g++ libbz2-dev zlib1g-dev python3
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  libz-mingw-w64-dev googletest
  wine wine32:i386 fonts-wine
  nsis
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
  install_emulator_if_needed
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
install_emulator_if_needed
