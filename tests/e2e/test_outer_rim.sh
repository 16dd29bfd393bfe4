#!/usr/bin/env bash
# Outer-rim damage: a disc whose last sectors (trailer, volume area, "Pack"
# table, the last groups) cannot be read, listed and recovered with
# --keep-going from the packed copy of its metadata, its groups found by
# their block tables. What each file must become is computed here from the
# undamaged disc's "Pack" table; the bytes come from hcopy.
source "$(dirname "$0")/lib.sh"
command -v jq >/dev/null || fail "jq is not installed"

label="Rim"
volume="$work/rim.hfs"
make_volume "$volume" "$label"
hmkdir "$label:Docs"
mkdir -p "$work/src"
# Early files lie in the first groups; a filler pushes the late ones into
# the last groups, which the loss of the disc's last tenth takes.
{ seq 1 30000; head -c 100000 /dev/urandom; } > "$work/src/early"
head -c 300000 /dev/urandom > "$work/src/Docs_early2"
head -c 31000000 /dev/zero > "$work/src/filler"
{ seq 1 20000; head -c 400000 /dev/urandom; } > "$work/src/late"
head -c 200000 /dev/urandom > "$work/src/Docs_late2"
for name in early Docs:early2 filler late Docs:late2; do
  put_file "$work/src/${name//:/_}" "$label:$name" TEXT ttxt
done
humount "$label" >/dev/null
disc="$work/disc.bin"
pack "$volume" "$disc" --blocks-per-group 100
sectors=$(sector_count "$disc")
base=$(sed -n 's/.* groups from LBA \([0-9]*\);.*/\1/p' "$work/mkdisc.out")
read_trailer "$disc"
last=$((sectors - 1))

run "$KESTROW" list "$disc"
expect_status 0 "list of the undamaged disc"
cp "$work/out" "$work/list.expected"
run "$KESTROW" list "$disc" --json
cp "$work/out" "$work/list.json"

# The "Pack" table of the undamaged disc: group k holds [bound k, bound k+1).
area_byte=$(user_to_raw_offset $((volume_start * 512)))
pack_byte() { be_uint "$disc" $((area_byte + $1 / USER_SECTOR * (RAW_SECTOR - USER_SECTOR) + $1)) "$2"; }
count=$(pack_byte $((0xC0D)) 3)
bounds=()
for ((k = 0; k < count; k++)); do bounds+=($(($(pack_byte $((0xC18 + 8 * k + 1)) 3) * 512))); done
group_of() {
  local k
  for ((k = 0; k + 1 < count; k++)); do
    if ((bounds[k] <= $1 && $1 < bounds[k + 1])); then echo "$k"; return; fi
  done
  echo $((count - 1))
}
pack_sector=$((area_first_sector + ((volume_start % 4) * 512 + 0xC00) / USER_SECTOR))

# name | first bad LBA | last bad LBA | where the metadata must come from
cases="trailer|$last|$last|packed copy
area|$area_first_sector|$last|packed copy
tail|$((sectors - sectors / 10))|$last|packed copy
pack|$pack_sector|$pack_sector|volume area"

