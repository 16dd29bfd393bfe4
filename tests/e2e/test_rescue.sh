#!/usr/bin/env bash
# Rescue imaging: `kestrow dump --rescue-map` over an image damaged through
# a mapfile (ddrescue's passes, a map GNU ddrescuelog reads the same way, a
# second source that completes the image, runs cut short that resume);
# outputs that name the source refused; raw sectors damaged in an image
# mended from their parity, or refused.
source "$(dirname "$0")/lib.sh"
command -v ddrescuelog >/dev/null || fail "ddrescuelog (GNU ddrescue, Debian package gddrescue) is not installed"

readonly REFUSED="Error: the output would overwrite the disc's own files."

label="Rescue"
volume="$work/rescue.hfs"
make_volume "$volume" "$label"
seq 1 30000 > "$work/numbers"
head -c 400000 /dev/urandom > "$work/noise"
put_file "$work/numbers" "$label:Numbers" TEXT ttxt
put_file "$work/noise" "$label:Noise" BINA hDmp
humount "$label" >/dev/null
disc="$work/disc.bin"
pack "$volume" "$disc"
sectors=$(sector_count "$disc")

# image_with_holes OUT BAD...: the disc with the listed sectors zeroed, as a
# rescue that could not read them leaves its image.
image_with_holes() {
  local out=$1 s
  shift
  cp "$disc" "$out"
  for s in "$@"; do dd if=/dev/zero of="$out" bs="$RAW_SECTOR" seek="$s" count=1 conv=notrunc status=none; done
}

# bad_sectors MAP: the sectors the map marks bad, as ddrescuelog lists them.
bad_sectors() {
  ddrescuelog -b "$RAW_SECTOR" -l- "$1" | tr '\n' ' ' | sed 's/ $//'
}

# --- ddrescue's passes over a damaged image ------------------------------------
bad=(30 31 32 33 100 $((sectors - 1)))
write_mapfile "$work/source.map" "$RAW_SECTOR" "$sectors" "${bad[@]}"
image="$work/image.bin"
map="$work/image.map"
run "$KESTROW" dump "$disc" --mapfile "$work/source.map" -o "$image" --rescue-map "$map"
expect_status 1 "first rescue run"
[ "$(head -n 1 "$work/err")" = "Error: Couldn't read CD... CD might have damages." ] || fail "first run: $(cat "$work/err")"
grep -q ", 0 repaired, ${#bad[@]} unreadable$" "$work/out" || fail "first run's end line: $(cat "$work/out")"
grep -qx "kestrow: ${#bad[@]} sector(s) of the range are still bad; $map records them for another run" "$work/err" ||
  fail "first run's detail: $(cat "$work/err")"
