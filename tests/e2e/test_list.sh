#!/usr/bin/env bash
# kestrow list against hfsutils: the rows of `list -o`, of stdout and of
# --json must be the files that `hls` finds in the volume, with their paths,
# both forks' sizes, IDs, types and creators.
source "$(dirname "$0")/lib.sh"

label="Kestrow Test"
volume="$work/list.hfs"
make_volume "$volume" "$label"
v="$label:"

# Folders: four levels, spaces, a '/', an 8-bit name, a carriage return.
cafe=$(printf 'Caf\xe9')
hmkdir "${v}Docs" "${v}Docs:Letters" "${v}Docs:Letters:2024" "${v}Docs:Letters:2024:First Quarter" \
  "${v}With Spaces" "${v}Slash/Folder" "${v}$cafe" "${v}CR"$'\r'"Folder" "${v}Real" "${v}Empty Folder"

for i in $(seq 1 300); do echo "line $i of a letter"; done > "$work/text"
head -c 8193 /dev/urandom > "$work/binary"
: > "$work/empty"
head -c 1000 /dev/urandom > "$work/data1000"
head -c 300 /dev/urandom > "$work/rsrc300"
head -c 777 /dev/urandom > "$work/rsrc777"

put_file "$work/text" "${v}Read Me" TEXT ttxt
put_file "$work/text" "${v}Docs:Letter" TEXT ttxt
put_file "$work/binary" "${v}Docs:Letters:2024:First Quarter:Deep Note" BINA hDmp
put_file "$work/text" "${v}Docs:Letters:2024:Report" "pdf " CARO
put_file "$work/empty" "${v}Docs:Letters:empty" TEXT ttxt
put_file "$work/text" "${v}With Spaces:A file with  two  spaces" TEXT ttxt
put_file "$work/text" "${v}With Spaces: leading space" TEXT ttxt
put_file "$work/text" "${v}Slash/Folder:a/b" TEXT ttxt
put_file "$work/binary" "${v}Slash/Folder:ThirtyOneCharacterFileNameXXXXX" APPL Kst1
put_file "$work/text" "${v}$cafe:$(printf 'R\xe9sum\xe9')" TEXT ttxt
put_file "$work/text" "${v}$cafe:$(printf '\x8aabc \xa9 \xff')" TEXT ttxt
put_file "$work/text" "${v}$cafe:$(printf 'undefined \x81\x8d\x8f\x90\x9d')" TEXT ttxt
put_file "$work/text" "${v}CR"$'\r'"Folder:A"$'\r'"B" TEXT ttxt
put_two_forks "${v}Docs:Two Forks" APPL Kst2 "$work/data1000" "$work/rsrc300"
put_two_forks "${v}Docs:Resource Only" rsrc RSED "$work/empty" "$work/rsrc777"
# Desktop database files are left out; names that only look like them are not.
for name in "Desktop DB" "Desktop DF" "Desktop DBx" "Desktop D" "Docs:Desktop DB" "With Spaces:desktop db"; do
  put_file "$work/text" "${v}$name" BTFL DMGR
done
copy_floppy_into "${v}Real"

walk_volume "$work/walk"
expected_rows "$work/walk" "$work/expected"
hls -a -1 -N "$v" > "$work/root-names"
grep -qx "Desktop DB" "$work/root-names" || fail "hfsutils did not create Desktop DB"
[ "$(wc -l < "$work/expected")" -ge 35 ] || fail "hfsutils walk found only $(wc -l < "$work/expected") files"
humount "$label" >/dev/null

disc="$work/disc.bin"
pack "$volume" "$disc"

# The export file: CR LF rows, raw name bytes, the same set as hfsutils.
run "$KESTROW" list "$disc" -o "$work/export.txt"
expect_status 0 "list -o"
[ ! -s "$work/out" ] || fail "list -o also printed to stdout: $(head -c 200 "$work/out")"
export_rows "$work/export.txt" "$work/export-rows"
compare_sorted "$work/expected" "$work/export-rows" "list -o rows against hls"

# A few rows byte for byte, as od shows them.
expect_line() {  # raw-line-bytes what
  printf '%s\r\n' "$1" > "$work/line"
  grep -aqxF "$(cat "$work/line")" "$work/export.txt" ||
    fail "$2: no line $(od -c "$work/line" | head -n 3) in the export"
}
expect_line "$label:Docs:Letter"$'\t'"$(stat -c %s "$work/text")" "plain row"
expect_line "$label:Docs:Two Forks"$'\t'"1300" "data 1000 + resource 300"
expect_line "$label:Docs:Resource Only"$'\t'"777" "resource fork only"
expect_line "$label:Docs:Letters:empty"$'\t'"0" "empty file"
expect_line "$label:CR-Folder:A-B"$'\t'"$(stat -c %s "$work/text")" "carriage returns as '-'"
expect_line "$label:$cafe:$(printf 'R\xe9sum\xe9')"$'\t'"$(stat -c %s "$work/text")" "8-bit name bytes"
expect_line "$label:Real:Desktop"$'\t'"14174" "the floppy's resource fork"
od -An -c "$work/export.txt" | tr -d '\n' | tr -s ' ' | grep -q '\\t 1 3 0 0 \\r \\n' || fail "od does not show TAB 1300 CR LF"

