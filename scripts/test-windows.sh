#!/usr/bin/env bash
# Runs the Windows tests (scripts/build-windows.sh builds them) under Wine,
# in a fresh prefix inside build-windows/: the unit tests, the application
# layer's tests, and the desktop application's dialogs in process on Wine's
# null display driver (no X server). The Windows programs' own end-to-end
# comparisons with the Linux build are tests/e2e/test_windows.sh and, for
# KestrowDiag.exe under Xvfb, test_windows_desktop.sh, which ctest runs with
# the Linux build's tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
build="$root/build-windows/tests"
tests=("$build/kestrow_unit_tests.exe" "$build/app/kestrow_app_tests.exe" "$build/win32/kestrow_win32_tests.exe")
for exe in "${tests[@]}"; do
  [ -f "$exe" ] || { echo "test-windows: $exe is missing: run scripts/build-windows.sh" >&2; exit 1; }
done
command -v wine >/dev/null || { echo "test-windows: wine is missing: run KESTROW_WINDOWS=ON scripts/setup.sh" >&2; exit 1; }

rm -rf "$WINEPREFIX"
echo "test-windows: making a fresh Wine prefix in $WINEPREFIX"
run_wine wineboot --init >/dev/null 2>&1
# The dialogs need no screen: Wine's null display driver, which is chosen
# when the prefix's desktop starts, hence the wait.
run_wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver --wait
for exe in "${tests[@]}"; do
  echo "test-windows: $(basename "$exe")"
  run_wine "$exe" --gtest_brief=1
done
