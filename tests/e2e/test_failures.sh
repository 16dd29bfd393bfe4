#!/usr/bin/env bash
# What `kestrow recover` says and keeps when the disc is damaged or the
# destination cannot take the files: a clear message, every file saved
# before the failure intact, no partial file, and never a success status.
source "$(dirname "$0")/lib.sh"

readonly NOT_BURNED="This disk was not burned by Kestrow PRO."
readonly CANT_READ="Error: Couldn't read CD... CD might have damages."

label="Damaged"
volume="$work/failures.hfs"
make_volume "$volume" "$label"
hmkdir "$label:Docs"
hmkdir "$label:Pictures"
declare -A sizes=([Docs:small]=3000 [Docs:medium]=90000 [Pictures:big]=400000 [Pictures:huge]=700000 [loose]=20000)
mkdir -p "$work/src"
for name in "${!sizes[@]}"; do
  local_file="$work/src/${name//:/_}"
  # Half text, half noise: several groups of different fill.
  { seq 1 $((sizes[$name] / 12)); head -c $((sizes[$name] / 2)) /dev/urandom; } | head -c "${sizes[$name]}" > "$local_file"
  put_file "$local_file" "$label:$name" TEXT ttxt
done
humount "$label" >/dev/null
disc="$work/disc.bin"
pack "$volume" "$disc"
sectors=$(sector_count "$disc")
read_trailer "$disc"

# check_saved DEST: every data file under DEST is byte-identical to its
# source, and no file is left half-written.
check_saved() {
  local dest=$1 saved=0 name file
  for name in "${!sizes[@]}"; do
    file="$dest/$label/${name//://}"
    [ -e "$file" ] || continue
    cmp -s "$file" "$work/src/${name//:/_}" || fail "$file differs from what was put on the disc"
    saved=$((saved + 1))
  done
  echo "$saved"
}

# 1. The last two sectors unreadable: no trailer, nothing can be listed or saved.
write_mapfile "$work/tail.map" "$RAW_SECTOR" "$sectors" $((sectors - 2)) $((sectors - 1))
run "$KESTROW" recover "$disc" --mapfile "$work/tail.map" --all -o "$work/out-tail"
expect_failure_text "$NOT_BURNED" "recover with the last two sectors bad"
[ -z "$(ls -A "$work/out-tail" 2>/dev/null)" ] || fail "recover with the last two sectors bad wrote files"

# 2. A sector of the volume area unreadable.
write_mapfile "$work/area.map" "$RAW_SECTOR" "$sectors" $(((area_first_sector + area_last_sector) / 2))
run "$KESTROW" recover "$disc" --mapfile "$work/area.map" --all -o "$work/out-area"
expect_failure_text "Error: Couldn't read CD... CD might have damages." "recover with a volume area sector bad"

# 3. Bad sectors in the groups, at several places: the job stops at the
# first file that needs one, with the message, and keeps the files before it.
groups=$(sed -n 's/.* in \([0-9]*\) groups from LBA.*/\1/p' "$work/mkdisc.out")
first_group=$(sed -n 's/.* groups from LBA \([0-9]*\);.*/\1/p' "$work/mkdisc.out")
[ "${groups:-0}" -ge 3 ] || fail "the disc should have at least three groups: $(cat "$work/mkdisc.out")"
for bad in $((first_group + 1)) $((first_group + 248 + 100)) $((first_group + 248 + 247)); do
  write_mapfile "$work/group.map" "$RAW_SECTOR" "$sectors" "$bad"
  run "$KESTROW" recover "$disc" --mapfile "$work/group.map" --all -o "$work/out-$bad"
  expect_status 1 "recover with group sector $bad bad"
  grep -qxF "$CANT_READ" "$work/err" || fail "group sector $bad: no '$CANT_READ' in: $(cat "$work/err")"
  grep -q "^kestrow: a sector holding .* could not be read" "$work/err" ||
    fail "group sector $bad: the failing file is not named: $(cat "$work/err")"
  saved=$(check_saved "$work/out-$bad")
  grep -qx "Recovered $saved of 5 file(s): $saved whole, 0 damaged, 0 lost, $((5 - saved)) not written" "$work/out" ||
    fail "group sector $bad: $saved files on disk, but: $(cat "$work/out")"
  [ "$saved" -lt 5 ] || fail "group sector $bad: every file was saved over a bad sector"
