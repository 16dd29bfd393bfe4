#!/usr/bin/env bash
# What kestrow tells its user, and its exit codes: the signature check, the
# drive-selection refusals, the size texts, the two list failures, usage.
source "$(dirname "$0")/lib.sh"

readonly BURNED="This disk was probably burned by Kestrow PRO."
readonly NOT_BURNED="This disk was not burned by Kestrow PRO."
readonly NO_VALID="No valid CD found in the drive..."
readonly NO_DRIVE="No CD drive found..."
readonly UNKNOWN_FORMAT="Error: I don't understand this CD format..."

label="Messages"
volume="$work/messages.hfs"
make_volume "$volume" "$label"
echo "a letter" > "$work/letter"
put_file "$work/letter" "$label:Letter" TEXT ttxt
humount "$label" >/dev/null
disc="$work/disc.bin"
pack "$volume" "$disc"
sectors=$(sector_count "$disc")
read_trailer "$disc"
last_user=$(((sectors - 1) * RAW_SECTOR + USER_OFFSET))

# A Kestrow disc.
run "$KESTROW" check "$disc"
expect_success_text "$BURNED" "check on a Kestrow disc"
run "$KESTROW" list "$disc"
expect_status 0 "list on a Kestrow disc"
printf '%s:Letter\t9\n' "$label" | cmp -s - "$work/out" || fail "list on a Kestrow disc printed: $(show "$work/out")"

# The signature is the first four user bytes of the last sector, exactly;
# nothing after it matters to the check.
signature_case() {  # bytes expected-check-text
  cp "$disc" "$work/sig.bin"
  patch_sealed "$work/sig.bin" "$last_user" "$1"
  run "$KESTROW" check "$work/sig.bin"
  if [ "$2" = "$BURNED" ]; then
    expect_success_text "$BURNED" "check with '$1' in the last sector"
  else
    expect_failure_text "$NOT_BURNED" "check with '$1' in the last sector"
    run "$KESTROW" list "$work/sig.bin"
    expect_failure_text "$NOT_BURNED" "list with '$1' in the last sector"
  fi
}
signature_case "TRKB" "$NOT_BURNED"
signature_case "trkb" "$NOT_BURNED"
signature_case "Trka" "$NOT_BURNED"
signature_case "Trkbxxxxxxxxxxxxxxxxxxxx" "$BURNED"  # user bytes 4..23 are not read
cp "$disc" "$work/sig.bin"
printf 'T\0rkb' | dd of="$work/sig.bin" bs=1 seek="$last_user" conv=notrunc status=none
reseal_at "$work/sig.bin" "$last_user"
run "$KESTROW" check "$work/sig.bin"
expect_failure_text "$NOT_BURNED" "check with T NUL r k b in the last sector"

# The signature in the other sectors of the disc does not count: a disc of
# zeros is not a Kestrow disc.
zero_image "$work/zeros.iso" 1000
run "$KESTROW" check "$work/zeros.iso"
expect_failure_text "$NOT_BURNED" "check on 1000 zero sectors"
run "$KESTROW" list "$work/zeros.iso"
expect_failure_text "$NOT_BURNED" "list on 1000 zero sectors"
run "$KESTROW" list "$work/zeros.iso" -o "$work/zeros.txt"
expect_failure_text "$NOT_BURNED" "list -o on 1000 zero sectors"
run "$KESTROW" size "$work/zeros.iso"
expect_success_text "Total: 1000 sector(s), 1 MB" "size of 1000 zero sectors"

# A disc of exactly 2 sectors is checked at its second sector. With a bare
# trailer (volume area empty) the volume loads, but has no master directory
# block.
zero_image "$work/two.iso" 2
run "$KESTROW" check "$work/two.iso"
expect_failure_text "$NOT_BURNED" "check on 2 zero sectors"
patch "$work/two.iso" "$USER_SECTOR" "Trkb"
run "$KESTROW" check "$work/two.iso"
expect_success_text "$BURNED" "check on 2 sectors with Trkb in the second"
run "$KESTROW" list "$work/two.iso"
expect_failure_text "$UNKNOWN_FORMAT" "list on 2 sectors with an empty volume area"

# The master directory block damaged, the trailer intact.
mdb_raw=$(user_to_raw_offset $((volume_start * 512 + 0x4000)))
[ "$(bytes_at "$disc" "$mdb_raw" 2)" = "BD" ] ||
  fail "no BD at the trailer's volume start + 0x4000 (raw byte $mdb_raw): mkdisc and the trailer disagree"
