#!/usr/bin/env bash
# Configures and builds everything into build/ (Release with debug info).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
gui=${KESTROW_GUI:-ON}
cmake -S "$root" -B "$root/build" -G Ninja -DKESTROW_GUI="$gui" >/dev/null
cmake --build "$root/build"
