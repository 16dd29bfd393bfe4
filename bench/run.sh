#!/usr/bin/env bash
# Every benchmark, with the ratios measured side by side in this run:
#   1. LZS decoding and the 100,000-file catalogue (Google Benchmark);
#   2. a ~600 MB disc image built from this machine's documentation and
#      shared libraries (hfsutils into a 640 MiB volume, then mkdisc), and,
#      into memory (tmpfs) and onto the disk, `kestrow recover --all` on it
#      against the version before (KESTROW_BENCH_BEFORE, a commit: by default
#      the last one that decoded on one thread and handed files to the writer
#      one by one), against `cp -r` of the recovered tree and against hfsutils
#      copying the same files out of the unpacked volume (one hmount, one
#      hcopy -r per top-level folder); `cat` of the image; the peak memory of
#      the recovery, before and after;
#   3. READ CD commands, sectors read and simulated drive time of a full
#      recovery and a full dump, against streaming the needed sectors once;
#   4. the recovery with and without the check of every raw sector (EDC,
#      sync, address), against a second build that skips it.
#
#   bench/run.sh                 everything (about 10 minutes on 2 cores)
#   KESTROW_BENCH_MB=100 bench/run.sh   a smaller disc
#   KESTROW_BENCH_RUNS=7 bench/run.sh   the median of 7 timed runs instead of 5
#
# Work files go to build-bench/work (the disc is kept and reused while the
# file list it came from and its layout are unchanged). The whole runs write
# into memory (/dev/shm/kestrow-bench, when it has room for three trees) and
# onto the disk (build-bench/work/timed); KESTROW_BENCH_MEMORY=folder and
# KESTROW_BENCH_DISK=folder choose other places. Every timed run is a whole
# process, with its output folder removed and the file system synced before
# it (outside the timing). Nothing here is a pass/fail test: the figures are
# for people to read.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
work="$build/work"
content_mb=${KESTROW_BENCH_MB:-560}
before_commit=${KESTROW_BENCH_BEFORE:-ad2ed4b}
runs=${KESTROW_BENCH_RUNS:-5}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROW_BENCH=ON -DKESTROW_GUI=OFF \
  -DKESTROW_TESTS=OFF >/dev/null
ninja -C "$build" kestrow mkdisc kestrow_bench_kernels kestrow_bench_drive kestrow_peak_memory >/dev/null
kestrow="$build/src/cli/kestrow"

# The version before, built from its own sources in Release.
before_build="$root/build-bench-before"
if [ "$(cat "$before_build/commit" 2>/dev/null)" != "$before_commit" ]; then
  rm -rf "$before_build"
  mkdir -p "$before_build/src"
  git -C "$root" archive "$before_commit" | tar -x -C "$before_build/src"
  cmake -S "$before_build/src" -B "$before_build/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROW_GUI=OFF \
    -DKESTROW_TESTS=OFF >/dev/null
  ninja -C "$before_build/build" kestrow >/dev/null
  echo "$before_commit" > "$before_build/commit"
fi
kestrow_before="$before_build/build/src/cli/kestrow"
mkdir -p "$work/home"
export HOME="$work/home"  # hfsutils keeps its current volume here

echo "== Kernels"
[ -n "${KESTROW_BENCH_SKIP_KERNELS:-}" ] || "$build/bench/kestrow_bench_kernels" --benchmark_min_time=0.5

# --- The disc ---------------------------------------------------------------

# The source files: documentation first, then shared libraries, in name
# order, until `content_mb` megabytes.
list_sources() {
  {
    find /usr/share/doc -type f -printf '%s\t%p\n' 2>/dev/null | sort -t $'\t' -k2
    find /usr/lib/x86_64-linux-gnu /usr/lib -maxdepth 1 -type f -name '*.so*' -printf '%s\t%p\n' 2>/dev/null |
      sort -t $'\t' -k2
  } | awk -F '\t' -v cap=$((content_mb * 1000000)) '$1 > 0 && total + $1 <= cap { total += $1; print $2 }'
}

