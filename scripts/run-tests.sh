#!/usr/bin/env bash
# Runs every test of a built tree through ctest, under Wine.  run-tests.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
jobs=${MW_TEST_JOBS:-$(nproc)}
exec "$here/with-wine.sh" "$build" ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 300