[ "$(bad_sectors "$map")" = "${bad[*]}" ] || fail "ddrescuelog lists bad sectors $(bad_sectors "$map"), not ${bad[*]}"
[ "$(ddrescuelog -b "$RAW_SECTOR" -l+ "$map" | wc -l)" = $((sectors - ${#bad[@]})) ] ||
  fail "ddrescuelog counts $(ddrescuelog -b "$RAW_SECTOR" -l+ "$map" | wc -l) rescued sectors of $((sectors - ${#bad[@]}))"
ddrescuelog -t "$map" > "$work/status"
grep -Eq "^ *non-tried: +0 B" "$work/status" || fail "ddrescuelog sees non-tried areas: $(cat "$work/status")"
grep -Eq "^ *bad-sector: .* in +3 area\(s\)" "$work/status" || fail "ddrescuelog's bad areas: $(cat "$work/status")"
image_with_holes "$work/expected.bin" "${bad[@]}"
cmp -s "$image" "$work/expected.bin" || fail "the image's finished sectors differ from the source's, or its holes are not empty"

# The image reads as the damaged source at once.
for command in size check list; do
  run "$KESTROW" "$command" "$disc" --mapfile "$work/source.map"
  cp "$work/out" "$work/source.out"
  cp "$work/err" "$work/source.err"
  source_status=$status
  run "$KESTROW" "$command" "$image" --mapfile "$map"
  [ "$status" = "$source_status" ] && cmp -s "$work/out" "$work/source.out" && cmp -s "$work/err" "$work/source.err" ||
    fail "$command answers differently for the rescued image: $(cat "$work/out" "$work/err")"
done

# A second source with fewer bad sectors: only the missing sectors are read,
# one per command.
fewer=(31 100)
write_mapfile "$work/fewer.map" "$RAW_SECTOR" "$sectors" "${fewer[@]}"
run "$KESTROW" dump "$disc" --mapfile "$work/fewer.map" -o "$image" --rescue-map "$map"
expect_status 1 "second rescue run"
grep -q "^read $((${#bad[@]} - ${#fewer[@]})) sectors in ${#bad[@]} READ CD commands, .*, ${#fewer[@]} unreadable$" "$work/out" ||
  fail "second run's end line: $(cat "$work/out")"
[ "$(bad_sectors "$map")" = "${fewer[*]}" ] || fail "after the second run ddrescuelog lists $(bad_sectors "$map")"
image_with_holes "$work/expected.bin" "${fewer[@]}"
cmp -s "$image" "$work/expected.bin" || fail "the second run's image is wrong"

# The undamaged disc completes it.
run "$KESTROW" dump "$disc" -o "$image" --rescue-map "$map"
expect_status 0 "third rescue run"
[ "$(head -n 1 "$work/out")" = "Completed!" ] || fail "third run said: $(cat "$work/out")"
cmp -s "$image" "$disc" || fail "the completed image differs from the undamaged disc"
ddrescuelog -D "$map" || fail "ddrescuelog does not take the rescue for finished"

# --- Runs cut short resume to the same image --------------------------------------
# A write that fails half-way (the file size limit; SIGXFSZ ignored, so the
# write fails with EFBIG instead of killing the program).
cut="$work/cut.bin"
(
  ulimit -f $((sectors * RAW_SECTOR / 2 / 1024))
  trap '' XFSZ
  exec "$KESTROW" dump "$disc" -o "$cut" --rescue-map "$cut.map" >"$work/out" 2>"$work/err"
) && status=0 || status=$?
expect_status 1 "a rescue whose writes fail"
grep -q "File too large" "$work/err" || fail "the failed write is not named: $(cat "$work/err")"
finished=$(ddrescuelog -b "$RAW_SECTOR" -l+ "$cut.map" | wc -l)
[ "$finished" -gt 0 ] && [ "$finished" -lt "$sectors" ] || fail "$finished sectors finished before the write failed"
cmp -s -n $((finished * RAW_SECTOR)) "$cut" "$disc" || fail "sectors marked finished are not in the image"
run "$KESTROW" dump "$disc" -o "$cut" --rescue-map "$cut.map"
expect_status 0 "resuming after a failed write"
cmp -s "$cut" "$disc" || fail "resuming after a failed write gave another image"

# Ctrl-C while retrying the bad sectors (endlessly): the map is saved on the
# way out, and a run from the undamaged disc completes the image.
rm -f "$cut" "$cut.map"
run timeout --preserve-status -k 30 -s INT 3 "$KESTROW" dump "$disc" --mapfile "$work/source.map" -o "$cut" \
  --rescue-map "$cut.map" --retries 100000000
expect_status 1 "a rescue stopped by Ctrl-C"
grep -q "^kestrow: interrupted; " "$work/err" || fail "Ctrl-C's detail: $(cat "$work/err")"
grep -Eq "^0x[0-9A-F]+ +- +[0-9]+$" "$cut.map" || fail "the map does not say it was retrying: $(head -n 5 "$cut.map")"
[ "$(bad_sectors "$cut.map")" = "${bad[*]}" ] || fail "after Ctrl-C ddrescuelog lists $(bad_sectors "$cut.map")"
run "$KESTROW" dump "$disc" -o "$cut" --rescue-map "$cut.map"
expect_status 0 "resuming after Ctrl-C"
cmp -s "$cut" "$disc" || fail "resuming after Ctrl-C gave another image"

# --- Outputs that name the source are refused ----------------------------------------
printf 'FILE "disc.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' > "$work/disc.cue"
ln -s disc.bin "$work/link.bin"
ln -s source.map "$work/link.map"
ln "$disc" "$work/hard.bin"
before=$(cat "$disc" "$work/disc.cue" "$work/source.map" | md5sum)
refused() {  # what... (a kestrow command line)
  rm -f "$work/new.bin" "$work/new.map"
  run "$KESTROW" "$@"
  expect_status 2 "$*"
  [ "$(head -n 1 "$work/err")" = "$REFUSED" ] || fail "$*: $(cat "$work/err")"
  [ "$(cat "$disc" "$work/disc.cue" "$work/source.map" | md5sum)" = "$before" ] || fail "$* changed the source"
  [ ! -e "$work/new.bin" ] && [ ! -e "$work/new.map" ] || fail "$* created a file"
}
refused dump "$disc" -o "$disc"
refused dump "$disc" -o "$work/link.bin"
refused dump "$disc" -o "$work/hard.bin"
refused dump "$work/disc.cue" -o "$disc"
refused dump "$work/disc.cue" -o "$work/disc.cue"
refused dump "$disc" -o "$work/new.bin" --rescue-map "$work/link.bin"
refused dump "$disc" --mapfile "$work/source.map" -o "$work/new.bin" --rescue-map "$work/link.map"
refused dump "$disc" --mapfile "$work/source.map" -o "$work/source.map"
refused dump "$disc" -o "$work/new.bin" --rescue-map "$work/new.bin"
refused list "$disc" -o "$disc"
refused list "$work/link.bin" -o "$work/hard.bin" --json
refused list "$work/disc.cue" -o "$work/link.bin"
refused list "$disc" --mapfile "$work/source.map" -o "$work/link.map"
refused recover "$disc" -o "$work/never" --all --report "$work/link.bin"
refused recover "$disc" --mapfile "$work/source.map" -o "$work/never" --all --keep-going --report "$work/source.map"
[ ! -e "$work/never" ] || fail "a refused recovery created its folder"

# --- Damaged raw sectors are mended from their parity ---------------------------------
# A few bytes changed in five sectors of the files' groups, and the files
# still come out whole.
damaged="$work/damaged.bin"
cp "$disc" "$damaged"
for s in 20 40 60 80 120; do
  patch "$damaged" $((s * RAW_SECTOR + 100)) "XYZ"
  patch "$damaged" $((s * RAW_SECTOR + 1800)) "Q"
done
run "$KESTROW" recover "$damaged" -o "$work/mended" --all
expect_status 0 "recovering from mendable sectors"
grep -q ", 5 repaired, 0 unreadable$" "$work/out" || fail "the repairs are not reported: $(cat "$work/out")"
cmp -s "$work/mended/$label/Numbers" "$work/numbers" && cmp -s "$work/mended/$label/Noise" "$work/noise" ||
  fail "mended sectors gave other bytes"
run "$KESTROW" dump "$damaged" -o "$work/mended.bin" --start 1 --end 149
expect_status 0 "dumping mendable sectors"
cmp -s "$work/mended.bin" <(head -c $((149 * RAW_SECTOR)) "$disc") || fail "the dump does not hold the mended sectors"

# Too much damage in one sector: a failed read, never wrong bytes.
head -c 600 /dev/urandom | dd of="$damaged" bs=1 seek=$((40 * RAW_SECTOR + 300)) conv=notrunc status=none
run "$KESTROW" recover "$damaged" -o "$work/refused" --all
expect_status 1 "recovering over a sector beyond repair"
grep -q ", 1 unreadable" "$work/out" || fail "the sector beyond repair is not counted: $(cat "$work/out")"
run "$KESTROW" dump "$damaged" -o "$work/beyond.bin" --rescue-map "$work/beyond.map"
expect_status 1 "rescuing a sector beyond repair"
[ "$(bad_sectors "$work/beyond.map")" = "40" ] || fail "the map marks $(bad_sectors "$work/beyond.map") bad, not 40"

pass
