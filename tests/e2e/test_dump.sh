#!/usr/bin/env bash
# kestrow dump: exactly the raw sectors asked for, the range checks of the
# sector range dialog, and a partial file kept after a bad sector.
set -euo pipefail
: "${KESTROW:?}" "${MKDISC:?}" "${SOURCE_DIR:?}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$SOURCE_DIR/scripts/make-hfs-volume.sh" "$work/v.hfs" "Dump"
disc="$work/disc.bin"
"$MKDISC" "$work/v.hfs" "$disc" >/dev/null
sectors=$(( $(stat -c %s "$disc") / 2352 ))

# The whole disc, by default: the image's own bytes.
"$KESTROW" dump "$disc" -o "$work/all.bin" > "$work/out"
[ "$(head -n 1 "$work/out")" = "Completed!" ] || fail "whole dump said: $(cat "$work/out")"
# Then one last line with the figures: every sector read once, in 27-sector commands.
[ "$(wc -l < "$work/out")" = 2 ] || fail "whole dump printed: $(cat "$work/out")"
grep -qx "read $sectors sectors in $(( (sectors + 26) / 27 )) READ CD commands, wrote [0-9.]* [kMG]*B in [0-9.]* s ([0-9.]* [kMG]*B/s), 0 repaired, 0 unreadable" "$work/out" ||
  fail "whole dump's last line: $(tail -n 1 "$work/out")"
cmp -s "$disc" "$work/all.bin" || fail "whole dump differs from the image"

# --start and --end are LBAs, counted from 0 as every sector kestrow prints:
# 9 to 11 are LBAs 9, 10, 11.
"$KESTROW" dump "$disc" -o "$work/part.bin" --start 9 --end 11 >/dev/null
[ "$(stat -c %s "$work/part.bin")" = $((3 * 2352)) ] || fail "range 9..11 size"
cmp -s <(dd if="$disc" bs=2352 skip=9 count=3 status=none) "$work/part.bin" || fail "range 9..11 bytes"
"$KESTROW" dump "$disc" -o "$work/first.bin" --start 0 --end 0 >/dev/null
cmp -s <(head -c 2352 "$disc") "$work/first.bin" || fail "LBA 0"

# One sector, the last.
"$KESTROW" dump "$disc" -o "$work/one.bin" --start $((sectors - 1)) --end $((sectors - 1)) >/dev/null
cmp -s <(tail -c 2352 "$disc") "$work/one.bin" || fail "last sector"

# Range checks: the texts of the sector range dialog, usage exit code, no file.
check_refused() {  # expected-text args...
  local text=$1; shift
  rm -f "$work/refused.bin"
  set +e
  "$KESTROW" dump "$disc" -o "$work/refused.bin" "$@" > /dev/null 2> "$work/err"
  local code=$?
  set -e
  [ $code = 2 ] || fail "dump $* exited $code, expected 2"
  grep -qxF "$text" "$work/err" || fail "dump $*: expected '$text', got: $(cat "$work/err")"
  [ ! -e "$work/refused.bin" ] || fail "dump $* created the file"
}
check_refused "Please enter an integer between 0 and $((sectors - 1))." --start "$sectors"
check_refused "Please enter an integer between 0 and $((sectors - 1))." --end "$sectors"
check_refused "The start sector must not be greater than the end sector." --start 5 --end 4
check_refused "Please enter a positive integer." --start abc
check_refused "Please enter a positive integer." --end 12x

# A bad sector (LBA 21) at the 3rd sector of the range keeps the first two.
cat > "$work/map" <<MAP
# Mapfile. Created by hand
# current_pos  current_status
0x00000000     +
#      pos        size  status
0x00000000  0x$(printf '%X' $((21 * 2352)))  +
0x$(printf '%X' $((21 * 2352)))  0x00000930  -
0x$(printf '%X' $((22 * 2352)))  0x$(printf '%X' $(( (sectors - 22) * 2352 )))  +
MAP
set +e
"$KESTROW" dump "$disc" --mapfile "$work/map" -o "$work/bad.bin" --start 19 --end 29 > /dev/null 2> "$work/err"
code=$?
set -e
[ $code = 1 ] || fail "dump over a bad sector exited $code"
grep -qxF "Error: Couldn't read CD... CD might have damages." "$work/err" || fail "bad sector message: $(cat "$work/err")"
[ "$(stat -c %s "$work/bad.bin")" = $((2 * 2352)) ] || fail "partial file size $(stat -c %s "$work/bad.bin")"

# A full output disk is a failure, not "Completed!".
if [ -w /dev/full ]; then
  set +e
  "$KESTROW" dump "$disc" -o /dev/full --start 0 --end 99 > "$work/out" 2> "$work/err"
  code=$?
  set -e
  [ $code = 1 ] || fail "dump to a full disk exited $code"
  ! grep -q "Completed!" "$work/out" || fail "dump to a full disk said Completed!"
fi
echo "dump: all checks passed"
