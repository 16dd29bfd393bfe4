#!/usr/bin/env bash
# Salvage from the command line: `recover --keep-going` and `scan` on a disc
# with a bad sector placed by a ddrescue mapfile, what is lost computed here
# from the disc's block table; discs written track-at-once, with run-out
# sectors after the trailer; the sector named when the volume area fails;
# the progress line on a terminal.
source "$(dirname "$0")/lib.sh"
command -v jq >/dev/null || fail "jq is not installed"

readonly BURNED="This disk was probably burned by Kestrow PRO."
readonly NOT_BURNED="This disk was not burned by Kestrow PRO."

label="Salvage"
volume="$work/salvage.hfs"
make_volume "$volume" "$label"
hmkdir "$label:Docs"
declare -A sizes=([big]=600000 [Docs:medium]=90000 [Docs:small]=3000 [loose]=20000)
mkdir -p "$work/src"
for name in "${!sizes[@]}"; do
  { seq 1 $((sizes[$name] / 12)); head -c $((sizes[$name] / 2)) /dev/urandom; } | head -c "${sizes[$name]}" > "$work/src/${name//:/_}"
  put_file "$work/src/${name//:/_}" "$label:$name" TEXT ttxt
done
head -c 600000 /dev/urandom > "$work/src/big"  # plain 8 KiB blocks
put_file "$work/src/big" "$label:big" BINA hDmp
humount "$label" >/dev/null
disc="$work/disc.bin"
pack "$volume" "$disc"
sectors=$(sector_count "$disc")
base=$(sed -n 's/.* groups from LBA \([0-9]*\);.*/\1/p' "$work/mkdisc.out")
read_trailer "$disc"
iso="$work/disc.iso"
bin_to_iso "$disc" "$iso"

# ---------------------------------------------------------------------------
# The block table, read here: which bytes of "big" one bad sector takes.

run "$KESTROW" list "$disc" --json
jq -e . "$work/out" > "$work/list.json" || fail "list --json is not JSON"
start_block=$(jq '.files[] | select(.name == "big") | .dataFork.extents[0].startBlock' "$work/list.json")
length=$(jq '.files[] | select(.name == "big") | .dataFork.logicalLength' "$work/list.json")
fork=$((9728 + start_block * 512))
middle=$((fork + length / 2))
area=$((volume_start * 512))
count=$(be_uint "$iso" $((area + 0xC0D)) 3)
group=-1
for ((k = 0; k + 1 < count; k++)); do
  b0=$(($(be_uint "$iso" $((area + 0xC18 + 8 * k + 1)) 3) * 512))
  b1=$(($(be_uint "$iso" $((area + 0xC18 + 8 * k + 9)) 3) * 512))
  if ((b0 <= middle && middle < b1)); then group=$k; fi
done
((group >= 0)) || fail "no group holds byte $middle"
buffer=$(((base + 248 * group + 1) * USER_SECTOR))
# The sector of the stored data of the block holding the middle of "big",
# then every block whose stored data touches that sector, as file ranges.
od -An -v -tu1 -j "$buffer" -N $((32 * 1024)) "$iso" | tr -s ' ' '\n' | grep . > "$work/table.bytes"
read -r bad expected < <(awk -v middle="$middle" -v fork="$fork" -v len="$length" -v first=$((base + 248 * group + 1)) '
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
    sector = int((stop[hit] - 1) / 2048)
    n = 0
    for (j = 0; j < m; j++) {
      if (int(beg[j] / 2048) > sector || int((stop[j] - 1) / 2048) < sector) continue
      lo = pos[j] - fork; hi = pos[j] + 8192 - fork
      if (hi <= 0 || lo >= len) continue
      if (lo < 0) lo = 0
      if (hi > len) hi = len
      if (n > 0 && lo == rhi[n]) { rhi[n] = hi; continue }  # adjacent blocks make one range
      rlo[++n] = lo; rhi[n] = hi
    }
    ranges = ""
    for (i = 1; i <= n; i++) ranges = ranges (i > 1 ? "," : "") "[" rlo[i] "," rhi[i] "]"
    print first + sector, "[" ranges "]"
  }' "$work/table.bytes")
