#!/usr/bin/env bash
# kestrow recover --resource-forks against hfsutils: every file's companion
# "._NAME" is a full AppleDouble file whose resource fork, type, creator,
# Finder flags, location, dates and Mac name are those of the MacBinary file
# that `hcopy -m` makes of the same file; the data file holds the data fork,
# and both files carry the Mac's modification date. The files come from the
# real 1995 floppy (one invisible file with only a resource fork, the rest
# with empty ones) and from MacBinary files made here.
source "$(dirname "$0")/lib.sh"

# HFS dates are the Mac's local time; the conversion uses this machine's
# zone. A POSIX rule needs no zone database (the US rule of 1995).
export TZ="EST5EDT,M4.1.0,M10.5.0"

label="Forks"
volume="$work/forks.hfs"
make_volume "$volume" "$label"
hmkdir "$label:Real"
copy_floppy_into "$label:Real"
head -c 1000 /dev/urandom > "$work/data1000"
head -c 70000 /dev/urandom > "$work/rsrc70000"
head -c 777 /dev/urandom > "$work/rsrc777"
: > "$work/empty"
# Flags: bundle, custom icon, invisible; dates in winter and in summer.
put_two_forks "$label:Both Forks" APPL Kst2 "$work/data1000" "$work/rsrc70000" $((0x2000 | 0x0400 | 0x4000)) \
  2871504000 2887113600
put_two_forks "$label:Resource Only" rsrc RSED "$work/empty" "$work/rsrc777" 0 2871504000 2871504001
put_file "$work/data1000" "$label:Data Only" TEXT ttxt

# The reference: hcopy -m of every file, in the order of the walk.
walk_volume "$work/walk"
mkdir -p "$work/ref"
n=0
while IFS=$'\t' read -r path _; do
  n=$((n + 1))
  hcopy -m "${path}" "$work/ref/$n.bin"
  printf '%s\n' "$path" > "$work/ref/$n.path"
done < "$work/walk"
humount "$label" >/dev/null
[ "$n" -ge 20 ] || fail "only $n files in the volume"

# ad_entry FILE ID: "offset length" of an AppleDouble entry, or nothing.
ad_entry() {
  local count i id
  count=$(be_uint "$1" 24 2)
  for ((i = 0; i < count; i++)); do
    id=$(be_uint "$1" $((26 + 12 * i)) 4)
    if [ "$id" = "$2" ]; then
      echo "$(be_uint "$1" $((30 + 12 * i)) 4) $(be_uint "$1" $((34 + 12 * i)) 4)"
      return
    fi
  done
}

# unix_time HFSDATE: the HFS date read as local time, in seconds since 1970 UTC.
unix_time() {
  date -d "$(date -u -d "@$(($1 - 2082844800))" '+%Y-%m-%d %H:%M:%S')" +%s
}

# ad_date HFSDATE: the 32-bit AppleDouble form (seconds from 2000 UTC), unsigned.
ad_date() {
  if [ "$1" = 0 ]; then echo $((0x80000000)); else echo $((($(unix_time "$1") - 946684800 + 4294967296) % 4294967296)); fi
}

for options in "" "--blocks-per-group 4"; do
  disc="$work/disc.bin"
  # shellcheck disable=SC2086
  pack "$volume" "$disc" $options
  out="$work/rescued"
  rm -rf "$out"
  run "$KESTROW" recover "$disc" -o "$out" --all --resource-forks
  expect_status 0 "recover --resource-forks ($options)"
  grep -q "^Recovered $n of $n file(s)" "$work/out" || fail "report ($options): $(cat "$work/out")"
  seen_rsrc=0 seen_empty=0
  for ((i = 1; i <= n; i++)); do
    mb="$work/ref/$i.bin"
    mac=$(cat "$work/ref/$i.path")
    rel=${mac#"$label:"}
    data="$out/$label/${rel//://}"
    companion="$(dirname "$data")/._$(basename "$data")"
    [ -f "$data" ] && [ -f "$companion" ] || fail "($options) $mac: no data file or companion"
    dlen=$(be_uint "$mb" 83 4)
    rlen=$(be_uint "$mb" 87 4)
    cmp -s "$data" <(bytes_at "$mb" 128 "$dlen") || fail "($options) $mac: data fork differs from hcopy -m"

    [ "$(bytes_at "$companion" 0 8 | od -An -tx1 | tr -d ' \n')" = 0005160700020000 ] ||
      fail "($options) $mac: not an AppleDouble version 2 file"
    [ "$(be_uint "$companion" 24 2)" = 4 ] || fail "($options) $mac: $(be_uint "$companion" 24 2) entries"
    # Resource fork (entry 2), last in the file.
    read -r at len <<< "$(ad_entry "$companion" 2)"
    [ "$len" = "$rlen" ] || fail "($options) $mac: resource fork of $len bytes, MacBinary says $rlen"
    [ $((at + len)) = "$(stat -c %s "$companion")" ] || fail "($options) $mac: the resource fork does not end the file"
    cmp -s <(bytes_at "$companion" "$at" "$len") <(bytes_at "$mb" $((128 + (dlen + 127) / 128 * 128)) "$rlen") ||
      fail "($options) $mac: resource fork differs from hcopy -m"
    if [ "$rlen" = 0 ]; then seen_empty=1; else seen_rsrc=1; fi
    # Finder info (entry 9): type, creator, flags, location.
    read -r at len <<< "$(ad_entry "$companion" 9)"
    [ "$len" = 32 ] || fail "($options) $mac: Finder info of $len bytes"
    [ "$(bytes_at "$companion" "$at" 8)" = "$(bytes_at "$mb" 65 8)" ] || fail "($options) $mac: type or creator"
    flags=$(($(be_uint "$mb" 73 1) << 8 | $(be_uint "$mb" 101 1)))
    [ "$(be_uint "$companion" $((at + 8)) 2)" = "$flags" ] || fail "($options) $mac: Finder flags, MacBinary has $flags"
    [ "$(be_uint "$companion" $((at + 10)) 4)" = "$(be_uint "$mb" 75 4)" ] || fail "($options) $mac: location"
    # Dates (entry 8): creation and modification.
    read -r at len <<< "$(ad_entry "$companion" 8)"
    created=$(be_uint "$mb" 91 4)
    modified=$(be_uint "$mb" 95 4)
    [ "$(be_uint "$companion" "$at" 4)" = "$(ad_date "$created")" ] || fail "($options) $mac: creation date"
    [ "$(be_uint "$companion" $((at + 4)) 4)" = "$(ad_date "$modified")" ] || fail "($options) $mac: modification date"
    # Mac name (entry 3).
    read -r at len <<< "$(ad_entry "$companion" 3)"
    [ "$(bytes_at "$companion" "$at" "$len")" = "$(bytes_at "$mb" 2 "$(be_uint "$mb" 1 1)")" ] ||
      fail "($options) $mac: Mac name"
    # Both files carry the Mac's modification date.
    expected=$(unix_time "$modified")
    [ "$(stat -c %Y "$data")" = "$expected" ] && [ "$(stat -c %Y "$companion")" = "$expected" ] ||
      fail "($options) $mac: modification times $(stat -c %Y "$data") / $(stat -c %Y "$companion"), expected $expected"
  done
  [ "$seen_rsrc" = 1 ] && [ "$seen_empty" = 1 ] || fail "the volume needs files with and without resource forks"
done

pass
