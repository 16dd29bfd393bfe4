#!/usr/bin/env bash
# Only the sector asked for is data: sectors forged into a raw image the way
# rescue images, other writers and drives leave them (a zeroed hole, another
# sector with a damaged sync, Mode 2 Form 1 and Form 2, audio, no EDC) are
# each read as they must be, by recover, scan, list, check and dump.
source "$(dirname "$0")/lib.sh"

readonly READ_FAILED="Error: Couldn't read CD... CD might have damages."
readonly NOT_OURS="This disk was not burned by Kestrow PRO."

label="Forged"
volume="$work/forged.hfs"
make_volume "$volume" "$label"
seq 1 20000 > "$work/numbers"
head -c 1500000 /dev/urandom > "$work/noise"  # stored as it is: the groups after the first hold it
put_file "$work/numbers" "$label:Count" TEXT ttxt
put_file "$work/noise" "$label:Noise" BINA hDmp
humount "$label" >/dev/null
disc="$work/disc.bin"
pack "$volume" "$disc"
sectors=$(sector_count "$disc")
read_trailer "$disc"
first_group=16                                 # mkdisc's leading sectors
hit=$((first_group + 2 * 248 + 100))           # a data sector of the third group: Noise's bytes

# forged KIND OUT: the disc with sector $hit (and the two after it for "zero")
# forged as KIND.
forged() {
  local kind=$1 out=$2 s
  cp "$disc" "$out"
  case "$kind" in
    zero)
      dd if=/dev/zero of="$out" bs="$RAW_SECTOR" seek="$hit" count=3 conv=notrunc status=none ;;
    other)  # the sector 90 on, its sync pattern damaged
      dd if="$disc" of="$out" bs="$RAW_SECTOR" skip=$((hit + 90)) seek="$hit" count=1 conv=notrunc status=none
      patch "$out" $((hit * RAW_SECTOR + 2)) "ABCDEF" ;;
    form1 | form2 | no-edc)
      "$MKDISC" --reseal "$out" --sector "$hit" --as "$kind" > /dev/null || fail "mkdisc --as $kind failed" ;;
    audio)  # samples: no sync, no header
      head -c "$RAW_SECTOR" < <(yes 'L1R1l2r2') |
        dd of="$out" bs="$RAW_SECTOR" seek="$hit" count=1 conv=notrunc status=none ;;
  esac
}

# refused KIND: recover stops at the forged sector without writing Noise.
refused() {
  local kind=$1 image="$work/$1.bin"
  forged "$kind" "$image"
  run "$KESTROW" recover "$image" -o "$work/out-$kind" --all
  expect_status 1 "recover over a $kind sector"
  [ "$(head -n 1 "$work/err")" = "$READ_FAILED" ] || fail "$kind: $(cat "$work/err")"
  grep -q "Recovered 1 of 2 file(s)" "$work/out" || fail "$kind: $(cat "$work/out")"
  [ ! -e "$work/out-$kind/$label/Noise" ] || fail "$kind: Noise was written from a sector that is not its data"
  cmp -s "$work/out-$kind/$label/Count" "$work/numbers" || fail "$kind: Count is not whole"
  grep -q ", 1 unreadable" "$work/out" || fail "$kind: the end line: $(cat "$work/out")"
}

refused other
refused form2
refused audio
refused no-edc

# --- A Mode 2 Form 1 sector's user data follows its subheader ---------------------
forged form1 "$work/form1.bin"
run "$KESTROW" recover "$work/form1.bin" -o "$work/out-form1" --all
expect_status 0 "recover over a Mode 2 Form 1 sector"
cmp -s "$work/out-form1/$label/Noise" "$work/noise" || fail "Form 1: Noise differs (the subheader taken as data?)"

# --- A zeroed hole: a failed read, counted, and the hint --------------------------
readonly HINT3="kestrow: 3 sectors hold no data (all zeros); if this is a rescue image, give its mapfile with --mapfile"
forged zero "$work/zero.bin"
refused zero
[ "$(tail -n 1 "$work/err")" = "kestrow: 1 sector holds no data (all zeros); if this is a rescue image, give its mapfile with --mapfile" ] ||
  fail "recover's zero hint: $(cat "$work/err")"
