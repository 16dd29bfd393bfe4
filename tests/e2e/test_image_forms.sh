#!/usr/bin/env bash
# One disc in every form kestrow reads (raw .bin, 2048-byte .iso, .cue sheets
# naming either), and one volume packed with every mkdisc layout option: the
# file list, the signature check, the size and the info must not depend on
# either.
source "$(dirname "$0")/lib.sh"

label="Forms"
volume="$work/forms.hfs"
make_volume "$volume" "$label"
hmkdir "$label:Docs" "$label:Docs:Inner" "$label:Real"
for i in $(seq 1 2000); do echo "row $i of a table that compresses well"; done > "$work/text"
head -c 70000 /dev/urandom > "$work/noise"
put_file "$work/text" "$label:Docs:Table" TEXT ttxt
put_file "$work/noise" "$label:Docs:Inner:Noise" BINA hDmp
put_file "$work/text" "$label:Read Me" TEXT ttxt
copy_floppy_into "$label:Real"
walk_volume "$work/walk"
expected_rows "$work/walk" "$work/expected"
humount "$label" >/dev/null

bin="$work/disc.bin"
pack "$volume" "$bin"
sectors=$(sector_count "$bin")
read_trailer "$bin"
[ "$trailer_sig" = "Trkb" ] || fail "mkdisc wrote no Trkb trailer in the last sector"

# The forms of the same disc.
iso="$work/disc.iso"
bin_to_iso "$bin" "$iso"
printf 'FILE "disc.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' > "$work/bin.cue"
printf 'FILE "disc.iso" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n' > "$work/iso.cue"

run "$KESTROW" list "$bin" -o "$work/bin.txt"
expect_status 0 "list .bin"
export_rows "$work/bin.txt" "$work/rows"
compare_sorted "$work/expected" "$work/rows" "list of the .bin against hls"

run "$KESTROW" info "$bin"
expect_status 0 "info .bin"
grep -v '^Source:' "$work/out" > "$work/bin.info"
grep -q "^Volume start: *$volume_start " "$work/bin.info" || fail "info does not show the trailer's volume start $volume_start: $(cat "$work/out")"

if [ "$sectors" -gt 512 ]; then
  size_text="Total: $sectors sector(s), $((sectors * 2 >> 10)) MB"
else
  size_text="Total: $sectors sector(s), $((sectors * 2)) KB"
fi

for form in "$iso" "$work/bin.cue" "$work/iso.cue" "$bin"; do
  what=$(basename "$form")
  run "$KESTROW" list "$form" -o "$work/form.txt"
  expect_status 0 "list $what"
  cmp -s "$work/bin.txt" "$work/form.txt" || fail "list -o of $what differs from that of the .bin"
  run "$KESTROW" check "$form"
  expect_success_text "This disk was probably burned by Kestrow PRO." "check $what"
  run "$KESTROW" size "$form"
  expect_success_text "$size_text" "size $what"
  run "$KESTROW" info "$form"
  expect_status 0 "info $what"
  grep -q "^Source: *$form\$" "$work/out" || fail "info $what does not name its source"
  grep -v '^Source:' "$work/out" | cmp -s "$work/bin.info" - ||
    fail "info of $what differs from that of the .bin: $(grep -v '^Source:' "$work/out" | diff "$work/bin.info" - | head -n 6)"
done

# The layout options of mkdisc move the volume area and the packed data
# around; the file list stays byte for byte the same.
check_layout() {  # what mkdisc-options...
  local what=$1
  shift
  pack "$volume" "$work/layout.bin" "$@"
  run "$KESTROW" list "$work/layout.bin" -o "$work/layout.txt"
  expect_status 0 "list ($what)"
  cmp -s "$work/bin.txt" "$work/layout.txt" || fail "list -o ($what) differs from the default layout"
  run "$KESTROW" check "$work/layout.bin"
  expect_success_text "This disk was probably burned by Kestrow PRO." "check ($what)"
}
for offset in 1 2 3; do
  check_layout "--volume-start-offset $offset" --volume-start-offset "$offset"
  read_trailer "$work/layout.bin"
  [ $((volume_start % 4)) = "$offset" ] ||
    fail "--volume-start-offset $offset: the trailer's volume start $volume_start is not at 512-byte unit $offset of a sector"
done
check_layout "--uncompressed" --uncompressed
check_layout "--blocks-per-group 4" --blocks-per-group 4
check_layout "--leading-sectors 0" --leading-sectors 0
zero_lead_sectors=$(sector_count "$work/layout.bin")
check_layout "--leading-sectors 100" --leading-sectors 100
[ $(($(sector_count "$work/layout.bin") - zero_lead_sectors)) = 100 ] ||
  fail "--leading-sectors 100 made $(sector_count "$work/layout.bin") sectors, 0 made $zero_lead_sectors"
check_layout "all at once" --volume-start-offset 3 --uncompressed --blocks-per-group 4 --leading-sectors 7

pass
