#!/usr/bin/env bash
# A rescued image with its GNU ddrescue mapfile behaves like the damaged
# disc: sectors the mapfile does not mark finished ('+') cannot be read.
source "$(dirname "$0")/lib.sh"

readonly BURNED="This disk was probably burned by Kestrow PRO."
readonly NOT_BURNED="This disk was not burned by Kestrow PRO."
readonly READ_FAILED="Error: Couldn't read CD... CD might have damages."

label="Rescued"
volume="$work/mapfile.hfs"
make_volume "$volume" "$label"
hmkdir "$label:Docs"
for i in $(seq 1 500); do echo "paragraph $i"; done > "$work/text"
head -c 300000 /dev/urandom > "$work/noise"
put_file "$work/text" "$label:Docs:Letter" TEXT ttxt
put_file "$work/noise" "$label:Noise" BINA hDmp
walk_volume "$work/walk"
expected_rows "$work/walk" "$work/expected"
humount "$label" >/dev/null

# Leading sectors make sure that some sectors lie outside both the volume
# area and the last sector.
disc="$work/disc.bin"
pack "$volume" "$disc" --leading-sectors 20
sectors=$(sector_count "$disc")
last=$((sectors - 1))
read_trailer "$disc"
[ "$trailer_sig" = "Trkb" ] || fail "mkdisc wrote no trailer"
[ "$area_last_sector" -lt "$last" ] || fail "the volume area reaches the last sector"
outside=""
for ((s = 0; s < sectors; s++)); do
  if ((s < area_first_sector || s > area_last_sector)) && ((s != last)); then outside=$s; break; fi
done
[ -n "$outside" ] || fail "no sector lies outside the volume area"
inside=$(((area_first_sector + area_last_sector) / 2))
# Bad sectors that the list must not need: the first sector outside the
# area, and the neighbours of the area.
elsewhere=("$outside")
if ((area_first_sector > 0)); then elsewhere+=($((area_first_sector - 1))); fi
if ((area_last_sector + 1 < last)); then elsewhere+=($((area_last_sector + 1))); fi

run "$KESTROW" list "$disc" -o "$work/plain.txt"
expect_status 0 "list without a mapfile"
export_rows "$work/plain.txt" "$work/rows"
compare_sorted "$work/expected" "$work/rows" "list against hls"

# Each case: a mapfile for the .bin (positions in 2352-byte sectors) and for
# the same disc as .iso (positions in 2048-byte sectors).
iso="$work/disc.iso"
bin_to_iso "$disc" "$iso"

for form in bin iso; do
  if [ "$form" = bin ]; then image=$disc unit=$RAW_SECTOR; else image=$iso unit=$USER_SECTOR; fi

  # Everything finished: the same as no mapfile.
  write_mapfile "$work/all.map" "$unit" "$sectors"
  run "$KESTROW" list "$image" --mapfile "$work/all.map" -o "$work/all.txt"
  expect_status 0 "$form: list with an all-'+' mapfile"
  cmp -s "$work/plain.txt" "$work/all.txt" || fail "$form: an all-'+' mapfile changed the list"
  run "$KESTROW" check "$image" --mapfile "$work/all.map"
  expect_success_text "$BURNED" "$form: check with an all-'+' mapfile"

  # The last sector bad: no trailer to be read.
  write_mapfile "$work/last.map" "$unit" "$sectors" "$last"
  run "$KESTROW" check "$image" --mapfile "$work/last.map"
  expect_failure_text "$NOT_BURNED" "$form: check with the last sector bad"
  run "$KESTROW" list "$image" --mapfile "$work/last.map"
  expect_failure_text "$NOT_BURNED" "$form: list with the last sector bad"
  run "$KESTROW" size "$image" --mapfile "$work/last.map"
  expect_status 0 "$form: size with the last sector bad"

  # A sector of the volume area bad: the area cannot be loaded.
  for bad in "$area_first_sector" "$inside" "$area_last_sector"; do
    write_mapfile "$work/area.map" "$unit" "$sectors" "$bad"
    run "$KESTROW" list "$image" --mapfile "$work/area.map" -o "$work/area.txt"
    expect_failure_text "$READ_FAILED" "$form: list with sector $bad of the volume area bad"
    run "$KESTROW" check "$image" --mapfile "$work/area.map"
    expect_success_text "$BURNED" "$form: check with sector $bad of the volume area bad"
  done

  # Bad sectors elsewhere: the list does not read them.
  write_mapfile "$work/outside.map" "$unit" "$sectors" "${elsewhere[@]}"
  run "$KESTROW" list "$image" --mapfile "$work/outside.map" -o "$work/outside.txt"
  expect_status 0 "$form: list with sectors outside the volume area bad"
  cmp -s "$work/plain.txt" "$work/outside.txt" || fail "$form: bad sectors outside the volume area changed the list"
done

# The other statuses of ddrescue ('?', '*', '/') are not finished either,
# and a bad area may cover several sectors.
for status_char in '?' '*' '/'; do
  {
    echo "# Mapfile. Created by GNU ddrescue version 1.27"
    echo "# current_pos  current_status  current_pass"
    printf '0x%08X     %s               2\n' $((inside * RAW_SECTOR)) "$status_char"
    echo "#      pos        size  status"
    printf '0x%08X  0x%08X  +\n' 0 $(((inside - 1) * RAW_SECTOR))
    printf '0x%08X  0x%08X  %s\n' $(((inside - 1) * RAW_SECTOR)) $((3 * RAW_SECTOR)) "$status_char"
    printf '0x%08X  0x%08X  +\n' $(((inside + 2) * RAW_SECTOR)) $(((sectors - inside - 2) * RAW_SECTOR))
  } > "$work/status.map"
  run "$KESTROW" list "$disc" --mapfile "$work/status.map"
  expect_failure_text "$READ_FAILED" "list with sectors $((inside - 1))..$((inside + 1)) marked '$status_char'"
done

pass