[ -n "$bad" ] || fail "the block table gave no sector"
write_mapfile "$work/bad.map" "$RAW_SECTOR" "$sectors" "$bad"

# Keep going: every other file whole, "big" with exactly those bytes zeroed.
run "$KESTROW" recover "$disc" --mapfile "$work/bad.map" --all -o "$work/out-kept" --keep-going --report "$work/report.json"
expect_status 1 "recover --keep-going over LBA $bad"
jq -e . "$work/report.json" >/dev/null || fail "the report is not JSON: $(cat "$work/report.json")"
[ "$(jq -c '.unreadableSectors' "$work/report.json")" = "[[$bad,$bad]]" ] ||
  fail "report's sectors: $(jq -c '.unreadableSectors' "$work/report.json"), expected LBA $bad"
[ "$(jq -c '.files[] | select(.path == "Salvage:big") | .lostRanges' "$work/report.json")" = "$expected" ] ||
  fail "big lost $(jq -c '.files[] | select(.path == "Salvage:big")' "$work/report.json"), expected $expected"
[ "$(jq -r '.files[] | select(.path == "Salvage:big") | .status' "$work/report.json")" = damaged ] || fail "big is not damaged"
[ "$(jq '[.files[] | select(.status == "whole")] | length' "$work/report.json")" = 3 ] || fail "not three whole files"
grep -qx "Recovered 4 of 4 file(s): 3 whole, 1 damaged, 0 lost, 0 not written" "$work/out" ||
  fail "recover's summary with a damaged file: $(cat "$work/out")"
