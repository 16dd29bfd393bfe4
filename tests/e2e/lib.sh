# shellcheck shell=bash disable=SC2034  # (variables set here are read by the tests)
# Shared helpers of the end-to-end tests: sourced by tests/e2e/test_*.sh.
#
# The tests build real HFS volumes with hfsutils, pack them with mkdisc and
# read the discs back through the kestrow command. What a test expects comes
# from hfsutils (hls, hcopy) and from the raw bytes of the disc image, never
# from our own reader.
#
# Environment (set by ctest): KESTROW and MKDISC, the built executables;
# SOURCE_DIR, the repository root.
set -euo pipefail
export LC_ALL=C  # byte-wise regular expressions, sorting and printf
: "${KESTROW:?KESTROW must name the kestrow executable}"
: "${MKDISC:?MKDISC must name the mkdisc executable}"
: "${SOURCE_DIR:?SOURCE_DIR must name the repository root}"

readonly RAW_SECTOR=2352
readonly USER_SECTOR=2048
readonly USER_OFFSET=16
readonly FLOPPY="$SOURCE_DIR/tests/fixtures/real-hfs/opf-jw-disk9-hfstest-9.hfs"

for tool in hformat hmount humount hls hcopy hattrib hmkdir hvol; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool (hfsutils) is not installed" >&2; exit 1; }
done

# A folder of its own for each test, with its own HOME: hfsutils keeps the
# current volume in $HOME/.hcwd. KEEP_E2E_WORK=1 keeps it for a post-mortem.
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrow-e2e.XXXXXX")
trap '[ -n "${KEEP_E2E_WORK:-}" ] && echo "work folder kept: $work" >&2 || rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME"

test_name=$(basename "$0" .sh)

fail() {
  echo "FAIL [$test_name]: $*" >&2
  exit 1
}

pass() {
  echo "$test_name: all checks passed"
}

# Shows a file's bytes for a failure message (first lines only).
show() {
  if [ -s "$1" ]; then od -c "$1" | head -n 12; else echo "(empty)"; fi
}

# ---------------------------------------------------------------------------
# Running kestrow

# run CMD ARGS...: runs a command with stdout, stderr and the exit status
# captured in $work/out, $work/err and $status.
run() {
  set +e
  "$@" >"$work/out" 2>"$work/err"
  status=$?
  set -e
}

# expect_status CODE WHAT
expect_status() {
  [ "$status" = "$1" ] ||
    fail "$2: exit status $status, expected $1; stdout: $(head -c 400 "$work/out"); stderr: $(head -c 400 "$work/err")"
}

# expect_success_text TEXT WHAT: exit 0, stdout is exactly TEXT and a line
# end, stderr is empty.
expect_success_text() {
  expect_status 0 "$2"
  printf '%s\n' "$1" > "$work/expected-out"
  cmp -s "$work/expected-out" "$work/out" ||
    fail "$2: stdout should be exactly '$1', got: $(show "$work/out")"
  [ ! -s "$work/err" ] || fail "$2: stderr should be empty, got: $(cat "$work/err")"
}

# expect_failure_text TEXT WHAT: exit 1, nothing on stdout, stderr is TEXT on
# its own line, optionally followed by a detail and a hint, lines that start
# with "kestrow: ".
expect_failure_text() {
  expect_status 1 "$2"
  [ ! -s "$work/out" ] || fail "$2: stdout should be empty, got: $(head -c 400 "$work/out")"
  local first extra lines
  first=$(head -n 1 "$work/err")
  [ "$first" = "$1" ] || fail "$2: stderr should begin with '$1', got: $(cat "$work/err")"
  lines=$(wc -l < "$work/err")
  [ "$lines" -le 3 ] || fail "$2: stderr has $lines lines: $(cat "$work/err")"
  while IFS= read -r extra; do
    case "$extra" in
      "kestrow: "*) ;;
      *) fail "$2: the lines after the message must start with 'kestrow: ', got: $extra" ;;
    esac
  done < <(tail -n +2 "$work/err")
  # The message ends with its own line end.
  [ "$(tail -c 1 "$work/err" | od -An -c | tr -d ' ')" = '\n' ] || fail "$2: stderr does not end with a line end"
}

