#!/usr/bin/env bash
# The Windows build against the Linux build on the same disc images:
# kestrow.exe runs under Wine and must give the same list, the same list
# export bytes, the same dump and the same recovered files (data and
# companions) as kestrow. Names that Windows refuses come out under the
# Windows names, inside the destination, with hcopy's bytes.
#
# Without a Windows build (scripts/build-windows.sh) or Wine the test is
# skipped, unless KESTROW_WINDOWS_REQUIRED=1 (scripts/test.sh without
# --quick), which makes that a failure.
source "$(dirname "$0")/lib.sh"

exe="${KESTROW_WINDOWS_BUILD:-$SOURCE_DIR/build-windows}/src/cli/kestrow.exe"
unavailable() {
  [ "${KESTROW_WINDOWS_REQUIRED:-0}" != 1 ] || fail "$1"
  echo "SKIP [$test_name]: $1 (scripts/build-windows.sh builds it; scripts/test.sh without --quick always does)"
  exit 77
}
[ -f "$exe" ] || unavailable "there is no Windows build at $exe"
command -v wine >/dev/null || unavailable "wine is not installed (KESTROW_WINDOWS=ON scripts/setup.sh)"
# shellcheck source=../../scripts/wine-env.sh
source "$SOURCE_DIR/scripts/wine-env.sh"

# on_windows ARGS...: kestrow.exe under Wine, captured like `run`; the CR of
# the CR LF line ends of its standard error is taken off for the messages'
# checks of lib.sh.
on_windows() {
  run run_wine "$exe" "$@"
  sed -i 's/\r$//' "$work/err"
}

# same_text WHAT: the Linux run's stdout (in linux.out) and the Windows run's
# (in $work/out, CR LF lines as Windows text output has them) are the same.
same_text() {
  [ "$(grep -c $'\r$' "$work/out" || true)" = "$(wc -l < "$work/out")" ] ||
    fail "$1: the Windows output lines do not all end with CR LF"
  tr -d '\r' < "$work/out" > "$work/windows.out"
  cmp -s "$work/linux.out" "$work/windows.out" ||
    fail "$1: Linux and Windows differ: $(diff "$work/linux.out" "$work/windows.out" | head -n 6)"
}

# compare_commands DISC: check, size, list and its export, and a dump give
# the same results from both builds.
compare_commands() {
  local disc=$1 windisc
  windisc=$(winpath "$disc")
  for command in check size list; do
    "$KESTROW" "$command" "$disc" > "$work/linux.out"
    on_windows "$command" "$windisc"
    expect_status 0 "kestrow.exe $command"
    same_text "$command $(basename "$disc")"
  done
  "$KESTROW" list "$disc" -o "$work/linux-export.txt"
  on_windows list "$windisc" -o "$(winpath "$work/windows-export.txt")"
  expect_status 0 "kestrow.exe list -o"
  cmp -s "$work/linux-export.txt" "$work/windows-export.txt" || fail "the list exports of $(basename "$disc") differ"
  "$KESTROW" dump "$disc" -o "$work/linux-dump.bin" --start 2 --end 40 > /dev/null
  on_windows dump "$windisc" -o "$(winpath "$work/windows-dump.bin")" --start 2 --end 40
  expect_status 0 "kestrow.exe dump"
  cmp -s "$work/linux-dump.bin" "$work/windows-dump.bin" || fail "the dumps of $(basename "$disc") differ"
}

# checksums FOLDER: one "checksum size" line per file under FOLDER, sorted.
checksums() {
  find "$1" -type f -exec cksum {} + | cut -d ' ' -f 1,2 | sort
}

# --- The demo disc, from a path and into a folder that are not ASCII -------
demo="$work/Disque d'été.bin"
"$SOURCE_DIR/scripts/make-demo-disc.sh" "$MKDISC" "$demo" > /dev/null
compare_commands "$demo"
"$KESTROW" recover "$demo" -o "$work/linux-demo" --all > /dev/null
on_windows recover "$(winpath "$demo")" -o "$(winpath "$work/Récupéré")" --all
expect_status 0 "kestrow.exe recover --all (demo)"
grep -q "^Recovered 6 of 6 file(s) (1959 bytes) into Z:" "$work/out" || fail "demo report: $(cat "$work/out")"
diff -r "$work/linux-demo" "$work/Récupéré" > "$work/diff" || fail "the recovered demo files differ: $(head -n 5 "$work/diff")"

# The options: AppleDouble companions with resource forks and dates, Mac
# Roman names, a salvage report; a second run replaces the first one's files,
# hidden companions included.
"$KESTROW" recover "$demo" -o "$work/linux-forks" --all --resource-forks --mac-roman > /dev/null
for round in 1 2; do
  on_windows recover "$(winpath "$demo")" -o "$(winpath "$work/windows-forks")" --all --resource-forks --mac-roman \
    --keep-going --report "$(winpath "$work/report.json")"
  expect_status 0 "kestrow.exe recover --resource-forks --mac-roman (run $round)"
