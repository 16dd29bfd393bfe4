#!/usr/bin/env bash
# Fragmented forks and records that are no live files, against hfsutils. A
# volume is filled with 64 KiB files, every other one is deleted with hdel,
# and large files are copied in: each takes several of the holes, the
# largest more than three, so the extents overflow file holds the rest.
#   - every recovered data fork equals `hcopy -r`, a fragmented resource
#     fork equals the one of `hcopy -m`'s MacBinary;
#   - with the overflow file's leaf node wiped, the files that need it are
#     "incomplete" (and damaged in the report and in `scan`): the bytes of
#     their first three extents, zeros after;
#   - `list` equals `hls -R` (no deleted file, no extents record), also when
#     overflow records start in allocation blocks 256-767 (whose high byte
#     reads as a record type); `--deleted` adds the deleted files, marked.
source "$(dirname "$0")/lib.sh"

label="Frag"
volume="$work/frag.hfs"
make_volume "$volume" "$label"
mkdir "$work/fill"
for i in $(seq -w 1 520); do head -c 65536 /dev/urandom > "$work/fill/s$i"; done
hcopy -r "$work/fill"/* "$label:" 2>/dev/null || true
[ "$(hvol | sed -n 's/^Volume has \([0-9]*\) bytes free$/\1/p')" = 0 ] || fail "the filler files did not fill the volume"
mapfile -t deleted < <(hls "$label:" | awk 'NR % 2 == 1')
hdel "${deleted[@]/#/$label:}"
head -c 900000 /dev/urandom > "$work/big1"
head -c 300000 /dev/urandom > "$work/big2"
head -c 1000 /dev/urandom > "$work/data1000"
head -c 500000 /dev/urandom > "$work/rsrc500000"
hcopy -r "$work/big1" "$work/big2" "$label:"
put_two_forks "$label:Both Forks" APPL Kst2 "$work/data1000" "$work/rsrc500000"
walk_volume "$work/walk"
expected_rows "$work/walk" "$work/expected"
mkdir -p "$work/ref"
n=0
while IFS=$'\t' read -r path _; do
  n=$((n + 1))
  hcopy -r "$path" "$work/ref/$n"
  printf '%s\n' "$path" > "$work/ref/$n.path"
done < "$work/walk"
hcopy -m "$label:Both Forks" "$work/both.bin"
humount "$label" >/dev/null

# The extents leaf node of the overflow file: node bthFNode of the file that
# drXTExtRec places (its first extent holds it on these volumes).
xt_node0=$((9728 + $(be_uint "$volume" $((1024 + 134)) 2) * 512))
xt_leaf=$((xt_node0 + $(be_uint "$volume" $((xt_node0 + 24)) 4) * 512))
[ "$(be_uint "$volume" $((xt_leaf + 8)) 1)" = 255 ] || fail "no extents leaf node at volume byte $xt_leaf"

# fork_extents JSON NAME FORK: "startBlock blockCount" of every extent of a
# fork in `list --json`, empty ones left out.
fork_extents() {
  awk -v want="$2" -v wantfork="$3" '
    /^ *"name": / { name = $0; sub(/^ *"name": "/, "", name); sub(/",$/, "", name) }
    /"dataFork": [{]/ { fork = "dataFork" }
    /"resourceFork": [{]/ { fork = "resourceFork" }
    /"extents": \[/ { inextents = 1; next }
    inextents && /\]/ { inextents = 0 }
    inextents && /"startBlock"/ { start = $2 + 0 }
    inextents && /"blockCount"/ && name == want && fork == wantfork && $2 + 0 > 0 { print start, $2 + 0 }' "$1"
}

disc="$work/disc.bin"
pack "$volume" "$disc" --blocks-per-group 4
run "$KESTROW" list --json "$disc"
expect_status 0 "list --json"
cp "$work/out" "$work/list.json"
for check in "big1|dataFork|4" "big2|dataFork|2" "Both Forks|resourceFork|2"; do
  IFS='|' read -r name fork least <<< "$check"
  extents=$(fork_extents "$work/list.json" "$name" "$fork" | wc -l)
  [ "$extents" -ge "$least" ] || fail "$name: $extents extent(s) in its $fork, the test needs at least $least"
done

# Every data fork as hcopy -r gives it; the fragmented resource fork as in
# hcopy -m's MacBinary.
out="$work/rescued"
run "$KESTROW" recover "$disc" -o "$out" --all --resource-forks
expect_status 0 "recover --all --resource-forks"
for ((i = 1; i <= n; i++)); do
  rel=$(cat "$work/ref/$i.path")
  rel=${rel#"$label:"}
  cmp -s "$work/ref/$i" "$out/$label/$rel" || fail "$rel: the data fork differs from hcopy -r"
done
rlen=$(be_uint "$work/both.bin" 87 4)
companion="$out/$label/._Both Forks"
at=$(($(stat -c %s "$companion") - rlen))
cmp -s <(bytes_at "$companion" "$at" "$rlen") <(bytes_at "$work/both.bin" $((128 + 1024)) "$rlen") ||
  fail "Both Forks: the resource fork differs from hcopy -m"

# A wiped overflow leaf: the first three extents' bytes, then zeros, and
# "incomplete"; with --keep-going the rest is the lost range.
first3() { fork_extents "$work/list.json" "$1" dataFork | head -n 3 | awk '{ s += $2 * 512 } END { print s }'; }
# expect_lost REPORT NAME START END: the report says the file is damaged,
# with [START, END) its only lost range.
expect_lost() {
  tr -d ' \n' < "$1" | grep -q "\"path\":\"$label:$2\",\"status\":\"damaged\",\"size\":$4,\"lostRanges\":\[\[$3,$4\]\]" ||
    fail "$2: not damaged with [$3, $4) lost in $(basename "$1")"
}
damaged="$work/damaged.hfs"
cp "$volume" "$damaged"
dd if=/dev/zero of="$damaged" bs=512 seek=$((xt_leaf / 512)) count=1 conv=notrunc status=none
pack "$damaged" "$disc" --blocks-per-group 4
for options in "" "--keep-going --report $work/report.json"; do
  rm -rf "$out"
  # shellcheck disable=SC2086
  run "$KESTROW" recover "$disc" -o "$out" --all $options
  expect_status 1 "recover ($options) with a wiped overflow file"
  for name in big1 big2; do
    size=$(stat -c %s "$work/$name")
    head=$(first3 "$name")
    [ "$head" -lt "$size" ] || fail "$name: its first three extents hold all of it"
    cmp -s <(head -c "$head" "$work/$name"; head -c $((size - head)) /dev/zero) "$out/$label/$name" ||
      fail "$name ($options): not its first $head bytes and zeros after them"
    if [ -z "$options" ]; then
      grep -qx "Incomplete (some bytes are missing on the disc): $label:$name" "$work/err" ||
        fail "$name is not reported incomplete: $(cat "$work/err")"
    else
      expect_lost "$work/report.json" "$name" "$head" "$size"
    fi
  done
  cmp -s "$work/fill/s002" "$out/$label/s002" || fail "s002, which needs no overflow record, changed"
done
# scan names the same files and ranges, and reads every extent's groups.
run "$KESTROW" scan --json "$disc"
expect_status 1 "scan with a wiped overflow file"
for name in big1 big2; do expect_lost "$work/out" "$name" "$(first3 "$name")" "$(stat -c %s "$work/$name")"; done

# The list: as hls -R has it, with the overflow records as they are and with
# their first extents moved to blocks 512-767; --deleted adds the files
# deleted with hdel, marked.
shifted="$work/shifted.hfs"
cp "$volume" "$shifted"
for ((r = 0; r < $(be_uint "$volume" $((xt_leaf + 10)) 2); r++)); do
  record=$((xt_leaf + $(be_uint "$volume" $((xt_leaf + 510 - 2 * r)) 2)))
  printf '\002' | dd of="$shifted" bs=1 seek=$((record + 8)) conv=notrunc status=none
done
for hfs in "$volume" "$shifted"; do
  pack "$hfs" "$disc" --blocks-per-group 4
  run "$KESTROW" list "$disc"
  expect_status 0 "list ($(basename "$hfs"))"
  compare_sorted "$work/expected" "$work/out" "list of $(basename "$hfs")"
  run "$KESTROW" list --deleted "$disc"
  expect_status 0 "list --deleted"
  grep -v ' (deleted)'$'\t' "$work/out" > "$work/live" || true
  compare_sorted "$work/expected" "$work/live" "list --deleted, its live files"
  grep ' (deleted)'$'\t' "$work/out" | sed "s/^$label://; s/ (deleted)\t.*//" | sort > "$work/stale"
  [ -s "$work/stale" ] || fail "list --deleted shows no deleted file"
  comm -23 "$work/stale" <(printf '%s\n' "${deleted[@]}" | sort) > "$work/unknown"
  [ ! -s "$work/unknown" ] || fail "listed as deleted but never deleted: $(head -n 3 "$work/unknown")"
done
pass
