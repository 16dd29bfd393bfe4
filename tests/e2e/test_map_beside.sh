#!/usr/bin/env bash
# A rescued image is read through the GNU ddrescue mapfile beside it
# ("rescued.map", else "rescued.bin.map") unless --mapfile or --no-mapfile
# says otherwise; and the hints a damaged disc's failures add.
source "$(dirname "$0")/lib.sh"

readonly BURNED="This disk was probably burned by Kestrow PRO."
readonly NOT_BURNED="This disk was not burned by Kestrow PRO."
readonly READ_FAILED="Error: Couldn't read CD... CD might have damages."
readonly END_HINT="kestrow: the disc's last sectors could not be read; --keep-going looks for the files in the packed copy"
readonly STOP_HINT_START="kestrow: it stopped at a sector that could not be read; --keep-going"

label="Beside"
volume="$work/beside.hfs"
make_volume "$volume" "$label"
head -c 200000 /dev/urandom > "$work/noise"
put_file "$work/noise" "$label:Noise" BINA hDmp
humount "$label" >/dev/null
pack "$volume" "$work/disc.bin"
sectors=$(sector_count "$work/disc.bin")
last=$((sectors - 1))
read_trailer "$work/disc.bin"
first_group=$(sed -n 's/.* groups from LBA \([0-9]*\);.*/\1/p' "$work/mkdisc.out")
write_mapfile "$work/last-bad.map" "$RAW_SECTOR" "$sectors" "$last"

# Each naming: the image, the map files beside it (copies of the map whose
# last sector is bad, or an all-finished one), and the map that must be read.
mkdir -p "$work/n"
cd "$work/n"
cases="replaced|rescued.bin|rescued.map|rescued.map
appended|rescued.bin|rescued.bin.map|rescued.bin.map
both|rescued.bin|rescued.map rescued.bin.map|rescued.map
no-extension|rescued|rescued.map|rescued.map
image-named-map|rescued.map|rescued.map.map|rescued.map.map"
while IFS='|' read -r name image maps read_through; do
  rm -f ./*
  cp "$work/disc.bin" "$image"
  for map in $maps; do
    # The map that must not be read, when there are two, marks nothing bad.
    if [ "$map" = "$read_through" ]; then cp "$work/last-bad.map" "$map"; else write_mapfile "$map" "$RAW_SECTOR" "$sectors"; fi
  done
  run "$KESTROW" check "$image"
  expect_status 1 "$name: check through $read_through"
  [ "$(head -n 1 "$work/err")" = "kestrow: reading $image through $read_through" ] ||
    fail "$name: the map beside is not named: $(cat "$work/err")"
  grep -qxF "$NOT_BURNED" "$work/err" || fail "$name: the map's bad last sector was read: $(cat "$work/err")"
  run "$KESTROW" check "$image" --no-mapfile
  expect_success_text "$BURNED" "$name: check --no-mapfile"
done <<< "$cases"

# An explicit --mapfile wins and nothing is said; a map beside that cannot
# be read is an error, never an image read without it.
cp "$work/disc.bin" rescued.bin
write_mapfile good.map "$RAW_SECTOR" "$sectors"
cp "$work/last-bad.map" rescued.map
run "$KESTROW" check rescued.bin --mapfile good.map
expect_success_text "$BURNED" "check with --mapfile beside another map"
run "$KESTROW" check rescued.bin --mapfile good.map --no-mapfile
expect_status 2 "--mapfile with --no-mapfile"
printf 'not a map\n' > rescued.map
run "$KESTROW" list rescued.bin
expect_status 1 "list with an unreadable map beside"
grep -q "mapfile" "$work/err" || fail "the unreadable map is not named: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "a list was printed through an unreadable map: $(cat "$work/out")"
rm -f rescued.map

# The hints: an unreadable disc end, for every command that needs it, and a
# job that stops at an unreadable sector.
mv "$work/last-bad.map" rescued.map
for command in check info list scan "recover --all -o $work/out-hint"; do
  # shellcheck disable=SC2086  # the command's words
  run "$KESTROW" $command rescued.bin
  expect_status 1 "$command with the last sector bad"
  [ "$(tail -n 1 "$work/err")" = "$END_HINT" ] || fail "$command: no hint to go on: $(cat "$work/err")"
  [ "$command" = check ] && continue
  # shellcheck disable=SC2086
  run "$KESTROW" $command rescued.bin --keep-going
  ! grep -qF "$END_HINT" "$work/err" || fail "$command --keep-going was told to keep going"
done
group_sector=$((first_group + 1))
write_mapfile rescued.map "$RAW_SECTOR" "$sectors" "$group_sector"
for command in "recover --all -o $work/out-stop" "dump -o $work/dump.bin"; do
  # shellcheck disable=SC2086
  run "$KESTROW" $command rescued.bin
  expect_status 1 "$command with LBA $group_sector bad"
  grep -qF "$READ_FAILED" "$work/err" || fail "$command: $(cat "$work/err")"
  [[ "$(tail -n 1 "$work/err")" == "$STOP_HINT_START"*"dump --rescue-map"* ]] ||
    fail "$command: no hint after the stop: $(cat "$work/err")"
done

pass