done
diff -r "$work/linux-forks" "$work/windows-forks" > "$work/diff" || fail "the companions differ: $(head -n 5 "$work/diff")"
[ "$(cd "$work/linux-forks" && find . -type f -printf '%p %T@\n' | sort)" = \
  "$(cd "$work/windows-forks" && find . -type f -printf '%p %T@\n' | sort)" ] || fail "the files' dates differ"
[ "$(jq -r '[.files[].status] | unique | join(",")' "$work/report.json")" = whole ] || fail "report: $(cat "$work/report.json")"

# The disc's end gone (the trailer unreadable): both builds find the groups
# by search and list and recover the files from the packed copy.
write_mapfile "$work/rim.map" "$RAW_SECTOR" "$(sector_count "$demo")" "$(($(sector_count "$demo") - 1))"
"$KESTROW" list "$demo" --mapfile "$work/rim.map" --keep-going > "$work/linux.out" 2> /dev/null
on_windows list "$(winpath "$demo")" --mapfile "$(winpath "$work/rim.map")" --keep-going
expect_status 0 "kestrow.exe list --keep-going (trailer unreadable)"
same_text "list --keep-going, trailer unreadable"
on_windows recover "$(winpath "$demo")" --mapfile "$(winpath "$work/rim.map")" --keep-going --all \
  -o "$(winpath "$work/windows-rim")"
expect_status 0 "kestrow.exe recover --keep-going (trailer unreadable)"
diff -r "$work/linux-demo" "$work/windows-rim" > "$work/diff" || fail "the files from the packed copy differ: $(head -n 5 "$work/diff")"

# --- Names Windows refuses, Windows-1252 names, a long path, a big file ----
volume="$work/names.hfs"
make_volume "$volume" "Noms"
head -c 600000 /dev/urandom > "$work/big"
deep=":Deep"
declare -A expected=(
  [$':caf\xe9 \x80']="Noms/café €"
  [":CON"]="Noms/CON-"
  [":aux.txt"]="Noms/aux-.txt"
  [":trailing."]="Noms/trailing-"
  [":say \"hi\""]="Noms/say -hi-"
  [$':tab\tname']="Noms/tab-name"
  [":Com1:inside"]="Noms/Com1-/inside"
  [":big"]="Noms/big"
)
hmkdir ":Com1" "$deep"
windows_deep="Noms/Deep"
for level in 1 2 3 4 5 6 7 8 9 10; do
  folder=$(printf "%031d" "$level")
  deep="$deep:$folder"
  windows_deep="$windows_deep/$folder"
  hmkdir "$deep"
done
expected["$deep:bottom"]="$windows_deep/bottom"
[ ${#windows_deep} -gt 260 ] || fail "the deep folder chain should pass 260 characters"
n=0
for mac in "${!expected[@]}"; do
  n=$((n + 1))
  if [ "$mac" = ":big" ]; then cp "$work/big" "$work/in"; else printf 'file %s\n' "$n" > "$work/in"; fi
  put_file "$work/in" "$mac" TEXT ttxt
  hcopy -r "$mac" "$work/hcopy-$n"
  echo "$mac" > "$work/hcopy-$n.name"
done
humount >/dev/null
names="$work/names.bin"
pack "$volume" "$names" --blocks-per-group 4
compare_commands "$names"

"$KESTROW" recover "$names" -o "$work/linux-names" --all > /dev/null
mkdir "$work/beside"
on_windows recover "$(winpath "$names")" -o "$(winpath "$work/beside/dest")" --all
expect_status 0 "kestrow.exe recover --all (names)"
[ "$(ls -A "$work/beside")" = "dest" ] || fail "something was written beside the destination: $(ls -A "$work/beside")"
: > "$work/expected-files"
n=0
for mac in "${!expected[@]}"; do
  n=$((n + 1))
  got="$work/beside/dest/${expected[$mac]}"
  [ -f "$got" ] || fail "$mac was not written as ${expected[$mac]}"
  cmp -s "$got" "$work/hcopy-$(grep -lxF -- "$mac" "$work"/hcopy-*.name | sed 's/.*hcopy-\([0-9]*\)\.name/\1/')" ||
    fail "$mac differs from hcopy -r"
  printf '%s\n%s\n' "${expected[$mac]}" "$(dirname "${expected[$mac]}")/._$(basename "${expected[$mac]}")" >> "$work/expected-files"
done
(cd "$work/beside/dest" && find . -type f | sed 's#^\./##') > "$work/windows-files"
compare_sorted "$work/expected-files" "$work/windows-files" "files written by kestrow.exe"
[ "$(checksums "$work/linux-names")" = "$(checksums "$work/beside/dest")" ] ||
  fail "Linux and Windows recovered different bytes"

# --- Drive letters: a letter that is no CD drive is refused, not read ------
on_windows size C:
expect_failure_text "No valid CD found in the drive..." "kestrow.exe size C:"
grep -q "not a CD-ROM drive" "$work/err" || fail "size C: should say that C: is no CD-ROM drive: $(cat "$work/err")"
on_windows drives
expect_status 0 "kestrow.exe drives"

pass