while IFS='|' read -r name first_bad last_bad source; do
  seq "$first_bad" "$last_bad" > "$work/bad.lbas"
  map="$work/$name.map"
  mapfile -t bad < "$work/bad.lbas"
  write_mapfile "$map" "$RAW_SECTOR" "$sectors" "${bad[@]}"

  run "$KESTROW" list "$disc" --mapfile "$map" --keep-going
  expect_status 0 "$name: list --keep-going"
  cmp -s "$work/out" "$work/list.expected" || fail "$name: list --keep-going differs: $(cat "$work/out")"
  grep -q '^Groups found by search (no readable "Pack" table): [1-9]' "$work/err" ||
    fail "$name: list --keep-going does not say the groups were searched for: $(cat "$work/err")"
  # One summary line; each group only with --verbose.
  ! grep -q '^  group [0-9]* at LBA' "$work/err" || fail "$name: list --keep-going listed the groups: $(cat "$work/err")"
  run "$KESTROW" list "$disc" --mapfile "$map" --keep-going --verbose
  grep -q "^  group 0 at LBA $base:" "$work/err" || fail "$name: list --verbose does not list group 0: $(cat "$work/err")"

  run "$KESTROW" info "$disc" --mapfile "$map" --keep-going
  expect_status 0 "$name: info --keep-going"
  grep -qxF "Metadata source:    $source" "$work/out" || fail "$name: info: $(cat "$work/out")"

  out="$work/out-$name"
  run "$KESTROW" recover "$disc" --mapfile "$map" --keep-going --all -o "$out" --report "$work/$name.json"
  [ "$(jq -r .metadataSource "$work/$name.json")" = "$source" ] || fail "$name: report: $(cat "$work/$name.json")"
  summary=$(jq -r '[.files[] | .status] as $s | def n(x): [$s[] | select(. == x)] | length;
    "Recovered \(n("whole") + n("damaged")) of \($s | length) file(s): \(n("whole")) whole, \(n("damaged")) damaged, " +
    "\(n("lost")) lost, \(($s | length) - n("whole") - n("damaged") - n("lost")) not written"' "$work/$name.json")
  if [ "$(jq '[.files[] | select(.status != "whole")] | length' "$work/$name.json")" -gt 0 ]; then
    grep -qxF "$summary" "$work/out" || fail "$name: recover's summary, expected '$summary': $(head -n 1 "$work/out")"
  fi
  [ "$(jq '.groupsFoundBySearch | length' "$work/$name.json")" -gt 0 ] || fail "$name: no group found by search"
  [ "$(jq -c '[.groupsFoundBySearch[0].group, .groupsFoundBySearch[0].lba]' "$work/$name.json")" = "[0,$base]" ] ||
    fail "$name: group 0 not found at LBA $base: $(jq -c .groupsFoundBySearch "$work/$name.json")"
  for file in early Docs:early2 filler late Docs:late2; do
    start_block=$(jq ".files[] | select(.name == \"${file#*:}\") | .dataFork.extents[0].startBlock" "$work/list.json")
    length=$(jq ".files[] | select(.name == \"${file#*:}\") | .dataFork.logicalLength" "$work/list.json")
    fork=$((9728 + start_block * 512))
    g1=$(group_of "$fork")
    g2=$(group_of $((fork + length - 1)))
    status_of=$(jq -r ".files[] | select(.path == \"$label:$file\") | .status" "$work/$name.json")
    local_copy="$work/hcopy-${file//:/_}"
    [ -f "$local_copy" ] || { hmount "$volume" >/dev/null; hcopy -r "$label:$file" "$local_copy"; humount >/dev/null; }
    if ((base + 248 * g2 + 247 < first_bad)); then
      [ "$status_of" = whole ] || fail "$name: $file lies before the damage but is $status_of"
      cmp -s "$local_copy" "$out/$label/${file//://}" || fail "$name: $file differs from hcopy's bytes"
    elif ((base + 248 * g1 + 1 >= first_bad)); then
      [ "$status_of" = lost ] || fail "$name: $file lies in the lost groups but is $status_of"
      [ ! -e "$out/$label/${file//://}" ] || fail "$name: lost $file was written"
    else
      # Straddles the damage: whatever was read must be hcopy's bytes.
      cp "$local_copy" "$work/expected"
      for range in $(jq -r ".files[] | select(.path == \"$label:$file\") | .lostRanges[] | \"\(.[0]):\(.[1])\"" "$work/$name.json"); do
        head -c $((${range#*:} - ${range%:*})) /dev/zero |
          dd of="$work/expected" bs=1 seek="${range%:*}" conv=notrunc status=none
      done
      [ "$status_of" = lost ] || cmp -s "$work/expected" "$out/$label/${file//://}" ||
        fail "$name: $file ($status_of) is not hcopy's bytes with its lost ranges zeroed"
    fi
  done
done <<< "$cases"
# The disc's last tenth took files with it.
[ "$(jq '[.files[] | select(.status == "lost")] | length' "$work/tail.json")" -gt 0 ] ||
  fail "tail: no file was lost: the test's late files do not reach the lost groups"

# Without --keep-going, nothing changes.
write_mapfile "$work/trailer.map" "$RAW_SECTOR" "$sectors" "$last"
run "$KESTROW" list "$disc" --mapfile "$work/trailer.map"
expect_status 1 "list without --keep-going"
[ "$(head -n 1 "$work/err")" = "This disk was not burned by Kestrow PRO." ] || fail "list: $(cat "$work/err")"
grep -q "Groups found" "$work/err" && fail "list without --keep-going searched for groups"

# A disc whose packed data begins after the metadata: the clear message,
# no list, and scan still shows the groups it found.
late="$work/late.bin"
pack "$volume" "$late" --blocks-per-group 100 --first-block 2
mapfile -t bad < <(seq "$area_first_sector" "$last")
write_mapfile "$work/late.map" "$RAW_SECTOR" "$(sector_count "$late")" "${bad[@]}"
run "$KESTROW" list "$late" --mapfile "$work/late.map" --keep-going
expect_status 1 "list --keep-going of a disc without the packed metadata"
[ ! -s "$work/out" ] || fail "a list was printed: $(cat "$work/out")"
grep -qxF "Error: the volume's metadata is gone with the disc's end; no file can be listed." "$work/err" ||
  fail "list: $(cat "$work/err")"
run "$KESTROW" scan "$late" --mapfile "$work/late.map" --keep-going --json
expect_status 1 "scan --keep-going of a disc without the packed metadata"
[ "$(jq -c '[.metadataGone, .groupsFoundBySearch[0].volumeBytes[0]]' "$work/out")" = "[true,16384]" ] ||
  fail "scan: $(cat "$work/out")"

pass
