#!/usr/bin/env bash
# How the scripts decide where 32-bit programs run: the probe, the emulated way, and the
# failures when neither way is to be had. Exit 77 (skipped) where this machine allows no
# user namespace.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
source "$top/scripts/ia32.sh"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! unshare --user --map-root-user --mount --fork true 2>/dev/null; then
  echo "SKIPPED: this machine allows no user and mount namespace"
  exit 77
fi

# The probe answers at once, with a reason, and the same whatever binfmt_misc has registered
# for i386 programs (here: a handler that makes every 32-bit program fail).
start=$SECONDS
answer=$(mw_ia32_probe); native=$?
[ $((SECONDS - start)) -le 20 ] || fail "the probe took $((SECONDS - start)) s"
[ "$native" = 0 ] || [ "$native" = 1 ] || fail "the probe ended with $native"
[ -n "$answer" ] || fail "the probe gave no reason"
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
registered=$(MAGIC=$magic MASK=$mask unshare --user --map-root-user --mount --fork bash -c '
  source "'"$top"'/scripts/ia32.sh"
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || exit 9
  printf ":broken-i386:M::%s:%s:/bin/false:F\n" "$MAGIC" "$MASK" >/proc/sys/fs/binfmt_misc/register || exit 9
  mw_ia32_probe >/dev/null; echo $?')
if [ "$registered" = 9 ] || [ -z "$registered" ]; then
  echo "note: no binfmt_misc of its own in a user namespace here; the probe's independence is not shown"
elif [ "$registered" != "$native" ]; then
  fail "the probe says $native, but $registered with a broken i386 handler registered"
fi

# No emulator to be had: a clear failure, not a hang.
start=$SECONDS
message=$(MW_IA32=emulated MW_QEMU_I386=$work/missing MW_IA32_ACTIVE= timeout 60 bash -c \
  'source "$0/scripts/ia32.sh"; mw_ia32_enter true' "$top" 2>&1); status=$?
[ "$status" = 3 ] || fail "without an emulator the way ended with $status (expected 3): $message"
[[ "$message" == *"no qemu-i386 at $work/missing"* ]] || fail "the message does not name the missing emulator: $message"
[[ "$message" == *"cannot run here"* ]] || fail "the message does not say 32-bit programs cannot run: $message"

# An emulator too old for Wine is refused by name and version.
printf '#!/bin/sh\necho "qemu-i386 version 7.2.0 (Debian 1:7.2+dfsg-7)"\n' >"$work/old-qemu"
chmod +x "$work/old-qemu"
message=$(MW_IA32=emulated MW_QEMU_I386=$work/old-qemu MW_IA32_ACTIVE= timeout 60 bash -c \
  'source "$0/scripts/ia32.sh"; mw_ia32_enter true' "$top" 2>&1); status=$?
[ "$status" = 3 ] || fail "an emulator of version 7 was accepted (status $status)"
[[ "$message" == *"old-qemu is version 7; Wine needs qemu-user 8 or later"* ]] || fail "the refusal does not give the version: $message"

# The emulated way, forced: the command runs in a namespace whose binfmt_misc hands i386
# programs to the emulator, and a 32-bit program runs there.
if qemu=$(mw_ia32_emulator 2>/dev/null); then
  probe=$(mw_ia32_probe_program)
  "$probe" --elf "$work/elf32" && chmod +x "$work/elf32"
  out=$(MW_IA32=emulated MW_IA32_ACTIVE= timeout 120 bash -c '
    source "$0/scripts/ia32.sh"
    mw_ia32_enter bash -c "echo way=\$MW_IA32_ACTIVE; cat /proc/sys/fs/binfmt_misc/mw-i386; \"\$0\"; echo exit=\$?" "$1"' \
    "$top" "$work/elf32" 2>&1)
  [[ "$out" == *"way=emulated"* ]] || fail "the forced way did not run emulated: $out"
  [[ "$out" == *"interpreter $qemu"* ]] || fail "i386 programs are not handed to $qemu: $out"
  [[ "$out" == *"exit=42"* ]] || fail "a 32-bit program did not run under the emulator: $out"
else
  echo "note: no qemu-i386 of version 8 or later here; the emulated way is not run"
fi

[ "$failures" = 0 ]
