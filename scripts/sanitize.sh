#!/usr/bin/env bash
# Builds the tests with sanitizers in a build folder of their own and runs them.
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer:
#                                 every unit and end-to-end test (build-asan/)
#   scripts/sanitize.sh thread    ThreadSanitizer: the tests that run recovery
#                                 jobs on their worker thread, and the file list
#                                 session's tests, which poll them (build-tsan/)
# The desktop application is left out: its tests run in the normal build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?usage: sanitize.sh address|thread}
case "$kind" in
  address) dir="$root/build-asan" sanitize="address,undefined" filter="" ;;
  thread) dir="$root/build-tsan" sanitize="thread" filter="*Recovery*:*ReadOnce*" ;;
  *) echo "sanitize.sh: unknown kind '$kind' (address or thread)" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja -DKESTROW_GUI=OFF -DKESTROW_SANITIZE="$sanitize" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ "$kind" = thread ]; then
  cmake --build "$dir" --target kestrow_unit_tests kestrow_app_tests
else
  cmake --build "$dir"
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
if [ -n "$filter" ]; then
  # One process for all of them: they share the discs they build.
  "$dir/tests/kestrow_unit_tests" --gtest_filter="$filter" --gtest_brief=1
  "$dir/tests/app/kestrow_app_tests" --gtest_filter='FileListSession.*:MainCommands.BrowseAndRecover*' --gtest_brief=1
else
  # test_windows and test_windows_desktop run the Windows build under Wine,
  # which this build is not.
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" -E '^e2e\.test_windows(_desktop)?$'
fi
