#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz/,
# runs each for FUZZ_SECONDS (default 40) starting from its committed seed
# corpus, then runs every committed seed and saved crash input once as the
# regression tests (ctest -R fuzz.regress). Exits non-zero on any crash.
#
#   scripts/fuzz.sh                     every fuzzer, FUZZ_SECONDS each
#   FUZZ_SECONDS=600 scripts/fuzz.sh LzsFuzzer CueSheetFuzzer
#
# The committed corpus is only read: new inputs go to a scratch copy, which
# is removed at the end. Crash inputs are kept in build-fuzz/fuzz-artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-fuzz"
seconds=${FUZZ_SECONDS:-40}
fuzzers=("$@")
if [ ${#fuzzers[@]} -eq 0 ]; then
  fuzzers=(DiscFuzzer CatalogFuzzer PackTableFuzzer LzsFuzzer CueSheetFuzzer MapfileFuzzer ImageKindFuzzer)
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DKESTROW_GUI=OFF -DKESTROW_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target kestrow_fuzzers

# The longest input each fuzzer may build: whole discs need room for their
# raw sectors, image files for a cue sheet past its size limit.
max_len() {
  case "$1" in
    DiscFuzzer) echo 4194304 ;;
    ImageKindFuzzer) echo 70000 ;;
    *) echo 16384 ;;
  esac
}

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$dir/fuzz-artifacts"
# run_fuzzer NAME: one fuzzer for the set time; its output goes to a log
# that is shown when it ends.
run_fuzzer() {
  local fuzzer=$1 seeds="$root/tests/fuzz/corpus/$1" dict="$root/tests/fuzz/dict/$1.dict"
  mkdir -p "$work/$fuzzer" "$artifacts/$fuzzer"
  local options=(-max_total_time="$seconds" -max_len="$(max_len "$fuzzer")" -timeout=20 -rss_limit_mb=2560
                 -print_final_stats=1 -artifact_prefix="$artifacts/$fuzzer/")
  [ -f "$dict" ] && options+=(-dict="$dict")
  if "$dir/tests/fuzz/$fuzzer" "${options[@]}" "$work/$fuzzer" "$seeds" > "$work/$fuzzer.log" 2>&1; then
    echo "fuzz.sh: $fuzzer: $(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$work/$fuzzer.log" | tail -n 1)"
  else
    tail -n 60 "$work/$fuzzer.log" >&2
    echo "fuzz.sh: $fuzzer found a crash; the input is in $artifacts/$fuzzer/" >&2
    return 1
  fi
}

# As many fuzzers at a time as there are cores.
status=0
jobs=$(nproc)
pids=()
for fuzzer in "${fuzzers[@]}"; do
  echo "fuzz.sh: $fuzzer for ${seconds}s"
  run_fuzzer "$fuzzer" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

ctest --test-dir "$dir" --output-on-failure -R 'fuzz\.regress' || status=1
exit $status
