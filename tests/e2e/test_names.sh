#!/usr/bin/env bash
# Names with every byte 0x80-0xFF, read as Windows-1252 (the default) and as
# Mac OS Roman (--mac-roman): what `list`, `list --json` and `info` show and
# the names `recover` writes must be the published tables' characters in
# UTF-8 (tests/fixtures/codepages, made by Python's codecs), while the list
# export keeps the disc's own bytes under both.
source "$(dirname "$0")/lib.sh"

declare -A windows macroman
while IFS=$'\t' read -r byte win mac; do
  case "$byte" in "#"*) continue ;; esac
  # The five bytes Windows-1252 leaves undefined show as C1 controls.
  [ "$win" != undefined ] || win="c2$byte"
  windows[$byte]=$win
  macroman[$byte]=$mac
done < "$SOURCE_DIR/tests/fixtures/codepages/codepages.tsv"
[ "${#macroman[@]}" = 128 ] || fail "the code page table has ${#macroman[@]} rows"

# from_hex HEX: the bytes.  as_utf8 TABLE RAW: RAW's bytes through a table.
from_hex() { printf '%b' "$(sed 's/../\\x&/g' <<< "$1")"; }
as_utf8() {
  local -n table=$1
  local hex out="" i
  hex=$(printf '%s' "$2" | od -An -v -tx1 | tr -d ' \n')
  for ((i = 0; i < ${#hex}; i += 2)); do
    local b=${hex:i:2}
    if [ -n "${table[$b]+x}" ]; then out+=${table[$b]}; else out+=$b; fi
  done
  from_hex "$out"
}

label=$(printf 'Caf\x8e')   # Mac OS Roman e-acute
folder=$(printf 'Dossier \xe9\xf0\x81')
volume="$work/names.hfs"
make_volume "$volume" "$label"
hmkdir "$label:$folder"
: > "$work/raw-paths"
for ((k = 0; k < 8; k++)); do
  hex=""
  for ((b = 0x80 + 16 * k; b < 0x90 + 16 * k; b++)); do hex+=$(printf '%02x' "$b"); done
  name="n$k $(from_hex "$hex")"
  printf 'file %d\n' "$k" > "$work/content"
  put_file "$work/content" "$label:$folder:$name" TEXT ttxt
  printf '%s\n' "$label:$folder:$name" >> "$work/raw-paths"
done
humount "$label" >/dev/null
disc="$work/disc.bin"
pack "$volume" "$disc"

# expected TABLE OUT: the display paths and output paths under a table.
expected() {
  : > "$2.display"
  : > "$2.files"
  local raw
  while IFS= read -r raw; do
    as_utf8 "$1" "$raw" >> "$2.display"
    echo >> "$2.display"
    as_utf8 "$1" "${raw//://}" >> "$2.files"
    echo >> "$2.files"
  done < "$work/raw-paths"
}
expected windows "$work/win"
expected macroman "$work/mac"

for page in win mac; do
  flag=()
  [ "$page" = win ] || flag=(--mac-roman)
  run "$KESTROW" list "$disc" "${flag[@]}"
  expect_status 0 "list ${flag[*]}"
  cut -f 1 "$work/out" > "$work/listed"
  compare_sorted "$work/$page.display" "$work/listed" "list ${flag[*]} against the published table"

  run "$KESTROW" list "$disc" --json "${flag[@]}"
  sed -n 's/^ *"displayPath": "\(.*\)",$/\1/p' "$work/out" > "$work/listed"
  compare_sorted "$work/$page.display" "$work/listed" "list --json ${flag[*]} against the published table"

  run "$KESTROW" list "$disc" -o "$work/export-$page.txt" "${flag[@]}"
  expect_status 0 "list -o ${flag[*]}"
  export_rows "$work/export-$page.txt" "$work/export-rows"
  cut -f 1 "$work/export-rows" > "$work/listed"
  compare_sorted "$work/raw-paths" "$work/listed" "list -o ${flag[*]} keeps the disc's bytes"

  run "$KESTROW" recover "$disc" -o "$work/rescued-$page" --all "${flag[@]}"
  expect_status 0 "recover ${flag[*]}"
  (cd "$work/rescued-$page" && find . -type f ! -name '._*' | sed 's|^\./||') > "$work/written"
  compare_sorted "$work/$page.files" "$work/written" "names written by recover ${flag[*]}"
  while IFS= read -r file; do
    [ -f "$work/rescued-$page/$(dirname "$file")/._$(basename "$file")" ] || fail "no companion for $file"
  done < "$work/$page.files"
done
cmp -s "$work/export-win.txt" "$work/export-mac.txt" || fail "the export depends on --mac-roman"

# Patterns are matched against the names as shown.
run "$KESTROW" recover "$disc" -o "$work/picked" --mac-roman "$(as_utf8 macroman "$label:$folder"):n3 *"
expect_status 0 "recover --mac-roman with a pattern"
grep -q "^Recovered 1 of 1 file(s)" "$work/out" || fail "pattern under --mac-roman: $(cat "$work/out")"

run "$KESTROW" info "$disc" --mac-roman
grep -qx "Volume name:        $(printf 'Caf\xc3\xa9')" "$work/out" || fail "info --mac-roman: $(cat "$work/out")"
run "$KESTROW" info "$disc"
grep -qx "Volume name:        $(printf 'Caf\xc5\xbd')" "$work/out" || fail "info: $(cat "$work/out")"

pass