# An HFS name: at most 31 bytes of letters, digits and . + - (the rest
# becomes -; hcopy would turn _ into a space), made unique in its folder,
# ignoring case as HFS does, with a ~N suffix. The name is left in REPLY (a
# subshell would forget the names taken).
declare -A taken
mac_name() {  # mac_name FOLDER-KEY NAME
  local name=${2//[^A-Za-z0-9.+-]/-}
  name=${name:0:31}
  local candidate=$name n=1
  while [ -n "${taken["$1/${candidate,,}"]+x}" ]; do
    n=$((n + 1))
    candidate="${name:0:$((31 - ${#n} - 1))}~$n"
  done
  taken["$1/${candidate,,}"]=1
  REPLY=$candidate
}

# A staging tree of symbolic links under HFS names: the documentation in
# "doc", the libraries in "lib", each holding its files directly (hcopy copies
# files, not folders, so one hcopy per top-level folder copies them all).
stage() {
  local stage_dir=$1
  rm -rf "$stage_dir"
  local source top
  while IFS= read -r source; do
    case $source in /usr/share/doc/*) top=doc ;; *) top=lib ;; esac
    [ -d "$stage_dir/$top" ] || mkdir -p "$stage_dir/$top"
    mac_name "$top" "${source##*/}"
    ln -s "$source" "$stage_dir/$top/$REPLY"
  done
}