# ---------------------------------------------------------------------------
# Volumes

# make_volume FILE LABEL: a fresh 32 MiB HFS volume (allocation block 0 at
# volume byte 9,728), mounted as hfsutils' current volume.
make_volume() {
  "$SOURCE_DIR/scripts/make-hfs-volume.sh" "$1" "$2"
  hmount "$1" >/dev/null
}

# put_file LOCAL HFSPATH TYPE CREATOR: copies a file's bytes into the data
# fork and sets its Finder type and creator.
put_file() {
  hcopy -r "$1" "$2"
  hattrib -t "$3" -c "$4" "$2"
}

# be32 N: the 4 bytes of N, big-endian.
be32() {
  printf "\\$(printf %03o $((($1 >> 24) & 255)))\\$(printf %03o $((($1 >> 16) & 255)))"
  printf "\\$(printf %03o $((($1 >> 8) & 255)))\\$(printf %03o $(($1 & 255)))"
}

# crc16_xmodem FILE: CRC-16 (polynomial 0x1021, initial value 0) of the
# first 124 bytes of FILE, the checksum of a MacBinary II header.
crc16_xmodem() {
  local crc=0 byte bit
  for byte in $(od -An -v -tu1 -N 124 "$1"); do
    crc=$((crc ^ (byte << 8)))
    for bit in 1 2 3 4 5 6 7 8; do
      if ((crc & 0x8000)); then crc=$((((crc << 1) ^ 0x1021) & 0xFFFF)); else crc=$(((crc << 1) & 0xFFFF)); fi
    done
  done
  echo "$crc"
}

# pad128 SIZE: zero bytes up to the next multiple of 128.
pad128() {
  head -c $(((128 - $1 % 128) % 128)) /dev/zero
}

