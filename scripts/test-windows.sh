#!/usr/bin/env bash
# Runs the Windows unit tests (scripts/build-windows.sh builds them) under
# Wine, in a fresh prefix inside build-windows/. The Windows programs' own
# end-to-end comparison with the Linux build is tests/e2e/test_windows.sh,
# which ctest runs with the Linux build's tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
tests="$root/build-windows/tests/kestrow_unit_tests.exe"
[ -f "$tests" ] || { echo "test-windows: $tests is missing: run scripts/build-windows.sh" >&2; exit 1; }
command -v wine >/dev/null || { echo "test-windows: wine is missing: run KESTROW_WINDOWS=ON scripts/setup.sh" >&2; exit 1; }

rm -rf "$WINEPREFIX"
echo "test-windows: making a fresh Wine prefix in $WINEPREFIX"
run_wine wineboot --init >/dev/null 2>&1
wineserver --wait
run_wine "$tests" --gtest_brief=1