run "$KESTROW" recover "$work/zero.bin" -o "$work/salvage" --all --keep-going
expect_status 1 "recover --keep-going over zeroed sectors"
grep -q "^Damaged: $label:Noise" "$work/err" || fail "Noise is not called damaged: $(cat "$work/err")"
grep -q ", 3 unreadable" "$work/out" || fail "keep-going end line: $(cat "$work/out")"
[ "$(tail -n 1 "$work/err")" = "$HINT3" ] || fail "keep-going zero hint: $(cat "$work/err")"
run "$KESTROW" scan "$work/zero.bin"
expect_status 1 "scan over zeroed sectors"
grep -qx "Unreadable sectors: $hit-$((hit + 2))" "$work/out" || fail "scan's sectors: $(cat "$work/out")"
grep -q ", 3 unreadable" "$work/out" || fail "scan's end line: $(cat "$work/out")"
[ "$(tail -n 1 "$work/err")" = "$HINT3" ] || fail "scan's zero hint: $(cat "$work/err")"
# Given the map that says so, the holes are unreadable, not zeros: no hint.
write_mapfile "$work/zero.map" "$RAW_SECTOR" "$sectors" "$hit" $((hit + 1)) $((hit + 2))
run "$KESTROW" scan "$work/zero.bin" --mapfile "$work/zero.map"
expect_status 1 "scan with the mapfile"
! grep -q "hold no data" "$work/err" || fail "the hint with the mapfile given: $(cat "$work/err")"
# A dump writes the sectors as they are.
# (without the map beside it, which the scan above was given)
run "$KESTROW" dump "$work/zero.bin" --no-mapfile -o "$work/zero-dump.bin"
expect_status 0 "dump over zeroed sectors"
cmp -s "$work/zero-dump.bin" "$work/zero.bin" || fail "the dump is not the image"

# --- The disc's end and its volume area -------------------------------------------
cp "$disc" "$work/end.bin"
dd if=/dev/zero of="$work/end.bin" bs="$RAW_SECTOR" seek=$((sectors - 17)) count=17 conv=notrunc status=none
for command in check list; do
  run "$KESTROW" "$command" "$work/end.bin"
  expect_status 1 "$command without the last sectors"
  [ "$(head -n 1 "$work/err")" = "$NOT_OURS" ] || fail "$command: $(cat "$work/err")"
  grep -qx "kestrow: the last sector (LBA $((sectors - 1))) could not be read, and no \"Trkb\" trailer is in the 16 sectors before it" \
    "$work/err" || fail "$command does not name the last sector: $(cat "$work/err")"
  [ "$(tail -n 1 "$work/err")" = "kestrow: 17 sectors hold no data (all zeros); if this is a rescue image, give its mapfile with --mapfile" ] ||
    fail "$command's zero hint: $(cat "$work/err")"
done
cp "$disc" "$work/area.bin"
area_hole=$((area_first_sector + 3))
dd if=/dev/zero of="$work/area.bin" bs="$RAW_SECTOR" seek="$area_hole" count=1 conv=notrunc status=none
run "$KESTROW" scan "$work/area.bin"
grep -qx "Unreadable sectors: $area_hole" "$work/out" || fail "scan does not count LBA $area_hole: $(cat "$work/out")"
for command in list info recover; do
  extra=()
  [ "$command" = recover ] && extra=(-o "$work/never" --all)
  run "$KESTROW" "$command" "$work/area.bin" "${extra[@]}"
  expect_status 1 "$command over a zeroed volume area sector"
  [ "$(head -n 1 "$work/err")" = "$READ_FAILED" ] || fail "$command: $(cat "$work/err")"
  grep -q "^kestrow: LBA $area_hole of the volume area" "$work/err" || fail "$command does not name LBA $area_hole: $(cat "$work/err")"
done

# --- An image written without EDC at all is read as it is ------------------------
cp "$disc" "$work/plain.bin"
"$MKDISC" --reseal "$work/plain.bin" --as no-edc > /dev/null || fail "mkdisc --as no-edc failed"
run "$KESTROW" recover "$work/plain.bin" -o "$work/out-plain" --all
expect_status 0 "recover from an image without EDC"
cmp -s "$work/out-plain/$label/Noise" "$work/noise" && cmp -s "$work/out-plain/$label/Count" "$work/numbers" ||
  fail "an image without EDC gave other bytes"
grep -q " without EDC$" "$work/out" || fail "the sectors without EDC are not counted: $(cat "$work/out")"

pass
