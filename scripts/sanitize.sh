#!/usr/bin/env bash
# Builds the tests with sanitizers in a build folder of their own and runs them.
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer
#                                 (and LeakSanitizer): every test, the desktop
#                                 application's and the fuzz inputs' replays
#                                 among them (build-asan/)
#   scripts/sanitize.sh thread    ThreadSanitizer: the tests that run recovery
#                                 jobs on their worker thread, and the file list
#                                 session's tests, which poll them (build-tsan/)
# Both build at -O1 with line tables only: what a sanitizer report needs, at
# half the compile time of a full debug build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?usage: sanitize.sh address|thread}
case "$kind" in
  address) dir="$root/build-asan" sanitize="address,undefined" gui=${KESTROW_GUI:-ON} ;;
  thread) dir="$root/build-tsan" sanitize="thread" gui=OFF ;;
  *) echo "sanitize.sh: unknown kind '$kind' (address or thread)" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja -DKESTROW_GUI="$gui" -DKESTROW_SANITIZE="$sanitize" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
if [ "$kind" = thread ]; then
  cmake --build "$dir" --target kestrow_thread_tests kestrow_app_tests
else
  cmake --build "$dir"
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
# What Qt and fontconfig keep for the life of the process is not ours.
export LSAN_OPTIONS=suppressions="$root/tests/lsan.supp":print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
if [ "$kind" = thread ]; then
  # One process for all of them: they share the discs they build.
  "$dir/tests/kestrow_thread_tests" --gtest_brief=1
  "$dir/tests/app/kestrow_app_tests" --gtest_filter='FileListSession.*:MainCommands.BrowseAndRecover*' --gtest_brief=1
else
  # test_windows and test_windows_desktop run the Windows build (when there
  # is one) under Wine against this build's kestrow.
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
fi