make_disc() {
  local stage_dir="$work/stage" volume="$work/bench.hfs"
  echo "   staging the files under HFS names"
  stage "$stage_dir" < <(tail -n +2 "$work/sources.txt")
  echo "   copying them into a 640 MiB HFS volume with hfsutils"
  rm -f "$volume"
  truncate -s 640M "$volume"
  hformat -l "Bench" "$volume" >/dev/null
  hmount "$volume" >/dev/null
  local folder files
  for folder in "$stage_dir"/*/; do
    folder=$(basename "$folder")
    hmkdir ":$folder"
    mapfile -d '' files < <(find "$stage_dir/$folder" -maxdepth 1 -type l -print0 | sort -z)
    [ ${#files[@]} -eq 0 ] || hcopy -r "${files[@]}" ":$folder:"
  done
  humount >/dev/null
  echo "   packing the volume with mkdisc"
  "$build/tools/mkdisc/mkdisc" "$volume" "$work/bench.bin"
}

echo
echo "== Building the benchmark disc from ${content_mb} MB of this machine's files"
{ echo "layout: files directly in doc and lib, no empty folder"; list_sources; } > "$work/sources.new"
if [ -f "$work/bench.bin" ] && cmp -s "$work/sources.new" "$work/sources.txt"; then
  echo "   (reusing $work/bench.bin)"
else
  mv "$work/sources.new" "$work/sources.txt"
  make_disc
fi
rm -f "$work/sources.new"
disc="$work/bench.bin"
files=$(($(wc -l < "$work/sources.txt") - 1))
content=$(tail -n +2 "$work/sources.txt" | tr '\n' '\0' | du -cbL --files0-from=- | tail -1 | cut -f1)
listed=$("$kestrow" list "$disc" | wc -l)
echo "   $files files, $((content / 1000000)) MB; disc image $(($(stat -c %s "$disc") / 1000000)) MB"
[ "$listed" -eq "$files" ] || echo "   WARNING: the disc lists $listed files, not $files"

# --- Whole runs on the image in page cache ----------------------------------

# Arithmetic on decimal figures: calc EXPRESSION prints its value, below A B
# succeeds when A < B.
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
below() { awk "BEGIN { exit !($1 < $2) }"; }

# median_of LIST: the median of the figures in LIST (a string, one per line).
median_of() {
  sort -g <<< "$1" | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# wall COMMAND...: the wall time of one run, in seconds.
wall() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  calc "$t1 - $t0"
}
# fresh FOLDER: removes FOLDER and writes out what is pending, before a run.
fresh() {
  rm -rf "$1"
  sync
}

# The three ways of getting the files out, each writing under $dest.
recover() { "$kestrow" recover "$disc" -o "$dest/out" --all; }
recover_before() { "$kestrow_before" recover "$disc" -o "$dest/before" --all; }
copy_tree() { cp -r "$dest/out" "$dest/copy"; }
hfs_extract() {  # one hmount, one hcopy -r per top-level folder of the unpacked volume
  mkdir -p "${hfs_tops[@]/#/$dest/hfs-out/}"
  hmount "$work/bench.hfs" >/dev/null
  local top
  for top in "${hfs_tops[@]}"; do hcopy -r ":$top:*" "$dest/hfs-out/$top/"; done
  humount >/dev/null
}
# The data forks' bytes, folder by folder and file by file in name order.
digest() { (cd "$1" && find . -type f ! -name '._*' -print0 | LC_ALL=C sort -z | xargs -0 cat | md5sum); }

hmount "$work/bench.hfs" >/dev/null
mapfile -t hfs_tops < <(hls -1 :)
humount >/dev/null

# Where the timed runs write: memory, when it has room for three trees (or
# the folder given), and the disk.
places=()
memory_root=${KESTROW_BENCH_MEMORY:-}
if [ -z "$memory_root" ]; then
  shm_free_kb=$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')
  if [ -n "$shm_free_kb" ] && [ "$shm_free_kb" -gt $(((3 * content + 500000000) / 1024)) ]; then
    memory_root=/dev/shm/kestrow-bench
  fi
fi
[ -z "$memory_root" ] || places+=("into memory|$memory_root")
places+=("onto the disk|${KESTROW_BENCH_DISK:-$work/timed}")
out_root=${places[0]#*|}  # for the sections after this one
cleanup() {
  local place
  for place in "${places[@]}"; do
    rm -rf "${place#*|}/out" "${place#*|}/before" "${place#*|}/copy" "${place#*|}/hfs-out"
    rmdir "${place#*|}" 2>/dev/null || true
  done
}
trap cleanup EXIT

echo
echo "== Whole runs on the disc image (in page cache): the median of $runs runs of each, taken in turns"
cat "$disc" > /dev/null  # into the page cache
cat_times=""
for _ in $(seq "$runs"); do cat_times+="$(wall cat "$disc")"$'\n'; done
printf '   cat of the image                              %8.3f s\n' "$(median_of "$cat_times")"
[ -n "$memory_root" ] || echo "   (no room in /dev/shm for three trees: only onto the disk)"
for place in "${places[@]}"; do
  dest=${place#*|}
  mkdir -p "$dest"
  recover_times="" before_times="" copy_times="" hfs_times=""
  for _ in $(seq "$runs"); do
    fresh "$dest/before"
    before_times+="$(wall recover_before)"$'\n'
    fresh "$dest/out"
    recover_times+="$(wall recover)"$'\n'
    fresh "$dest/copy"
    copy_times+="$(wall copy_tree)"$'\n'
    fresh "$dest/hfs-out"
    hfs_times+="$(wall hfs_extract)"$'\n'
  done
  t_recover=$(median_of "$recover_times") t_copy=$(median_of "$copy_times") t_hfs=$(median_of "$hfs_times")
  t_before=$(median_of "$before_times")
  echo "   ${place%|*} ($dest):"
  printf '     kestrow recover --all, before (%-7s)     %8.3f s\n' "$before_commit" "$t_before"
  printf '     kestrow recover --all                       %8.3f s  x%.2f of the time before\n' "$t_recover" \
    "$(calc "$t_recover / $t_before")"
  if ! diff -rq "$dest/out" "$dest/before" >/dev/null; then
    echo "     WARNING: the recovered files differ from those of the version before"
  fi
  printf '     cp -r of the recovered tree                 %8.3f s  recover takes x%.2f of it (target <= x1.5: %s)\n' \
    "$t_copy" "$(calc "$t_recover / $t_copy")" \
    "$(below "$(calc "1.5 * $t_copy")" "$t_recover" && echo NOT met || echo met)"
  printf '     hfsutils, hmount + %d x hcopy -r, unpacked   %8.3f s  recover takes x%.2f of it (target <= x1.0: %s)\n' \
    "${#hfs_tops[@]}" "$t_hfs" "$(calc "$t_recover / $t_hfs")" \
    "$(below "$t_hfs" "$t_recover" && echo NOT met || echo met)"
  if [ "$(digest "$dest/out/Bench")" = "$(digest "$dest/hfs-out")" ]; then
    echo "     the recovered data forks hold the same bytes as hfsutils' copies"
  else
    echo "     WARNING: the recovered data forks differ from hfsutils' copies"
  fi
  rm -rf "$dest/out" "$dest/before" "$dest/copy" "$dest/hfs-out"
done

echo
echo "== Peak memory of kestrow recover --all ($out_root)"
rm -rf "$out_root/out"
before_kb=$("$build/bench/kestrow_peak_memory" "$kestrow_before" recover "$disc" -o "$out_root/out" --all 2>&1 >/dev/null |
  sed -n 's/^peak resident memory: \([0-9]*\) kB$/\1/p')
rm -rf "$out_root/out"
peak_kb=$("$build/bench/kestrow_peak_memory" "$kestrow" recover "$disc" -o "$out_root/out" --all 2>&1 >/dev/null |
  sed -n 's/^peak resident memory: \([0-9]*\) kB$/\1/p')
area=$("$kestrow" info "$disc" | sed -n 's/^Volume area: *\([0-9]*\) bytes$/\1/p')
largest=$(find "$out_root/out" -type f -printf '%s\n' | sort -n | tail -1)
allowed=$((area + largest + 64 * 1024 * 1024))
printf '   peak %d MB; volume area %d MB + largest file %d MB + 64 MB = %d MB (target: %s)\n' \
  $((peak_kb / 1024)) $((area / 1048576)) $((largest / 1048576)) $((allowed / 1048576)) \
  "$([ $((peak_kb * 1024)) -le "$allowed" ] && echo met || echo NOT met)"
printf '   before (%s): peak %d MB\n' "$before_commit" $((before_kb / 1024))
rm -rf "$out_root/out"

echo
echo "== What checking every raw sector costs: kestrow recover --all with and without the check"
# A second kestrow built with KESTROW_SKIP_SECTOR_CHECK takes every sector
# as it comes; the two are timed in turns, so that both see the same machine.
nocheck="$root/build-bench-nocheck"
cmake -S "$root" -B "$nocheck" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROW_GUI=OFF -DKESTROW_TESTS=OFF \
  -DKESTROW_SKIP_SECTOR_CHECK=ON >/dev/null
ninja -C "$nocheck" kestrow >/dev/null
dest=$out_root
recover_unchecked() { "$nocheck/src/cli/kestrow" recover "$disc" -o "$dest/out" --all; }
# timed CLEAN COMMAND...: "wall cpu" of one run in seconds, cpu = user + system
# of both of its threads; CLEAN is removed first, outside the timing.
timed() {
  local clean=$1 TIMEFORMAT='%3R %3U %3S' t wall user system
  shift
  rm -rf "$clean"
  sync
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  read -r wall user system <<< "$t"
  echo "$wall $(calc "$user + $system")"
}
min() { if [ -z "$1" ] || below "$2" "$1"; then echo "$2"; else echo "$1"; fi; }
checked_wall="" checked_cpu="" unchecked_wall="" unchecked_cpu=""
for _ in $(seq $((runs * 2))); do
  read -r wall cpu <<< "$(timed "$out_root/out" recover)"
  checked_wall=$(min "$checked_wall" "$wall") checked_cpu=$(min "$checked_cpu" "$cpu")
  read -r wall cpu <<< "$(timed "$out_root/out" recover_unchecked)"
  unchecked_wall=$(min "$unchecked_wall" "$wall") unchecked_cpu=$(min "$unchecked_cpu" "$cpu")
done
printf '   without the check           %8.3f s wall, %8.3f s CPU\n' "$unchecked_wall" "$unchecked_cpu"
printf '   with the check              %8.3f s wall, %8.3f s CPU  = %+.1f%% wall, %+.1f%% CPU (target <= +5%%: %s)\n' \
  "$checked_wall" "$checked_cpu" "$(calc "100 * ($checked_wall / $unchecked_wall - 1)")" \
  "$(calc "100 * ($checked_cpu / $unchecked_cpu - 1)")" \
  "$(below "$(calc "1.05 * $unchecked_cpu")" "$checked_cpu" && echo NOT met || echo met)"
echo "   (the least of $((runs * 2)) runs each, in turns; on a busy machine the CPU time is the steadier figure)"

echo
echo "== Drive commands and simulated drive time"
"$build/bench/kestrow_bench_drive" "$disc" "$work/drive" ${KESTROW_BENCH_NO_SIMPLE:+--no-simple}