done

# 4. A file where a folder must be created: the files of that folder are
# reported, the others saved, and the file in the way is left alone.
mkdir -p "$work/out-blocked/$label"
echo "in the way" > "$work/out-blocked/$label/Pictures"
run "$KESTROW" recover "$disc" --all -o "$work/out-blocked"
expect_status 1 "recover with a file where a folder must be"
for name in big huge; do
  grep -qxF "Not written: $label:Pictures:$name (Not a directory)" "$work/err" ||
    fail "blocked folder: $name not reported with its reason: $(cat "$work/err")"
done
[ "$(check_saved "$work/out-blocked")" = 3 ] || fail "blocked folder: the other three files were not all saved"
[ "$(cat "$work/out-blocked/$label/Pictures")" = "in the way" ] || fail "the file in the way was changed"

# 5. A destination that fills up: a file size limit makes writes past 200 KiB
# fail as on a full disk (EFBIG instead of ENOSPC; the program ignores
# SIGXFSZ, which would end it with the file half written). The big files are
# reported and leave no partial file, no temporary file either, and the
# earlier copy of `huge` stays as it was; the small ones are saved. What an
# earlier run cut short left (a regular file of a temporary name) is removed;
# a link and a folder of that name are not.
mkdir -p "$work/out-full/$label/Pictures"
echo "earlier copy" > "$work/out-full/$label/Pictures/huge"
echo "left by a run cut short" > "$work/out-full/$label/Pictures/.kestrow-partial-0000abcd"
ln -s huge "$work/out-full/$label/Pictures/.kestrow-partial-0000abce"
mkdir "$work/out-full/$label/.kestrow-partial-0000abcf"
set +e
(ulimit -f 200; exec "$KESTROW" recover "$disc" --all -o "$work/out-full") > "$work/out" 2> "$work/err"
status=$?
set -e
expect_status 1 "recover into a full destination"
grep -qxF "Not written: $label:Pictures:huge (File too large)" "$work/err" ||
  fail "full destination: huge not reported with its reason: $(cat "$work/err")"
[ "$(cat "$work/out-full/$label/Pictures/huge")" = "earlier copy" ] ||
  fail "full destination: the earlier copy of huge was replaced by a partial file"
rm "$work/out-full/$label/Pictures/huge"
[ "$(check_saved "$work/out-full")" = 3 ] || fail "full destination: the files that fit were not all saved"
[ -L "$work/out-full/$label/Pictures/.kestrow-partial-0000abce" ] &&
  [ -d "$work/out-full/$label/.kestrow-partial-0000abcf" ] ||
  fail "full destination: a link or folder of a temporary name was removed"
leftovers=$(find "$work/out-full" -type f -name '.kestrow-partial-*')
[ -z "$leftovers" ] || fail "full destination: temporary files left: $leftovers"

# 6. A destination nothing can be written into: refused or reported, never a success.
if [ "$(id -u)" != 0 ]; then
  mkdir -p "$work/readonly"
  chmod 555 "$work/readonly"
  unwritable="$work/readonly/out"
elif ! mkdir /sys/kestrow-probe 2>/dev/null; then
  unwritable=/sys/kestrow-out  # even root cannot create anything in sysfs
else
  unwritable=""
fi
if [ -n "$unwritable" ]; then
  run "$KESTROW" recover "$disc" --all -o "$unwritable"
  expect_status 1 "recover into a read-only destination"
  grep -qxF "Error: the destination folder cannot be used." "$work/err" ||
    fail "read-only destination: no clear message: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "read-only destination: something was reported as recovered: $(cat "$work/out")"
fi
pass
