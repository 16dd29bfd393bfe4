#!/usr/bin/env bash
# Pictures of the desktop application for the README: builds what is missing,
# makes the demo disc image (build/demo/demo.bin) if there is none, starts
# KestrowDiag on it under Xvfb and saves the main dialog, the file list, the
# sector range dialog (its rescue option ticked), the about box, a rescue's
# progress window and the damage window into docs/screenshots/.
#   scripts/screenshots.sh [OUTPUT-FOLDER]
# KESTROW_BUILD_DIR names another build folder for the program (default build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/docs/screenshots"}
build=${KESTROW_BUILD_DIR:-"$root/build"}
demo="$root/build/demo/demo.bin"

if [ ! -f "$demo" ]; then
  echo "screenshots: making the demo disc image"
  "$root/scripts/demo.sh" >/dev/null
fi
# Only the program itself is needed here.
cmake -S "$root" -B "$build" -G Ninja -DKESTROW_GUI=ON >/dev/null
cmake --build "$build" --target KestrowDiag

mkdir -p "$out"
# A fixed screen, resolution and style, so that the pictures come out the same
# on every machine. The hidden --screenshot-tour option opens each dialog
# through its command, saves a picture of it and ends the program.
QT_QPA_PLATFORMTHEME="" xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -dpi 96" \
  "$build/src/gui/KestrowDiag" -style Fusion --screenshot-tour "$out" "$demo"
ls -l "$out"/main-dialog.png "$out"/file-list.png "$out"/sector-range.png "$out"/about-box.png \
  "$out"/rescue-progress.png "$out"/damage-report.png
