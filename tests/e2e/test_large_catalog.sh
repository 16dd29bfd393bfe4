#!/usr/bin/env bash
# A catalogue of several hundred files: many leaf nodes under index nodes,
# filled so that the leaf chain runs back and forth through the catalogue
# file (the nodes do not lie in key order). Every file must still be
# listed, once, as hls sees it.
source "$(dirname "$0")/lib.sh"

label="Many Files"
volume="$work/large.hfs"
make_volume "$volume" "$label"

folders=20
per_folder=20
for ((f = 1; f <= folders; f++)); do hmkdir "$label:Folder $f"; done
for size in 0 1 511 512 513 4096; do head -c "$size" /dev/urandom > "$work/size$size"; done
sizes=(0 1 511 512 513 4096)
# Files go in round-robin over the folders, and in descending name order
# within a folder, so hfsutils keeps inserting into nodes in the middle of
# the tree.
n=0
for ((i = per_folder; i >= 1; i--)); do
  for ((f = folders; f >= 1; f--)); do
    size=${sizes[$(((i + f) % ${#sizes[@]}))]}
    hcopy -r "$work/size$size" "$label:Folder $f:Document $(printf %03d "$i") of folder $f"
    n=$((n + 1))
  done
done
# A deeper branch too.
hmkdir "$label:Folder 1:Sub" "$label:Folder 1:Sub:Sub Sub"
for ((i = 1; i <= 30; i++)); do
  hcopy -r "$work/size1" "$label:Folder 1:Sub:Sub Sub:Leaf $i"
  n=$((n + 1))
done

walk_volume "$work/walk"
expected_rows "$work/walk" "$work/expected"
[ "$(wc -l < "$work/expected")" = "$n" ] || fail "hls found $(wc -l < "$work/expected") of the $n files written"
humount "$label" >/dev/null

# The catalogue B-tree, read from the volume that hfsutils wrote: its header
# node says how deep the tree is and where its leaf chain starts and ends.
mdb=1024
al_bl_st=$(be_uint "$volume" $((mdb + 28)) 2)
al_blk_siz=$(be_uint "$volume" $((mdb + 20)) 4)
ct_start=$(be_uint "$volume" $((mdb + 150)) 2)
header=$((al_bl_st * 512 + ct_start * al_blk_siz))
[ "$(be_uint "$volume" $((header + 8)) 1)" = 1 ] || fail "no catalogue header node at volume byte $header"
depth=$(be_uint "$volume" $((header + 14)) 2)
first_leaf=$(be_uint "$volume" $((header + 24)) 4)
last_leaf=$(be_uint "$volume" $((header + 28)) 4)
[ "$depth" -ge 2 ] || fail "the catalogue is only $depth level(s) deep; the test needs index nodes"
[ "$first_leaf" != "$last_leaf" ] || fail "the catalogue has a single leaf node"
# Follow the leaf chain: count the leaves and the links that point back to a
# node that lies earlier in the file than the one before it.
leaves=0
backward=0
node=$first_leaf
while [ "$node" != 0 ] && [ "$leaves" -le 1000 ]; do
  next=$(be_uint "$volume" $((header + node * 512)) 4)
  if [ "$next" != 0 ] && [ "$next" -lt "$node" ]; then backward=$((backward + 1)); fi
  node=$next
  leaves=$((leaves + 1))
done
[ "$leaves" -ge 20 ] || fail "only $leaves leaf nodes"
[ "$backward" -ge 1 ] || fail "the leaf nodes lie in key order; the test wants them out of order"

disc="$work/disc.bin"
pack "$volume" "$disc"
run "$KESTROW" list "$disc" -o "$work/export.txt"
expect_status 0 "list -o"
export_rows "$work/export.txt" "$work/rows"
compare_sorted "$work/expected" "$work/rows" "rows of a $depth-level catalogue against hls"
dups=$(cut -f 1 "$work/rows" | sort | uniq -d | head -n 3)
[ -z "$dups" ] || fail "files listed twice: $dups"

run "$KESTROW" list "$disc" --json
expect_status 0 "list --json"
count=$(sed -n 's/^ *"fileCount": \([0-9]*\),$/\1/p' "$work/out")
[ "$count" = "$n" ] || fail "JSON fileCount '$count', expected $n"
json_tuples "$work/out" "$work/json-tuples"
cut -f 3- "$work/walk" > "$work/walk-tuples"
compare_sorted "$work/walk-tuples" "$work/json-tuples" "JSON file IDs and fork lengths against hls"

pass
