#!/usr/bin/env bash
# Runs the benchmarks of a built tree under Wine.  run-bench.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/ia32.sh"
mw_ia32_enter bash "$0" "$@"
build=$(cd "${1:-build}" && pwd)
status=0
"$here/with-wine.sh" "$build" "$build/bin/bench_extract.exe" 9 || status=$?
"$here/with-wine.sh" "$build" "$build/bin/bench_extract.exe" 9 "Z:$build/resources/payload.bz2" || status=$?
# Quick installations through the real setup.exe's wizard, in the build tree's prefix; the
# installation is removed again after every run.
"$here/with-wine.sh" "$build" "$build/bin/bench_wizard.exe" 7 || status=$?
if [ "$MW_IA32_ACTIVE" = emulated ]; then
  echo "NOTE: these figures were measured under user-mode emulation of 32-bit x86 code;" \
       "they are not figures of the program. Measure on a machine that runs 32-bit code." >&2
fi
exit "$status"