cp "$disc" "$work/nomdb.bin"
patch_sealed "$work/nomdb.bin" "$mdb_raw" "XD"
run "$KESTROW" list "$work/nomdb.bin"
expect_failure_text "$UNKNOWN_FORMAT" "list with a damaged master directory block"
run "$KESTROW" list "$work/nomdb.bin" -o "$work/nomdb.txt"
expect_failure_text "$UNKNOWN_FORMAT" "list -o with a damaged master directory block"
run "$KESTROW" check "$work/nomdb.bin"
expect_success_text "$BURNED" "check with a damaged master directory block"

# A trailer whose volume area runs past the end of the disc.
cp "$disc" "$work/long.bin"
end=$((sectors * 4 + 40))
printf "\\$(printf %03o $((end >> 16 & 255)))\\$(printf %03o $((end >> 8 & 255)))\\$(printf %03o $((end & 255)))" |
  dd of="$work/long.bin" bs=1 seek=$((last_user + 33)) conv=notrunc status=none
reseal_at "$work/long.bin" "$last_user"
run "$KESTROW" list "$work/long.bin"
expect_failure_text "Error: Couldn't read CD... CD might have damages." "list with a volume area past the end of the disc"

# Fewer than 2 sectors, no file, an empty file: refused before anything else.
head -c "$USER_SECTOR" /dev/zero > "$work/one.iso"
head -c "$RAW_SECTOR" "$disc" > "$work/one.bin"
: > "$work/empty.iso"
for source in "$work/one.iso" "$work/one.bin" "$work/empty.iso" "$work/missing.bin"; do
  for command in check size list info; do
    run "$KESTROW" "$command" "$source"
    expect_failure_text "$NO_VALID" "$command $(basename "$source")"
  done
done

# Size texts: KB up to 512 sectors, MB (truncated) from 513 on.
size_case() {  # sectors text
  zero_image "$work/size.iso" "$1"
  run "$KESTROW" size "$work/size.iso"
  expect_success_text "$2" "size of $1 sectors"
}
size_case 2 "Total: 2 sector(s), 4 KB"
size_case 3 "Total: 3 sector(s), 6 KB"
size_case 512 "Total: 512 sector(s), 1024 KB"
size_case 513 "Total: 513 sector(s), 1 MB"
size_case 1024 "Total: 1024 sector(s), 2 MB"
size_case 333000 "Total: 333000 sector(s), 650 MB"
size_case 360000 "Total: 360000 sector(s), 703 MB"
rm -f "$work/size.iso"
run "$KESTROW" size "$disc"
if [ "$sectors" -gt 512 ]; then
  expect_success_text "Total: $sectors sector(s), $((sectors * 2 >> 10)) MB" "size of the Kestrow disc"
else
  expect_success_text "Total: $sectors sector(s), $((sectors * 2)) KB" "size of the Kestrow disc"
fi

# No source and no optical drive.
if ! compgen -G '/dev/sr*' >/dev/null; then
  for command in check size list info; do
    run "$KESTROW" "$command"
    expect_failure_text "$NO_DRIVE" "$command with no source and no drive"
  done
  run "$KESTROW" drives
  expect_status 0 "drives with no drive"
  [ ! -s "$work/out" ] || fail "drives listed $(cat "$work/out") on a machine without /dev/sr*"
fi

# The list file cannot be created.
run "$KESTROW" list "$disc" -o "$work/no such folder/list.txt"
expect_failure_text "Failed to open file..." "list -o into a missing folder"

# Usage errors exit 2; --help and --version exit 0.
usage_case() {
  run "$KESTROW" "$@"
  expect_status 2 "kestrow $*"
  [ -s "$work/err" ] || fail "kestrow $*: a usage error must say something on stderr"
}
usage_case
usage_case frobnicate "$disc"
usage_case list "$disc" --frobnicate
usage_case check "$disc" -z
usage_case size "$disc" "$disc"
usage_case list "$disc" -o
usage_case --frobnicate
run "$KESTROW" --help
expect_status 0 "--help"
for command in drives check size list info; do
  grep -q "$command" "$work/out" || fail "--help does not mention $command"
done
run "$KESTROW" list --help
expect_status 0 "list --help"
grep -q -- "--json" "$work/out" || fail "list --help does not mention --json"
grep -q -- "--mapfile" "$work/out" || fail "list --help does not mention --mapfile"
run "$KESTROW" --version
expect_status 0 "--version"
grep -qE '^kestrow [0-9]' "$work/out" || fail "--version printed: $(cat "$work/out")"

pass
