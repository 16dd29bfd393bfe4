#!/usr/bin/env bash
# The benchmarks: installs what is missing, builds them (Release, build-bench/)
# and runs every one, printing each figure beside what it is compared with.
# Not part of the tests: timings depend on the machine. See bench/run.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
KESTROW_GUI=OFF "$root/scripts/setup.sh"
exec "$root/bench/run.sh" "$@"