# put_two_forks HFSPATH TYPE CREATOR DATAFILE RSRCFILE [FLAGS CREATED MODIFIED]:
# a file with both a data fork and a resource fork, written through a
# MacBinary II file that `hcopy -m` unpacks (hfsutils has no other way to
# write a resource fork). FLAGS are the Finder flags (16 bits), CREATED and
# MODIFIED HFS dates (seconds since 1904 in local time); all 0 by default.
put_two_forks() {
  local hfspath=$1 type=$2 creator=$3 data=$4 rsrc=$5 flags=${6:-0} created=${7:-0} modified=${8:-0}
  local name="fork file" dlen rlen header="$work/macbinary.header" crc
  dlen=$(stat -c %s "$data")
  rlen=$(stat -c %s "$rsrc")
  {
    printf '\0'
    printf "\\$(printf %03o ${#name})%s" "$name"
    head -c $((63 - ${#name})) /dev/zero
    printf '%s%s' "$type" "$creator"
    printf "\\$(printf %03o $((flags >> 8)))"   # Finder flags, high byte
    head -c 9 /dev/zero         # zero, position, folder id, locked flag, zero
    be32 "$dlen"
    be32 "$rlen"
    be32 "$created"
    be32 "$modified"
    head -c 2 /dev/zero         # comment length
    printf "\\$(printf %03o $((flags & 255)))"  # Finder flags, low byte
    head -c 22 /dev/zero        # unpacked length, version bytes and the rest
  } > "$header"
  crc=$(crc16_xmodem "$header")
  {
    cat "$header"
    printf "\\$(printf %03o $((crc >> 8)))\\$(printf %03o $((crc & 255)))"
    head -c 2 /dev/zero
    cat "$data"; pad128 "$dlen"
    cat "$rsrc"; pad128 "$rlen"
  } > "$work/macbinary.bin"
  hcopy -m "$work/macbinary.bin" "$hfspath"
}

# copy_floppy_into HFSFOLDER: copies every file of the real Macintosh floppy
# into a folder of the current volume through MacBinary (`hcopy -m` keeps
# type, creator and resource fork). The folder must exist. Leaves the current
# volume mounted again.
copy_floppy_into() {
  local target=$1 volume current floppy="$work/floppy.hfs" n=0
  volume=$(current_volume_file)
  current=$(current_volume_name)
  cp "$FLOPPY" "$floppy"   # never mount the repository's own copy
  chmod u+w "$floppy"
  hmount "$floppy" >/dev/null
  local floppy_name
  floppy_name=$(current_volume_name)
  mkdir -p "$work/floppy-files"
  local -a names=()
  local line
  while IFS= read -r line; do
    names+=("$line")
  done < <(hls -1 -a -N "$floppy_name:")
  for line in "${names[@]}"; do
    n=$((n + 1))
    hcopy -m "$floppy_name:$line" "$work/floppy-files/$n.bin"
  done
  humount "$floppy_name" >/dev/null
  hmount "$volume" >/dev/null
  [ "$(current_volume_name)" = "$current" ] || fail "could not mount $volume again"
  n=0
  for line in "${names[@]}"; do
    n=$((n + 1))
    hcopy -m "$work/floppy-files/$n.bin" "$target:$line"
  done
  [ "$n" -gt 0 ] || fail "no files found on the floppy fixture"
}

current_volume_name() {
  hvol | sed -n 's/^Volume name is "\(.*\)"$/\1/p' | head -n 1
}

current_volume_file() {
  hvol | sed -n '2s/^  //p'
}

# ---------------------------------------------------------------------------
# Expected rows from hfsutils

# One `hls -l -a -i -N` line of a file or a folder. The date is one of
# "Mmm dd hh:mm" and "Mmm dd  yyyy"; the name follows it verbatim.
readonly HLS_DATE='[A-Z][a-z][a-z] [ 0-9][0-9] ( [0-9]{4}|[0-9]{2}:[0-9]{2})'
readonly HLS_FILE="^ *([0-9]+) [fF]. (....)/(....) +([0-9]+) +([0-9]+) $HLS_DATE (.*)\$"
readonly HLS_DIR="^ *([0-9]+) [dD]. +[0-9]+ items? +$HLS_DATE (.*)\$"

# walk_volume OUT: walks the current volume with hls and writes one line per
# file, in no particular order:
#   display path TAB data+rsrc TAB id TAB type TAB creator TAB data TAB rsrc
# where the display path is the volume name and the folders, ':'-separated,
# then the name; raw name bytes, with carriage returns shown as '-'. Files
# named exactly "Desktop DB" or "Desktop DF" are left out, as kestrow does.
walk_volume() {
  local out=$1
  : > "$out"
  local volume
  volume=$(current_volume_name)
  [ -n "$volume" ] || fail "no current hfsutils volume"
  walk_folder "$volume:" "${volume//$'\r'/-}:" "$out"
}

# walk_folder HFSPATH DISPLAYPREFIX OUT
walk_folder() {
  local hfspath=$1 prefix=$2 out=$3 line name
  local -a subfolders=()
  hls -l -a -i -N "$hfspath" > "$work/hls.out" || fail "hls $hfspath failed"
  while IFS= read -r line; do
    if [[ $line =~ $HLS_FILE ]]; then
      local id=${BASH_REMATCH[1]} type=${BASH_REMATCH[2]} creator=${BASH_REMATCH[3]}
      local rsrc=${BASH_REMATCH[4]} data=${BASH_REMATCH[5]}
      name=${BASH_REMATCH[7]}
      case "$name" in "Desktop DB" | "Desktop DF") continue ;; esac
      printf '%s%s\t%d\t%s\t%s\t%s\t%s\t%s\n' "$prefix" "${name//$'\r'/-}" $((data + rsrc)) \
        "$id" "$type" "$creator" "$data" "$rsrc" >> "$out"
    elif [[ $line =~ $HLS_DIR ]]; then
      subfolders+=("${BASH_REMATCH[3]}")
    else
      fail "cannot parse this hls line: $line"
    fi
  done < "$work/hls.out"
  for name in "${subfolders[@]}"; do
    walk_folder "$hfspath$name:" "$prefix${name//$'\r'/-}:" "$out"
  done
}

# expected_rows WALK OUT: the "path TAB size" rows of a walk, sorted, LF.
expected_rows() {
  cut -f 1,2 "$1" | sort > "$2"
}

# ---------------------------------------------------------------------------
# Reading kestrow's output

# export_rows EXPORT OUT: checks that every line of a `list -o` file ends
# with CR LF and has exactly one TAB followed by digits, and writes its rows
# with LF line ends, in file order.
export_rows() {
  local file=$1 out=$2
  if [ -s "$file" ]; then
    [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' ')" = "0d0a" ] || fail "$file does not end with CR LF"
  fi
  # Every LF is preceded by CR: as many CR LF pairs as LFs.
  local lfs crlfs
  lfs=$(tr -cd '\n' < "$file" | wc -c)
  crlfs=$(sed 's/\r$/@CRLF@/' "$file" | grep -ac '@CRLF@$' || true)
  [ "$lfs" = "$crlfs" ] || fail "$file: $lfs lines but only $crlfs end with CR LF"
  sed 's/\r$//' "$file" > "$out"
  local bad
  bad=$(grep -acvE $'^[^\t]*\t[0-9]+$' "$out" || true)
  [ "$bad" = 0 ] || fail "$file: $bad line(s) are not PATH TAB SIZE: $(grep -avE $'^[^\t]*\t[0-9]+$' "$out" | head -n 3)"
}

# cp1252_to_utf8: Windows-1252 to UTF-8 on stdin/stdout; the five bytes the
# code page leaves undefined become U+0081, U+008D, U+008F, U+0090, U+009D.
cp1252_to_utf8() {
  sed 's/\x81/@81@/g; s/\x8d/@8D@/g; s/\x8f/@8F@/g; s/\x90/@90@/g; s/\x9d/@9D@/g' |
    iconv -f WINDOWS-1252 -t UTF-8 |
    sed 's/@81@/\xc2\x81/g; s/@8D@/\xc2\x8d/g; s/@8F@/\xc2\x8f/g; s/@90@/\xc2\x90/g; s/@9D@/\xc2\x9d/g'
}

# compare_sorted EXPECTED ACTUAL WHAT: the two files hold the same lines.
compare_sorted() {
  sort "$1" > "$work/cmp.expected"
  sort "$2" > "$work/cmp.actual"
  if ! cmp -s "$work/cmp.expected" "$work/cmp.actual"; then
    echo "--- expected (hfsutils) vs +++ actual (kestrow), $3:" >&2
    diff "$work/cmp.expected" "$work/cmp.actual" | head -n 20 | od -c | head -n 40 >&2 || true
    fail "$3: rows differ"
  fi
}

# json_tuples JSON OUT: from `kestrow list --json`, one line per file:
#   fileId TAB type TAB creator TAB data logical length TAB rsrc logical length
# read key by key, in the order the rows list them.
json_tuples() {
  awk '
    function value(line) { sub(/^[^:]*: */, "", line); sub(/,$/, "", line); gsub(/"/, "", line); return line }
    /^ *"row": /           { if (n++) emit(); id = type = creator = data = rsrc = ""; fork = "" }
    /^ *"fileId": /        { id = value($0) }
    /^ *"type": /          { type = value($0) }
    /^ *"creator": /       { creator = value($0) }
    /^ *"dataFork": /      { fork = "d" }
    /^ *"resourceFork": /  { fork = "r" }
    /^ *"logicalLength": / { if (fork == "d") data = value($0); else if (fork == "r") rsrc = value($0) }
    function emit() { printf "%s\t%s\t%s\t%s\t%s\n", id, type, creator, data, rsrc }
    END { if (n) emit() }
  ' "$1" > "$2"
}

# ---------------------------------------------------------------------------
# Disc images

# pack VOLUME DISC [mkdisc options...]
pack() {
  local volume=$1 disc=$2
  shift 2
  "$MKDISC" "$@" "$volume" "$disc" > "$work/mkdisc.out" 2>&1 ||
    fail "mkdisc $* $volume $disc failed: $(cat "$work/mkdisc.out")"
  [ -s "$disc" ] || fail "mkdisc wrote no $disc"
  [ $(($(stat -c %s "$disc") % RAW_SECTOR)) = 0 ] || fail "$disc is not whole 2352-byte sectors"
}

# sector_count BIN
sector_count() {
  echo $(($(stat -c %s "$1") / RAW_SECTOR))
}

# bin_to_iso BIN ISO: the 2048 user bytes of every raw sector.
bin_to_iso() {
  local bin=$1 iso=$2 count i
  count=$(sector_count "$bin")
  : > "$iso"
  for ((i = 0; i < count; i++)); do
    dd if="$bin" iflag=skip_bytes,count_bytes skip=$((i * RAW_SECTOR + USER_OFFSET)) \
      count=$USER_SECTOR bs=$USER_SECTOR status=none
  done >> "$iso"
  [ "$(stat -c %s "$iso")" = $((count * USER_SECTOR)) ] || fail "bin_to_iso wrote a short $iso"
}

# be_uint FILE OFFSET WIDTH: an unsigned big-endian integer of the file.
be_uint() {
  local value=0 byte
  for byte in $(od -An -v -tu1 -j "$2" -N "$3" "$1"); do
    value=$((value * 256 + byte))
  done
  echo "$value"
}

# read_trailer BIN: sets trailer_sig, volume_start and volume_end (512-byte
# units) from the user data of the last raw sector, and area_first_sector
# and area_last_sector, the sectors that hold the volume area.
read_trailer() {
  local bin=$1 last
  last=$(($(sector_count "$bin") - 1))
  local base=$((last * RAW_SECTOR + USER_OFFSET))
  trailer_sig=$(dd if="$bin" iflag=skip_bytes,count_bytes skip="$base" count=4 status=none)
  volume_start=$(be_uint "$bin" $((base + 28)) 4)
  volume_end=$(be_uint "$bin" $((base + 33)) 3)
  area_first_sector=$((volume_start / 4))
  area_last_sector=$(((volume_end - 1) / 4))
}

# user_to_raw_offset USERBYTE: the byte of a raw image that holds byte
# USERBYTE of the disc's user-data address space.
user_to_raw_offset() {
  echo $(($1 / USER_SECTOR * RAW_SECTOR + USER_OFFSET + $1 % USER_SECTOR))
}

# patch FILE OFFSET TEXT: overwrites bytes in place.
patch() {
  printf '%s' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# reseal_at FILE OFFSET: rebuilds the sync, header, EDC and parity of the
# raw sector that holds byte OFFSET around its user data. Bytes changed in a
# raw image without this are damage that the sector's parity mends.
reseal_at() {
  "$MKDISC" --reseal "$1" --sector $(($2 / RAW_SECTOR)) > /dev/null || fail "mkdisc --reseal $1 failed"
}

# patch_sealed FILE OFFSET TEXT: patch, then reseal_at: the new bytes are
# the disc's own content.
patch_sealed() {
  patch "$1" "$2" "$3"
  reseal_at "$1" "$2"
}

# bytes_at FILE OFFSET COUNT
bytes_at() {
  dd if="$1" iflag=skip_bytes,count_bytes skip="$2" count="$3" status=none
}

# zero_image FILE SECTORS: a sparse image of 2048-byte zero sectors.
zero_image() {
  rm -f "$1"
  truncate -s $(($2 * USER_SECTOR)) "$1"
}

# write_mapfile FILE UNIT SECTORS BAD...: a GNU ddrescue mapfile of an image
# of SECTORS sectors of UNIT bytes in which the listed sectors were not read
# well ('-'); everything else is finished ('+').
write_mapfile() {
  local file=$1 unit=$2 sectors=$3
  shift 3
  local -a bad
  mapfile -t bad < <(printf '%s\n' "$@" | sort -n -u)
  {
    echo "# Mapfile. Created by GNU ddrescue version 1.27"
    echo "# Command line: ddrescue -b $unit /dev/sr0 disc.img disc.map"
    echo "# current_pos  current_status  current_pass"
    echo "0x00000000     +               1"
    echo "#      pos        size  status"
    local at=0 s
    for s in "${bad[@]}"; do
      [ -n "$s" ] || continue
      if [ "$s" -gt "$at" ]; then printf '0x%08X  0x%08X  +\n' $((at * unit)) $(((s - at) * unit)); fi
      printf '0x%08X  0x%08X  -\n' $((s * unit)) "$unit"
      at=$((s + 1))
    done
    if [ "$at" -lt "$sectors" ]; then printf '0x%08X  0x%08X  +\n' $((at * unit)) $(((sectors - at) * unit)); fi
  } > "$file"
}
