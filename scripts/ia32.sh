# Running the project's 32-bit programs (Wine's 32-bit loader and everything it starts).
# Sourced by the scripts that run Windows programs. Where this machine executes 32-bit x86
# code, they run natively. Where it cannot (or MW_IA32=emulated forces it), the calling
# script is started again in a private user and mount namespace whose own binfmt_misc hands
# i386 programs to qemu-i386 (8.0 or later); the rest of the machine is left as it was.
#   mw_ia32_probe              exit 0 when 32-bit code runs natively; prints why
#   mw_ia32_emulator           prints the usable qemu-i386, or fails saying what is missing
#   mw_ia32_enter COMMAND...   returns where 32-bit programs run natively; elsewhere runs
#                              COMMAND (the calling script again) emulated, and exits

mw_ia32_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The probe, compiled for the build machine once per content, in the temporary folder.
mw_ia32_probe_program() {
  local source=$mw_ia32_scripts/ia32-probe.c
  local program
  program=${TMPDIR:-/tmp}/mw-ia32-probe-$(md5sum <"$source" | cut -c1-12)
  if [ ! -x "$program" ]; then
    command -v cc >/dev/null || { echo "ia32: no C compiler (cc) for the probe" >&2; return 2; }
    cc -O2 -o "$program.$$" "$source" && mv -f "$program.$$" "$program" || return 2
  fi
  echo "$program"
}

mw_ia32_probe() {
  local program
  program=$(mw_ia32_probe_program) || return 2
  # The probe's child ends itself after 5 s; the limit here is for the probe as a whole.
  timeout 20 "$program" || return 1
}

# qemu-i386 of version 8 or later (earlier ones cannot serve Wine: they ignore
# MAP_FIXED_NOREPLACE): MW_QEMU_I386 if set, else the one on the PATH.
mw_ia32_emulator() {
  local qemu version
  qemu=${MW_QEMU_I386:-$(command -v qemu-i386 || command -v qemu-i386-static || true)}
  if [ -z "$qemu" ] || [ ! -x "$qemu" ]; then
    echo "ia32: no qemu-i386${qemu:+ at $qemu}: install Debian's qemu-user 8 or later (scripts/install-packages.sh does, as root)" >&2
    return 1
  fi
  version=$(timeout 20 "$qemu" --version 2>/dev/null | sed -n '1s/.* version \([0-9][0-9]*\)\..*/\1/p')
  if [ -z "$version" ] || [ "$version" -lt 8 ]; then
    echo "ia32: $qemu is version ${version:-unknown}; Wine needs qemu-user 8 or later (bookworm-backports has it)" >&2
    return 1
  fi
  echo "$qemu"
}

mw_ia32_enter() {
  [ -n "${MW_IA32_ACTIVE:-}" ] && return 0
  local why
  if [ "${MW_IA32:-}" = emulated ]; then
    why="forced by MW_IA32=emulated"
  elif why=$(mw_ia32_probe); then
    export MW_IA32_ACTIVE=native
    echo "32-bit programs: native ($why)" >&2
    return 0
  else
    [ -n "$why" ] || why="the probe could not run"
  fi
  local qemu
  qemu=$(mw_ia32_emulator) || {
    echo "32-bit programs cannot run here: $why, and there is no usable emulator for them." >&2
    exit 3
  }
  command -v unshare >/dev/null || { echo "32-bit programs cannot run here: no unshare (util-linux)" >&2; exit 3; }
  echo "32-bit programs: emulated by $("$qemu" --version | head -1) in a private namespace ($why)" >&2
  export MW_IA32_ACTIVE=emulated MW_IA32_QEMU=$qemu
  exec unshare --user --map-root-user --mount --fork -- bash "$mw_ia32_scripts/ia32-namespace.sh" "$@"
}