cp "$work/src/big" "$work/big.expected"
for range in $(jq -r '.files[] | select(.path == "Salvage:big") | .lostRanges[] | "\(.[0]):\(.[1])"' "$work/report.json"); do
  head -c $((${range#*:} - ${range%:*})) /dev/zero |
    dd of="$work/big.expected" bs=1 seek="${range%:*}" conv=notrunc status=none
done
cmp -s "$work/big.expected" "$work/out-kept/$label/big" || fail "big is not its bytes with the lost ranges zeroed"
for name in Docs:medium Docs:small loose; do
  cmp -s "$work/src/${name//:/_}" "$work/out-kept/$label/${name//://}" || fail "$name differs after --keep-going"
done
lost_text=$(jq -r '.files[] | select(.path == "Salvage:big") | [.lostRanges[] | "\(.[0])-\(.[1] - 1)"] | join(", ")' "$work/report.json")
grep -qxF "Damaged: Salvage:big (lost bytes $lost_text of $length)" "$work/err" ||
  fail "the end report does not name big's lost bytes: $(cat "$work/err")"

# The scan names the same file and ranges, exits 1, and writes nothing.
run "$KESTROW" scan "$disc" --mapfile "$work/bad.map" --json
expect_status 1 "scan --json over LBA $bad"
[ "$(jq -c '.files' "$work/out")" = "$(jq -c '[.files[] | select(.status != "whole")]' "$work/report.json")" ] ||
  fail "scan and report differ: $(cat "$work/out")"
[ "$(jq -c '.unreadableSectors' "$work/out")" = "[[$bad,$bad]]" ] || fail "scan's sectors: $(cat "$work/out")"
run "$KESTROW" scan "$disc" --mapfile "$work/bad.map"
expect_status 1 "scan over LBA $bad"
grep -qxF "Damaged: Salvage:big (lost bytes $lost_text of $length)" "$work/out" || fail "scan: $(cat "$work/out")"
grep -qxF "Unreadable sectors: $bad" "$work/out" || fail "scan: $(cat "$work/out")"
run "$KESTROW" scan "$disc"
expect_status 0 "scan of the undamaged disc"
grep -qxF "No unreadable sector." "$work/out" || fail "scan of the undamaged disc: $(cat "$work/out")"

# A report that cannot be written is no success.
run "$KESTROW" recover "$disc" --all -o "$work/out-report" --report "$work/no/such/folder/r.json"
expect_status 1 "recover with an unwritable report"

# ---------------------------------------------------------------------------
# The volume area: the sector that failed it is named.

bad_area=$(((area_first_sector + area_last_sector) / 2))
write_mapfile "$work/area.map" "$RAW_SECTOR" "$sectors" "$bad_area"
area_detail="kestrow: LBA $bad_area of the volume area (LBAs $area_first_sector to $area_last_sector) could not be read"
for command in list info; do
  run "$KESTROW" "$command" "$disc" --mapfile "$work/area.map"
  [ "$status" = 1 ] || fail "$command with LBA $bad_area bad: exit $status"
  # ... and why it could not be read.
  grep -qF -- "$area_detail: " "$work/err" || fail "$command with LBA $bad_area bad said: $(cat "$work/err")"
done

# ---------------------------------------------------------------------------
# Track-at-once: run-out sectors after the trailer. Up to 16 are searched.

run "$KESTROW" list "$disc"
cp "$work/out" "$work/plain.list"
for extra in 2:bad 16:zero 17:zero; do
  n=${extra%:*}
  tao="$work/tao-$n.bin"
  cp "$disc" "$tao"
  head -c $((n * RAW_SECTOR)) /dev/zero >> "$tao"
  map=()
  if [ "${extra#*:}" = bad ]; then
    write_mapfile "$work/tao.map" "$RAW_SECTOR" $((sectors + n)) $(seq "$sectors" $((sectors + n - 1)))
    map=(--mapfile "$work/tao.map")
  fi
  # Zeroed sectors are read as holding no data, and the end says so.
  hint="kestrow: $n sectors hold no data (all zeros); if this is a rescue image, give its mapfile with --mapfile"
  run "$KESTROW" check "$tao" "${map[@]}"
  if ((n > 16)); then
    expect_status 1 "check with $n sectors after the trailer"
    [ "$(head -n 1 "$work/err")" = "$NOT_BURNED" ] && [ "$(tail -n 1 "$work/err")" = "$hint" ] ||
      fail "check with $n sectors after the trailer: $(cat "$work/err")"
    run "$KESTROW" list "$tao" "${map[@]}"
    expect_status 1 "list with $n sectors after the trailer"
    [ "$(head -n 1 "$work/err")" = "$NOT_BURNED" ] || fail "list with $n sectors after the trailer: $(cat "$work/err")"
    continue
  fi
  if [ "${extra#*:}" = zero ]; then
    expect_status 0 "check with $n zero sectors after the trailer"
    [ "$(cat "$work/out")" = "$BURNED" ] && [ "$(cat "$work/err")" = "$hint" ] ||
      fail "check with $n zero sectors after the trailer: $(cat "$work/out" "$work/err")"
  else
    expect_success_text "$BURNED" "check with $n $extra sectors after the trailer"
  fi
  run "$KESTROW" list "$tao" "${map[@]}"
  cmp -s "$work/out" "$work/plain.list" || fail "list with $n sectors after the trailer: $(head -c 300 "$work/out")"
  run "$KESTROW" info "$tao" "${map[@]}"
  grep -q "^Trailer: *\"Trkb\" in LBA $((sectors - 1)), $n sector(s) before the last" "$work/out" ||
    fail "info with $n sectors after the trailer: $(cat "$work/out")"
  run "$KESTROW" recover "$tao" "${map[@]}" --all -o "$work/out-tao-$n"
  expect_status 0 "recover with $n sectors after the trailer"
  for name in "${!sizes[@]}" big; do
    cmp -s "$work/src/${name//:/_}" "$work/out-tao-$n/$label/${name//://}" || fail "$name differs, $n sectors after the trailer"
  done
done

# ---------------------------------------------------------------------------
# On a terminal, a progress line redrawn in place; none when stderr is a file.

if command -v script >/dev/null; then
  script -qec "'$KESTROW' scan '$disc' --mapfile '$work/bad.map' >/dev/null" /dev/null > "$work/tty" 2>&1 || true
  grep -aq $'\r.*% .* sectors .*elapsed' "$work/tty" || fail "no progress line on a terminal: $(od -c "$work/tty" | head)"
fi
run "$KESTROW" scan "$disc" --mapfile "$work/bad.map"
[ ! -s "$work/err" ] || fail "scan wrote to a standard error that is not a terminal: $(cat "$work/err")"
pass
