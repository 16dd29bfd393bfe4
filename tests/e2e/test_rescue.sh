#!/usr/bin/env bash
# Rescue imaging: `kestrow dump --rescue-map` over an image damaged through
# a mapfile (ddrescue's passes, a map GNU ddrescuelog reads the same way, a
# second source that completes the image, runs cut short that resume);
# outputs that name the source or one another refused (the map's temporary
# file among them); GNU ddrescue's 2048-byte image and map, and another disc
# in the drive, refused for a resume; a full disk and Ctrl-C in a plain dump;
# raw sectors damaged in an image mended from their parity, or refused.
source "$(dirname "$0")/lib.sh"
for tool in ddrescue ddrescuelog; do
  command -v "$tool" >/dev/null || fail "$tool (GNU ddrescue, Debian package gddrescue) is not installed"
done

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
# Besides the missing sectors, one per command, it reads the few finished
# sectors it compares with the disc first (each one command).
end_line="^read ([0-9]+) sectors in ([0-9]+) READ CD commands, .*, ${#fewer[@]} unreadable$"
[[ $(cat "$work/out") =~ $end_line ]] && [ $((BASH_REMATCH[2] - BASH_REMATCH[1])) = ${#fewer[@]} ] &&
  [ "${BASH_REMATCH[1]}" -gt $((${#bad[@]} - ${#fewer[@]})) ] || fail "second run's end line: $(cat "$work/out")"
[ "$(bad_sectors "$map")" = "${fewer[*]}" ] || fail "after the second run ddrescuelog lists $(bad_sectors "$map")"
image_with_holes "$work/expected.bin" "${fewer[@]}"
cmp -s "$image" "$work/expected.bin" || fail "the second run's image is wrong"

# The undamaged disc completes it.
run "$KESTROW" dump "$disc" -o "$image" --rescue-map "$map"
expect_status 0 "third rescue run"
[ "$(head -n 1 "$work/out")" = "Completed!" ] || fail "third run said: $(cat "$work/out")"
cmp -s "$image" "$disc" || fail "the completed image differs from the undamaged disc"
ddrescuelog -D "$map" || fail "ddrescuelog does not take the rescue for finished"

# --- Pass control: what an option leaves stays in the map for a later run ----------
# listed STATUS MAP: the sectors ddrescuelog lists with that status, on one line.
listed() {
  ddrescuelog -b "$RAW_SECTOR" -l"$1" "$2" | tr '\n' ' ' | sed 's/ $//'
}
ctl_bad=($(seq 40 59) 100)
write_mapfile "$work/ctl-source.map" "$RAW_SECTOR" "$sectors" "${ctl_bad[@]}"
ctl="$work/ctl.bin"
ctl_map="$work/ctl.map"
# Without skipping the READ CDs of 27-53, 54-80 and 81-107 fail whole; not
# trimmed, they stay non-trimmed.
run "$KESTROW" dump "$disc" --mapfile "$work/ctl-source.map" -o "$ctl" --rescue-map "$ctl_map" --no-trim \
  --skip-size=0
expect_status 1 "--no-trim"
[ "$(listed '*' "$ctl_map")" = "$(seq -s ' ' 27 107)" ] && [ -z "$(listed - "$ctl_map")" ] &&
  [ -z "$(listed / "$ctl_map")" ] || fail "--no-trim left: $(listed '*' "$ctl_map") / $(listed - "$ctl_map")"
# Trimmed backwards, not scraped: the edges' first bad sectors are bad, between them non-scraped.
run "$KESTROW" dump "$disc" --mapfile "$work/ctl-source.map" -o "$ctl" --rescue-map "$ctl_map" --no-scrape --reverse
expect_status 1 "--no-scrape --reverse"
[ "$(listed - "$ctl_map")" = "40 100" ] && [ "$(listed / "$ctl_map")" = "$(seq -s ' ' 41 99)" ] &&
  [ -z "$(listed '*' "$ctl_map")" ] || fail "--no-scrape left: $(listed - "$ctl_map") / $(listed / "$ctl_map")"
# A run with the defaults scrapes the rest.
run "$KESTROW" dump "$disc" --mapfile "$work/ctl-source.map" -o "$ctl" --rescue-map "$ctl_map" --timeout 600
expect_status 1 "scraping what was left"
[ "$(listed - "$ctl_map")" = "${ctl_bad[*]}" ] || fail "after scraping ddrescuelog lists $(listed - "$ctl_map")"
ddrescuelog -t "$ctl_map" > "$work/status"
grep -Eq "^ *non-trimmed: +0 B" "$work/status" && grep -Eq "non-scraped: +0 B" "$work/status" &&
  grep -Eq "^ *bad-sector: .* in +2 area\(s\)" "$work/status" || fail "ddrescuelog -t: $(cat "$work/status")"
image_with_holes "$work/expected.bin" "${ctl_bad[@]}"
cmp -s "$ctl" "$work/expected.bin" || fail "the image after the controlled passes is wrong"
# Wrong uses are refused before anything is read.
for wrong in "--skip-size=5,2" "--skip-size=x" "--timeout 0" "--no-trim --rescue-map="; do
  run "$KESTROW" dump "$disc" -o "$work/wrong.bin" ${wrong/--rescue-map=/} \
    $([ "${wrong#*rescue-map}" = "$wrong" ] && echo --rescue-map "$work/wrong.map")
  expect_status 2 "dump $wrong"
  [ ! -e "$work/wrong.bin" ] || fail "dump $wrong made the image"
done

# The status on a terminal: ddrescue's figures, the phase last.
if command -v script >/dev/null; then
  rm -f "$work/tty.bin" "$work/tty.map"
  script -qec "'$KESTROW' dump '$disc' --mapfile '$work/ctl-source.map' -o '$work/tty.bin' --rescue-map '$work/tty.map' >/dev/null" \
    /dev/null > "$work/tty" 2>&1 || true
  for field in "pct rescued:" "non-trimmed:" "bad areas:" "read errors:" "since last good read:" "remaining time:" \
    "Finished"; do
    grep -aqF "$field" "$work/tty" || fail "the status lacks '$field': $(od -c "$work/tty" | head)"
  done
fi

# --- Runs cut short resume to the same image --------------------------------------
# A write that fails half-way (the file size limit; SIGXFSZ ignored, so the
# write fails with EFBIG instead of killing the program).
cut="$work/cut.bin"
(
  ulimit -f $((sectors * RAW_SECTOR / 2 / 1024))
  exec "$KESTROW" dump "$disc" -o "$cut" --rescue-map "$cut.map" >"$work/out" 2>"$work/err"
) && status=0 || status=$?
expect_status 1 "a rescue whose writes fail"
[ "$(head -n 1 "$work/err")" = "Error: the image file could not be written." ] &&
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
[ "$(head -n 1 "$work/err")" = "Stopped." ] && grep -q "^kestrow: interrupted; " "$work/err" ||
  fail "Ctrl-C's message: $(cat "$work/err")"
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
refused list "$work/link.bin" --no-mapfile -o "$work/hard.bin" --json
refused list "$work/disc.cue" -o "$work/link.bin"
refused list "$disc" --mapfile "$work/source.map" -o "$work/link.map"
refused recover "$disc" -o "$work/never" --all --report "$work/link.bin"
refused recover "$disc" --mapfile "$work/source.map" -o "$work/never" --all --keep-going --report "$work/source.map"
# The report is written after the job: where a recovered file or companion goes, it would replace it.
refused recover "$disc" -o "$work/never" --all --report "$work/never/$label/Numbers"
refused recover "$disc" -o "$work/never/" --all --report "$work/never/./$label/._Noise"
[ ! -e "$work/never" ] || fail "a refused recovery created its folder"

# The map's temporary file MAP.tmp is an output too: it may be neither the
# source (SRC.tmp would be truncated and renamed into the map) nor the image
# (M.tmp would be renamed over the map, leaving no image).
cp "$disc" "$work/SRC.tmp"
before=$(md5sum < "$work/SRC.tmp")
run "$KESTROW" dump "$work/SRC.tmp" -o "$work/X.bin" --rescue-map "$work/SRC"
expect_status 2 "MAP.tmp naming the source"
[ "$(head -n 1 "$work/err")" = "$REFUSED" ] || fail "MAP.tmp naming the source: $(cat "$work/err")"
[ "$(md5sum < "$work/SRC.tmp")" = "$before" ] && [ ! -e "$work/SRC" ] && [ ! -e "$work/X.bin" ] ||
  fail "MAP.tmp naming the source changed or made files"
run "$KESTROW" dump "$disc" -o "$work/M.tmp" --rescue-map "$work/M"
expect_status 2 "MAP.tmp naming the image"
[ "$(head -n 1 "$work/err")" = "$REFUSED" ] && [ ! -e "$work/M.tmp" ] && [ ! -e "$work/M" ] ||
  fail "MAP.tmp naming the image: $(cat "$work/err")"
# Anything but a regular file where MAP.tmp goes is never written through.
printf 'keep me\n' > "$work/elsewhere"
ln -s elsewhere "$work/L.map.tmp"
mkfifo "$work/F.map.tmp"
for trap_map in L.map F.map; do
  run timeout 60 "$KESTROW" dump "$disc" -o "$work/$trap_map.bin" --rescue-map "$work/$trap_map"
  expect_status 2 "something in MAP.tmp's place ($trap_map)"
  [ "$(head -n 1 "$work/err")" = "Error: something that is not our file is where an output goes." ] ||
    fail "$trap_map.tmp: $(cat "$work/err")"
  [ ! -e "$work/$trap_map.bin" ] && [ ! -e "$work/$trap_map" ] || fail "$trap_map: files were made"
done
[ "$(cat "$work/elsewhere")" = "keep me" ] && [ -L "$work/L.map.tmp" ] && [ -p "$work/F.map.tmp" ] ||
  fail "MAP.tmp's link or pipe was touched"

# --- Only whole-disc raw images are resumed ------------------------------------------
# GNU ddrescue's own 2048-byte image and map of the disc: refused, and left as they were.
python3 - "$disc" "$work/user.iso" <<'PY'
import sys
raw = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(b''.join(raw[i + 16:i + 2064] for i in range(0, len(raw), 2352)))
PY
ddrescue -q -b 2048 "$work/user.iso" "$work/disc.iso" "$work/disc.iso.map" ||
  fail "GNU ddrescue could not copy the image"
iso_before=$(cat "$work/disc.iso" "$work/disc.iso.map" | md5sum)
run "$KESTROW" dump "$disc" -o "$work/disc.iso" --rescue-map "$work/disc.iso.map"
expect_status 2 "resuming GNU ddrescue's 2048-byte image"
[ "$(head -n 1 "$work/err")" = "Error: the image and its map are not a raw image of this disc." ] &&
  grep -q -- "--mapfile" "$work/err" || fail "ddrescue's image: $(cat "$work/err")"
[ "$(cat "$work/disc.iso" "$work/disc.iso.map" | md5sum)" = "$iso_before" ] ||
  fail "ddrescue's image or map was changed"
# Its image under a map of the right extent: its finished sectors are no raw sectors.
cp "$work/disc.iso" "$work/padded.bin"
truncate -s $((sectors * RAW_SECTOR)) "$work/padded.bin"
printf '0 +\n0 0x%X +\n' $((sectors * RAW_SECTOR)) > "$work/padded.map"
run "$KESTROW" dump "$disc" -o "$work/padded.bin" --rescue-map "$work/padded.map"
expect_status 2 "resuming a 2048-byte image under a raw map"
[ "$(head -n 1 "$work/err")" = "Error: the image and its map are not a raw image of this disc." ] ||
  fail "2048-byte image under a raw map: $(cat "$work/err")"

# Another disc in the drive than the one the image was read from: refused
# before a sector is written or the map is touched.
other_volume="$work/other.hfs"
make_volume "$other_volume" "Other"
head -c 600000 /dev/urandom > "$work/more-noise"
put_file "$work/more-noise" "Other:Noise" BINA hDmp
humount "Other" >/dev/null
pack "$other_volume" "$work/other.bin"
head -c $((sectors * RAW_SECTOR)) "$work/other.bin" > "$work/other-cut.bin"
[ "$(sector_count "$work/other-cut.bin")" = "$sectors" ] || fail "the other disc is too small for this test"
write_mapfile "$work/half.map" "$RAW_SECTOR" "$sectors" $(seq $((sectors / 2)) $((sectors - 1)))
run "$KESTROW" dump "$disc" --mapfile "$work/half.map" -o "$work/half.bin" --rescue-map "$work/half.rescue"
expect_status 1 "the first half of the disc"
half_before=$(cat "$work/half.bin" "$work/half.rescue" | md5sum)
run "$KESTROW" dump "$work/other-cut.bin" -o "$work/half.bin" --rescue-map "$work/half.rescue"
expect_status 1 "resuming onto another disc"
[ "$(head -n 1 "$work/err")" = "Error: the disc in the drive is not the one this image was read from." ] ||
  fail "another disc: $(cat "$work/err")"
[ "$(cat "$work/half.bin" "$work/half.rescue" | md5sum)" = "$half_before" ] || fail "resuming onto another disc wrote"
run "$KESTROW" dump "$disc" -o "$work/half.bin" --rescue-map "$work/half.rescue"
expect_status 0 "resuming the half onto its own disc"
cmp -s "$work/half.bin" "$disc" || fail "the resumed half differs from the disc"

# --- A plain dump: a full disk and Ctrl-C are said as what they are ------------------
run "$KESTROW" dump "$disc" -o /dev/full
expect_status 1 "dumping onto a full disk"
[ "$(head -n 1 "$work/err")" = "Error: the image file could not be written." ] &&
  grep -q "No space left on device" "$work/err" || fail "a full disk: $(cat "$work/err")"
# A pipe that nobody reads yet holds the dump once it is full; Ctrl-C comes
# while the dump waits there (it has the pipe open: its handler is in
# place), then the pipe is drained. The dump does not inherit our end of it.
mkfifo "$work/slow"
exec 3<>"$work/slow"
# It starts with SIGINT blocked, as some job runners start their children:
# Ctrl-C must reach it all the same.
python3 -c 'import os, signal, sys; signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT}); os.execv(sys.argv[1], sys.argv[1:])' \
  "$KESTROW" dump "$disc" -o "$work/slow" >"$work/out" 2>"$work/err" 3<&- &
dumping=$!
for _ in $(seq 300); do
  ls -l "/proc/$dumping/fd" 2>/dev/null | grep -q -- "$work/slow" && break
  sleep 0.1
done
kill -INT "$dumping"
cat <&3 >/dev/null &
draining=$!
wait "$dumping" && status=0 || status=$?
kill "$draining" 2>/dev/null || true
wait "$draining" 2>/dev/null || true
exec 3<&-
expect_status 1 "a healthy dump stopped by Ctrl-C"
[ "$(head -n 1 "$work/err")" = "Stopped." ] || fail "Ctrl-C during a dump: $(cat "$work/err")"

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
run "$KESTROW" dump "$damaged" -o "$work/mended.bin" --start 0 --end 148
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
