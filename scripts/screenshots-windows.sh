#!/usr/bin/env bash
# Pictures of the Windows desktop application for the README: builds what is
# missing (scripts/build-windows.sh, the demo disc image), then shows the
# dialogs of KestrowDiag.exe under Wine on Xvfb and saves the main dialog,
# the file list, the sector range dialog (its rescue option ticked), the
# about box, a rescue's progress window and the damage window into
# docs/screenshots/windows-*.png.
#   scripts/screenshots-windows.sh [OUTPUT-FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-"$root/docs/screenshots"}")
demo="$root/build/demo/demo.bin"
tour="$root/build-windows/tests/win32/kestrow_win32_screenshots.exe"

[ -f "$demo" ] || "$root/scripts/demo.sh" >/dev/null
[ -f "$tour" ] || "$root/scripts/build-windows.sh" >/dev/null
cmake --build "$root/build-windows" --target kestrow_win32_screenshots >/dev/null

export KESTROW_WINEPREFIX="$root/build-windows/wine-prefix-screenshots"
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh"
if [ ! -d "$WINEPREFIX" ]; then
  run_wine wineboot --init >/dev/null 2>&1
  # No window manager: Wine draws the frames itself and does not wait for one.
  run_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Wine's own fonts (fonts-wine) in the prefix: Marlett draws the caption buttons.
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  wineserver --wait
fi
mkdir -p "$out"
# A fixed screen and resolution, so that the pictures come out the same on every machine.
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -dpi 96" \
  bash -c 'source "$1/scripts/wine-env.sh"; run_wine "$2" "$3" "$4"' _ \
  "$root" "$tour" "$(winpath "$demo")" "$(winpath "$out")"
wineserver --kill 2>/dev/null || true
ls -l "$out"/windows-*.png
