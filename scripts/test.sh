#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   1. the Windows build (mingw-w64): kestrow.exe, KestrowDiag.exe, mkdisc.exe
#      and the tests; the unit tests, the application layer's tests and the
#      desktop application's dialogs run under Wine;
#   2. every test (unit, application layer, end-to-end, the desktop
#      application's, the fuzz inputs' replays, and kestrow.exe and
#      KestrowDiag.exe under Wine against the Linux kestrow) in one build with
#      AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer;
#   3. the recovery job's tests under ThreadSanitizer.
#   scripts/test.sh --quick   every test in the plain build (build/), without
#                             the Windows build (test_windows is skipped) and
#                             the sanitizers
# Fuzzing for new inputs is scripts/fuzz.sh (clang), apart from this suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = "--quick" ] && quick=1

stage() { printf '\n=== %s ===\n' "$*"; }

if [ "$quick" = 1 ]; then
  "$root/scripts/setup.sh"
  stage "build and test"
  "$root/scripts/build.sh"
  export QT_QPA_PLATFORM=offscreen
  ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"
  exit 0
fi

KESTROW_WINDOWS=ON "$root/scripts/setup.sh"
stage "Windows: cross-build, unit tests under Wine"
"$root/scripts/build-windows.sh"
"$root/scripts/test-windows.sh"
export KESTROW_WINDOWS_REQUIRED=1
stage "build and test: AddressSanitizer + UndefinedBehaviorSanitizer"
"$root/scripts/sanitize.sh" address
stage "ThreadSanitizer"
"$root/scripts/sanitize.sh" thread
stage "all tests passed"