# Desktop DB / DF: gone wherever they are; look-alikes stay.
for name in "Desktop DB" "Desktop DF"; do
  ! grep -aq ":$name"$'\t' "$work/export-rows" || fail "'$name' must not be listed"
done
for name in "Desktop DBx" "Desktop D" "With Spaces:desktop db"; do
  grep -aq "^$label:$name"$'\t' "$work/export-rows" || fail "'$name' must be listed"
done

# stdout: the export's rows in the same order, LF line ends, names in UTF-8.
run "$KESTROW" list "$disc"
expect_status 0 "list to stdout"
[ ! -s "$work/err" ] || fail "list wrote to stderr: $(cat "$work/err")"
cp "$work/out" "$work/stdout-rows"
cp1252_to_utf8 < "$work/export-rows" > "$work/expected-stdout"
cmp -s "$work/expected-stdout" "$work/out" ||
  fail "stdout rows differ from the export rows in UTF-8: $(diff "$work/expected-stdout" "$work/out" | head -n 6 | od -c | head -n 12)"
grep -aq "$(printf 'R\xc3\xa9sum\xc3\xa9')" "$work/out" || fail "0xE9 is not shown as UTF-8 e-acute"
grep -aq "$(printf '\xc5\xa0abc \xc2\xa9 \xc3\xbf')" "$work/out" || fail "0x8A 0xA9 0xFF are not shown as UTF-8"
grep -aq "$(printf 'undefined \xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d')" "$work/out" ||
  fail "the code page's undefined bytes are not shown as U+0081..U+009D"

# --json: well formed enough, counted right, and every file's ID, type,
# creator and fork lengths as hls reports them.
run "$KESTROW" list "$disc" --json
expect_status 0 "list --json"
cp "$work/out" "$work/list.json"
rows=$(wc -l < "$work/export-rows")
[ "$(head -n 1 "$work/list.json")" = "{" ] || fail "JSON does not start with {"
[ "$(tail -n 1 "$work/list.json")" = "}" ] || fail "JSON does not end with }"
[ "$(tr -cd '{' < "$work/list.json" | wc -c)" = "$(tr -cd '}' < "$work/list.json" | wc -c)" ] || fail "JSON braces do not pair"
[ "$(tr -cd '[' < "$work/list.json" | wc -c)" = "$(tr -cd ']' < "$work/list.json" | wc -c)" ] || fail "JSON brackets do not pair"
grep -q "^ *\"source\": \"$disc\",\$" "$work/list.json" || fail "JSON source is not $disc"
count=$(sed -n 's/^ *"fileCount": \([0-9]*\),$/\1/p' "$work/list.json")
[ "$count" = "$rows" ] || fail "JSON fileCount '$count', the export has $rows rows"
sed -n 's/^ *"row": \([0-9]*\),$/\1/p' "$work/list.json" > "$work/json-rows"
seq 0 $((rows - 1)) | cmp -s - "$work/json-rows" || fail "JSON rows are not numbered 0..$((rows - 1)) in order"
for key in displayPath path name type creator fileId parentId approxSize dataFork resourceFork \
  startBlock logicalLength physicalLength extents blockCount created modified clumpSize; do
  n=$(grep -c "^ *\"$key\": " "$work/list.json" || true)
  [ "$n" -ge "$rows" ] || fail "JSON has $n \"$key\" keys for $rows rows"
done
json_tuples "$work/list.json" "$work/json-tuples"
cut -f 3- "$work/walk" > "$work/walk-tuples"
compare_sorted "$work/walk-tuples" "$work/json-tuples" "JSON fileId/type/creator/fork lengths against hls -i -l"
# displayPath follows the rows of stdout, in order (none of these names
# needs a JSON escape).
sed -n 's/^ *"displayPath": "\(.*\)",$/\1/p' "$work/list.json" > "$work/json-paths"
cut -f 1 "$work/stdout-rows" > "$work/stdout-paths"
cmp -s "$work/stdout-paths" "$work/json-paths" || fail "JSON displayPath differs from the stdout rows: $(diff "$work/stdout-paths" "$work/json-paths" | od -c | head -n 12)"
# approxSize follows the sizes of the rows.
sed -n 's/^ *"approxSize": \([0-9]*\),$/\1/p' "$work/list.json" > "$work/json-sizes"
cut -f 2 "$work/stdout-rows" | cmp -s - "$work/json-sizes" || fail "JSON approxSize differs from the row sizes"

pass
