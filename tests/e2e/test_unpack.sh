#!/usr/bin/env bash
# `kestrow unpack` against hfsutils: a volume with a fragmented file, a file
# with both forks, names with every byte 0x80-0xFF and a deleted file, packed
# by mkdisc (every block of the volume, the alternate master directory block
# included), comes back byte for byte; hfsutils mounts the image, lists every
# file and copies every data fork. A bad sector placed by a ddrescue mapfile:
# without --keep-going nothing is left; with it, exactly the blocks whose
# stored data the sector holds (read here from the disc's block table) are
# zeros, and the report names them. The refusals of the output.
source "$(dirname "$0")/lib.sh"
command -v jq >/dev/null || fail "jq is not installed"

label="Unpack"
volume="$work/unpack.hfs"
make_volume "$volume" "$label"
hmkdir "$label:Docs"
mkdir -p "$work/src"
# Holes for a fragmented file: every other filler deleted (one of them a
# deleted file whose bytes stay in the volume).
for i in 1 2 3 4 5 6 7 8; do
  head -c 40000 /dev/urandom > "$work/src/fill$i"
  put_file "$work/src/fill$i" "$label:fill$i" BINA hDmp
done
hdel "$label:fill1" "$label:fill3" "$label:fill5" "$label:fill7"
head -c 130000 /dev/urandom > "$work/src/frag"
put_file "$work/src/frag" "$label:Docs:frag" BINA hDmp
head -c 700000 /dev/urandom > "$work/src/big"
put_file "$work/src/big" "$label:big" BINA hDmp
head -c 3000 /dev/urandom > "$work/src/data"
head -c 50000 /dev/urandom > "$work/src/rsrc"
put_two_forks "$label:Docs:Both Forks" APPL Kst2 "$work/src/data" "$work/src/rsrc"
for ((k = 0; k < 8; k++)); do
  name="n$k "
  for ((b = 0x80 + 16 * k; b < 0x90 + 16 * k; b++)); do name+=$(printf "\\$(printf %03o "$b")"); done
  printf 'file %d\n' "$k" > "$work/src/name$k"
  put_file "$work/src/name$k" "$label:Docs:$name" TEXT ttxt
done
walk_volume "$work/walk"
humount "$label" >/dev/null
disc="$work/disc.bin"
pack "$volume" "$disc" --blocks-per-group 8

# Byte for byte, and hfsutils reads every file of the image as of the volume.
image="$work/image.hfs"
run "$KESTROW" unpack "$disc" -o "$image"
expect_status 0 "unpack"
cmp "$volume" "$image" || fail "the image differs from the hfsutils volume"
grep -q "^Wrote the volume \"$label\" ($(stat -c %s "$volume") bytes) to $image\$" "$work/out" ||
  fail "unpack's words: $(cat "$work/out")"
hmount "$image" >/dev/null || fail "hmount of the image failed"
walk_volume "$work/walk-image"
compare_sorted "$work/walk" "$work/walk-image" "hls -R of the image"
while IFS=$'\t' read -r path _; do
  hcopy -r "$path" "$work/copy" || fail "hcopy -r $path failed"
  [ -s "$work/copy" ] || fail "hcopy -r $path gave nothing"
done < "$work/walk-image"
hcopy -r "$label:Docs:frag" "$work/copy" && cmp -s "$work/copy" "$work/src/frag" || fail "frag differs in the image"
hcopy -r "$label:big" "$work/copy" && cmp -s "$work/copy" "$work/src/big" || fail "big differs in the image"
hcopy -r "$label:Docs:Both Forks" "$work/copy" && cmp -s "$work/copy" "$work/src/data" || fail "Both Forks differs"
humount "$label" >/dev/null

# ---------------------------------------------------------------------------
# A bad sector in the middle of "big": the blocks whose stored data it holds.

sectors=$(sector_count "$disc")
base=$(sed -n 's/.* groups from LBA \([0-9]*\);.*/\1/p' "$work/mkdisc.out")
run "$KESTROW" list "$disc" --json
start_block=$(jq '.files[] | select(.name == "big") | .dataFork.extents[0].startBlock' "$work/out")
middle=$((9728 + start_block * 512 + 350000))
read_trailer "$disc"
area=$((volume_start * 512))
count=$(be_uint "$disc" "$(user_to_raw_offset $((area + 0xC0D)))" 3)
group=-1
for ((k = 0; k + 1 < count; k++)); do
  b0=$(($(be_uint "$disc" "$(user_to_raw_offset $((area + 0xC18 + 8 * k + 1)))" 3) * 512))
  b1=$(($(be_uint "$disc" "$(user_to_raw_offset $((area + 0xC18 + 8 * k + 9)))" 3) * 512))
  if ((b0 <= middle && middle < b1)); then group=$k; fi
