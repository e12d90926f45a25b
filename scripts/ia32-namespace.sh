#!/usr/bin/env bash
# Inside a new user and mount namespace: gives it a binfmt_misc of its own that runs i386
# programs with qemu-i386 ($MW_IA32_QEMU), checks that a 32-bit program runs, then runs
# the command.  ia32-namespace.sh COMMAND [ARGS...]   (started by mw_ia32_enter)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "32-bit programs cannot run emulated: $*" >&2; exit 3; }

binfmt=/proc/sys/fs/binfmt_misc
mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
  fail "this kernel gives a user namespace no binfmt_misc of its own (Linux 6.7 or later does)"
# i386 ELF executables and shared objects; flag F opens the emulator now, so that it is
# found whatever the programs' own view of the file system.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf ':mw-i386:M::%s:%s:%s:F\n' "$magic" "$mask" "$MW_IA32_QEMU" >"$binfmt/register" 2>/dev/null ||
  fail "registering $MW_IA32_QEMU for i386 programs failed"

source "$here/ia32.sh"
probe=$(mw_ia32_probe_program) || fail "the probe could not be built"
check=$(mktemp)
trap 'rm -f "$check"' EXIT
"$probe" --elf "$check" && chmod +x "$check"
status=0
timeout 60 "$check" || status=$?
[ "$status" = 42 ] || fail "a minimal 32-bit program under $MW_IA32_QEMU ended with $status instead of 42"
rm -f "$check"
trap - EXIT
exec "$@"
