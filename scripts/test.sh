#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   1. the Windows build (mingw-w64): kestrow.exe, KestrowDiag.exe, mkdisc.exe
#      and the tests; the unit tests, the application layer's tests and the
#      desktop application's dialogs run under Wine;
#   2. the normal build: unit, application layer, end-to-end and desktop
#      application tests, and kestrow.exe and KestrowDiag.exe under Wine against
#      the Linux build (tests/e2e/test_windows.sh, test_windows_desktop.sh);
#   3. every unit and end-to-end test again under AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   4. the recovery job's tests under ThreadSanitizer;
#   5. every fuzzer for FUZZ_SECONDS (default 40) from its saved corpus, then
#      the saved corpora and crash inputs as regression tests.
#   scripts/test.sh --quick   only step 2 (test_windows is skipped when there
#                             is no Windows build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1

stage() { printf '\n=== %s ===\n' "$*"; }

if [ "$quick" = 1 ]; then
  "$root/scripts/setup.sh"
else
  KESTROW_FUZZ=ON KESTROW_WINDOWS=ON "$root/scripts/setup.sh"
fi

if [ "$quick" = 0 ]; then
  stage "Windows: cross-build, unit tests under Wine"
  "$root/scripts/build-windows.sh"
  "$root/scripts/test-windows.sh"
  export KESTROW_WINDOWS_REQUIRED=1
fi

stage "build and test"
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"
[ "$quick" = 1 ] && exit 0

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
"$root/scripts/sanitize.sh" address
stage "ThreadSanitizer"
"$root/scripts/sanitize.sh" thread
stage "fuzzing"
"$root/scripts/fuzz.sh"
stage "all tests passed"