done
((group >= 0)) || fail "no group holds byte $middle"
od -An -v -tu1 -j "$(user_to_raw_offset $(((base + 248 * group + 1) * USER_SECTOR)))" -N 1024 "$disc" | tr -s ' ' '\n' | grep . > "$work/table.bytes"
# "LBA first-block-byte end-byte...": the sector of the middle block's data,
# then the volume ranges of every block whose stored data touches it.
read -r bad ranges < <(awk -v middle="$middle" -v first=$((base + 248 * group + 1)) '
  { b[NR - 1] = $1 }
  function be(at, w,   v, i) { v = 0; for (i = 0; i < w; i++) v = v * 256 + b[at + i]; return v }
  END {
    m = be(14, 2)
    for (j = 0; j < m; j++) {
      pos[j] = be(44 + 8 * j + 1, 3) * 512
      beg[j] = be(44 + 8 * j + 5, 3) - 2048
      end_ = (j + 1 < m ? be(44 + 8 * (j + 1) + 5, 3) : be(16, 4)) - 2048
      stop[j] = end_ - beg[j] >= 8192 ? beg[j] + 8192 : end_
      if (pos[j] <= middle && middle < pos[j] + 8192) hit = j
    }
    sector = int(beg[hit] / 2048)
    out = first + sector
    for (j = 0; j < m; j++) {
      if (int(beg[j] / 2048) > sector || int((stop[j] - 1) / 2048) < sector) continue
      out = out " " pos[j] ":" pos[j] + 8192
    }
    print out
  }' "$work/table.bytes")
[ -n "$ranges" ] || fail "the block table gave no block over LBA $bad"
write_mapfile "$work/bad.map" "$RAW_SECTOR" "$sectors" "$bad"

run "$KESTROW" unpack "$disc" --mapfile "$work/bad.map" -o "$image.bad"
expect_status 1 "unpack over LBA $bad"
[ ! -e "$image.bad" ] || fail "unpack without --keep-going left $image.bad"
grep -q "^kestrow: LBA $bad " "$work/err" || fail "the failure does not name LBA $bad: $(cat "$work/err")"
[ -z "$(find "$work" -maxdepth 1 -name '.kestrow-partial-*')" ] || fail "a temporary file was left"

run "$KESTROW" unpack "$disc" --mapfile "$work/bad.map" -o "$image.kept" --keep-going --report "$work/report.json"
expect_status 1 "unpack --keep-going over LBA $bad"
cp "$volume" "$work/expected.hfs"
merged=()  # the blocks' ranges, neighbours joined, as the report gives them
for range in $ranges; do
  lo=${range%:*} hi=${range#*:}
  head -c $((hi - lo)) /dev/zero | dd of="$work/expected.hfs" bs=1 seek="$lo" conv=notrunc status=none
  last=$((${#merged[@]} - 1))
  if ((last >= 0)) && [ "${merged[last]#*:}" = "$lo" ]; then merged[last]="${merged[last]%:*}:$hi"; else merged+=("$range"); fi
done
cmp -s "$work/expected.hfs" "$image.kept" || fail "the image is not the volume with the blocks over LBA $bad zeroed"
jq -e . "$work/report.json" >/dev/null || fail "the report is not JSON"
expected_json=$(printf '[%s],' "${merged[@]/:/,}")
[ "$(jq -c '.lostVolumeRanges' "$work/report.json")" = "[${expected_json%,}]" ] ||
  fail "lostVolumeRanges: $(jq -c '.lostVolumeRanges' "$work/report.json"), expected [${expected_json%,}]"
[ "$(jq -c '.unreadableSectors' "$work/report.json")" = "[[$bad,$bad]]" ] || fail "report's sectors: $(cat "$work/report.json")"
[ "$(jq -r '.files[] | select(.path == "Unpack:big") | .status' "$work/report.json")" = damaged ] ||
  fail "the report does not name big as damaged: $(cat "$work/report.json")"
grep -q "^Lost volume bytes (zeros in the image): " "$work/err" || fail "the end report names no lost bytes: $(cat "$work/err")"

# ---------------------------------------------------------------------------
# Refusals: the source, its mapfile, a link, a folder; nothing written.

for target in "$disc" "$work/bad.map"; do
  run "$KESTROW" unpack "$disc" --mapfile "$work/bad.map" -o "$target" --keep-going
  expect_status 2 "unpack -o $target"
  [ ! -s "$work/out" ] || fail "unpack -o $target printed: $(cat "$work/out")"
done
cmp -s "$disc" "$work/disc.bin" || fail "the source changed"
ln -s "$work/elsewhere" "$work/link.hfs"
run "$KESTROW" unpack "$disc" -o "$work/link.hfs"
expect_status 2 "unpack -o a symbolic link"
[ ! -e "$work/elsewhere" ] || fail "unpack wrote through a link"
mkdir "$work/folder.hfs"
run "$KESTROW" unpack "$disc" -o "$work/folder.hfs"
expect_status 2 "unpack -o a folder"
pass
