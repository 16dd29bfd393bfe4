#!/usr/bin/env bash
# KestrowDiag.exe as a person uses it, under Wine on an X server of its own
# (Xvfb): a driver program finds the dialogs' controls by their ids, browses
# the demo disc's file list, selects every row, recovers them through the
# shell's folder browser into a folder, answers "Done!" and ends the program.
# The files must be those the Linux build recovers, byte for byte.
#
# Skipped without a Windows build, Wine or Xvfb, unless
# KESTROW_WINDOWS_REQUIRED=1 (scripts/test.sh without --quick).
source "$(dirname "$0")/lib.sh"

build="${KESTROW_WINDOWS_BUILD:-$SOURCE_DIR/build-windows}"
program="$build/src/win32/KestrowDiag.exe"
driver="$build/tests/win32/kestrow_win32_smoke.exe"
unavailable() {
  [ "${KESTROW_WINDOWS_REQUIRED:-0}" != 1 ] || fail "$1"
  echo "SKIP [$test_name]: $1 (scripts/build-windows.sh builds it; scripts/test.sh without --quick always does)"
  exit 77
}
[ -f "$program" ] && [ -f "$driver" ] || unavailable "there is no Windows build of KestrowDiag.exe in $build"
command -v wine >/dev/null || unavailable "wine is not installed (KESTROW_WINDOWS=ON scripts/setup.sh)"
command -v xvfb-run >/dev/null || unavailable "xvfb-run is not installed (scripts/setup.sh)"

# A prefix of its own: the other Windows tests run theirs on the null
# display driver, at the same time.
export KESTROW_WINEPREFIX="$work/wine-prefix"
# shellcheck source=../../scripts/wine-env.sh
source "$SOURCE_DIR/scripts/wine-env.sh"
run_wine wineboot --init >/dev/null 2>&1
# Without a window manager Wine would wait at every window that closes.
run_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver --wait

demo="$work/demo.bin"
"$SOURCE_DIR/scripts/make-demo-disc.sh" "$MKDISC" "$demo" > /dev/null
"$KESTROW" recover "$demo" -o "$work/linux" --all > /dev/null
mkdir "$work/Recovered by KestrowDiag"
drive() {
  xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" \
    bash -c 'source "$1/scripts/wine-env.sh"; run_wine "$2" "$3" "$4" "$5"' _ \
    "$SOURCE_DIR" "$driver" "$(winpath "$program")" "$(winpath "$demo")" "$(winpath "$work/Recovered by KestrowDiag")" \
    > "$work/out" 2> "$work/err"
}
# Wine's own folder browser now and then keeps "Desktop" selected on a
# loaded machine, however often it is asked for the folder (nothing has been
# recovered then): the program is ended and driven once more.
if ! drive; then
  grep -aq "did not take the folder" "$work/err" || fail "the driver failed: $(grep -a smoke: "$work/err" | tail -n 3)"
  echo "Wine's folder browser did not take the folder; once more" >&2
  wineserver --kill 2>/dev/null || true
  drive || fail "the driver failed: $(grep -a smoke: "$work/err" | tail -n 3)"
fi
wineserver --kill 2>/dev/null || true
diff -r "$work/linux" "$work/Recovered by KestrowDiag" > "$work/diff" || fail "KestrowDiag.exe recovered other files: $(head -n 5 "$work/diff")"
[ -n "$(ls -A "$work/Recovered by KestrowDiag")" ] || fail "nothing was recovered"

pass
