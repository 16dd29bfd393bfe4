#!/usr/bin/env bash
# kestrow recover --all against hfsutils: every file's data fork must come back
# byte for byte as `hcopy -r` extracts it from the unpacked volume, with an
# AppleDouble companion holding its type and creator.
set -euo pipefail
: "${KESTROW:?}" "${MKDISC:?}" "${SOURCE_DIR:?}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"   # hfsutils keeps its current volume here
mkdir -p "$HOME"

fail() { echo "FAIL: $*" >&2; exit 1; }

volume="$work/volume.hfs"
"$SOURCE_DIR/scripts/make-hfs-volume.sh" "$volume" "Rescue"
hmount "$volume" >/dev/null

# Content: edge sizes around the 8 KiB block, a file over 500 KB that spans
# several small groups, text, an empty data fork, and names to be replaced.
head -c 8191 /dev/urandom > "$work/s8191"
head -c 8192 /dev/urandom > "$work/s8192"
head -c 8193 /dev/urandom > "$work/s8193"
head -c 600000 /dev/urandom > "$work/big"
: > "$work/empty"
for i in $(seq 1 400); do echo "line $i of a letter that repeats itself, as letters do"; done > "$work/text"

hmkdir ":Sizes" ":Docs" ":Docs:Deep" ":Odd?Folder"
put() { hcopy -r "$1" "$2"; hattrib -t "$3" -c "$4" "$2"; }
put "$work/s8191" ":Sizes:s8191" BINA hDmp
put "$work/s8192" ":Sizes:s8192" BINA hDmp
put "$work/s8193" ":Sizes:s8193" BINA hDmp
put "$work/big" ":Sizes:big" BINA hDmp
put "$work/empty" ":Docs:empty" TEXT ttxt
put "$work/text" ":Docs:Deep:Letter" TEXT ttxt
put "$work/text" ":Docs:a/b*c?d" TEXT ttxt
put "$work/text" ":Odd?Folder:.." TEXT ttxt
put "$work/text" ":Odd?Folder:." TEXT ttxt
put "$work/text" $':Docs:CR\rName' TEXT ttxt

# The expected bytes, from hfsutils itself.
declare -A expected=(
  [":Sizes:s8191"]="Rescue/Sizes/s8191"
  [":Sizes:s8192"]="Rescue/Sizes/s8192"
  [":Sizes:s8193"]="Rescue/Sizes/s8193"
  [":Sizes:big"]="Rescue/Sizes/big"
  [":Docs:empty"]="Rescue/Docs/empty"
  [":Docs:Deep:Letter"]="Rescue/Docs/Deep/Letter"
  [":Docs:a/b*c?d"]="Rescue/Docs/a-b-c-d"
  [":Odd?Folder:.."]="Rescue/Odd-Folder/--"
  [":Odd?Folder:."]="Rescue/Odd-Folder/-"
  [$':Docs:CR\rName']="Rescue/Docs/CR-Name"
)
mkdir -p "$work/hcopy"
n=0
for mac in "${!expected[@]}"; do
  n=$((n + 1))
  hcopy -r "$mac" "$work/hcopy/$n"
  echo "$n" > "$work/hcopy/$n.index"
done
humount >/dev/null

for options in "" "--blocks-per-group 4" "--uncompressed --volume-start-offset 3"; do
  disc="$work/disc.bin"
  # shellcheck disable=SC2086
  "$MKDISC" $options "$volume" "$disc" >/dev/null
  out="$work/out"
  rm -rf "$out"
  "$KESTROW" recover "$disc" -o "$out" --all > "$work/report" 2> "$work/errors" ||
    fail "recover ($options) failed: $(cat "$work/report" "$work/errors")"
  grep -q "^Recovered ${#expected[@]} of ${#expected[@]} file(s)" "$work/report" ||
    fail "report ($options): $(cat "$work/report")"

  n=0
  for mac in "${!expected[@]}"; do
    n=$((n + 1))
    got="$out/${expected[$mac]}"
    [ -f "$got" ] || fail "($options) $mac was not written as ${expected[$mac]}"
    cmp -s "$got" "$work/hcopy/$n" || fail "($options) $mac differs from hcopy -r"
    companion="$(dirname "$got")/._$(basename "$got")"
    [ "$(stat -c %s "$companion")" = 82 ] || fail "($options) companion of $mac is not 82 bytes"
    type=$(dd if="$companion" bs=1 skip=50 count=8 status=none)
    case "$mac" in
      :Sizes:*) [ "$type" = "BINAhDmp" ] || fail "($options) type/creator of $mac: $type" ;;
      *) [ "$type" = "TEXTttxt" ] || fail "($options) type/creator of $mac: $type" ;;
    esac
  done
  # Nothing was written outside the volume's folder.
  [ "$(ls -A "$out")" = "Rescue" ] || fail "($options) unexpected entries: $(ls -A "$out")"
done

# Patterns pick rows by their listed path; a pattern that matches nothing fails.
out="$work/some"
"$KESTROW" recover "$disc" -o "$out" 'Rescue:Sizes:*' > "$work/report"
grep -q "^Recovered 4 of 4 file(s)" "$work/report" || fail "pattern: $(cat "$work/report")"
[ ! -e "$out/Rescue/Docs" ] || fail "pattern recovered files it should not"
if "$KESTROW" recover "$disc" -o "$work/none" 'Nothing:*' 2> "$work/errors"; then
  fail "a pattern matching nothing must fail"
fi
grep -q "Please select one or more files." "$work/errors" || fail "no-match message: $(cat "$work/errors")"

# Usage: --all and patterns together, or neither, is a usage error.
set +e
"$KESTROW" recover "$disc" -o "$out" > /dev/null 2>&1; [ $? = 2 ] || fail "recover without selection must exit 2"
"$KESTROW" recover "$disc" -o "$out" --all 'x*' > /dev/null 2>&1; [ $? = 2 ] || fail "--all with patterns must exit 2"
set -e
echo "recover: all checks passed"
