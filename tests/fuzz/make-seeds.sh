#!/usr/bin/env bash
# Makes the fuzzers' seed corpora in tests/fuzz/corpus/<Fuzzer>/. Run once by
# hand; the results are committed. Needs hfsutils, python3 and mkdisc
# (MKDISC=path, or built into build-fuzz/ when missing).
#
# Discs are real HFS volumes made by hfsutils, cut short and packed by mkdisc
# so that they stay small: a 32 MiB volume (the size at which allocation
# block 0 lies at volume byte 9,728) is truncated after its last used block,
# and its catalogue extent is shortened to the nodes in use. The other
# targets' seeds are cut out of those discs or written by hand.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus="$root/tests/fuzz/corpus"
mkdisc=${MKDISC:-$root/build-fuzz/tools/mkdisc/mkdisc}
if [ ! -x "$mkdisc" ]; then
  cmake --build "$root/build-fuzz" --target mkdisc
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work"  # hfsutils keeps its current volume in $HOME/.hcwd

# make_volume NAME LABEL: formats $work/NAME.hfs and mounts it.
make_volume() {
  bash "$root/scripts/make-hfs-volume.sh" "$work/$1.hfs" "$2"
  hmount "$work/$1.hfs" >/dev/null
}

# shrink_volume NAME: truncates the volume after its last used allocation
# block and cuts the catalogue's extent to 16 blocks (8 KiB of nodes).
shrink_volume() {
  python3 - "$work/$1.hfs" <<'EOF'
import struct, sys
path = sys.argv[1]
v = bytearray(open(path, 'rb').read())
mdb = 1024
block = struct.unpack('>I', v[mdb + 20:mdb + 24])[0]
bitmap = v[3 * 512:19 * 512]
used = max(i for i in range(len(bitmap) * 8) if bitmap[i // 8] >> (7 - i % 8) & 1)
start, count = struct.unpack('>HH', v[mdb + 150:mdb + 154])
v[mdb + 152:mdb + 154] = struct.pack('>H', min(count, 16))
end = 9728 + (used + 1) * block
open(path, 'wb').write(v[:(end + 8191) // 8192 * 8192])
EOF
}

printf 'Dear reader,\r\nthis is a letter.\r\n' >"$work/letter"
head -c 12000 /dev/urandom >"$work/noise"
python3 -c "import sys; sys.stdout.write('ab' * 3000 + ''.join(chr(65 + i % 26) for i in range(5000)))" >"$work/text"
: >"$work/empty"

# Disc 1: folders, a name with a carriage return and one with a slash.
make_volume one Disk
hmkdir :Docs
hmkdir :Docs:Old
hcopy -r "$work/letter" :Docs:Letter
hcopy -r "$work/text" ":Docs:Old:a/b"
hcopy -r "$work/noise" ":Read Me"
hcopy -r "$work/empty" "$(printf ':Line\rBreak')"
hattrib -t TEXT -c ttxt :Docs:Letter
humount
shrink_volume one

# Disc 2: a file in the root only, several groups, the volume area starting
# three units into its first sector.
make_volume two Other
hcopy -r "$work/text" :Notes
hcopy -r "$work/noise" :Blob
humount
shrink_volume two

# Disc 3: a hostile catalogue, one file record repeated 128 times in each of
# 64 nodes, the file with 40,000 overflow extents (make-hostile-catalogue.py
# says how); tests/unit/HostileCatalogueTest.cpp lists it under a memory limit.
make_volume empty Hostile
humount
python3 "$root/tests/fuzz/make-hostile-catalogue.py" "$work/empty.hfs" "$work/hostile.hfs"

mkdir -p "$corpus"/{DiscFuzzer,CatalogFuzzer,PackTableFuzzer,LzsFuzzer,CueSheetFuzzer,MapfileFuzzer,ImageKindFuzzer}
"$mkdisc" --leading-sectors 0 "$work/one.hfs" "$corpus/DiscFuzzer/folders-lzs.bin"
"$mkdisc" --leading-sectors 0 --blocks-per-group 40 --volume-start-offset 3 \
  "$work/two.hfs" "$corpus/DiscFuzzer/two-groups-offset3.bin"
"$mkdisc" --leading-sectors 0 "$work/hostile.hfs" "$corpus/DiscFuzzer/hostile-catalogue.bin"

# Seeds cut out of the discs for the catalogue, table and LZS fuzzers.
python3 - "$corpus" "$work" <<'EOF'
import os, struct, sys
corpus, work = sys.argv[1], sys.argv[2]
RAW, USER, OFF = 2352, 2048, 16

def user_data(disc):
    return b''.join(disc[i + OFF:i + OFF + USER] for i in range(0, len(disc), RAW))

def area_of(disc):
    user = user_data(disc)
    trailer = user[-USER:]
    start = struct.unpack('>I', trailer[28:32])[0]
    end = int.from_bytes(trailer[33:36], 'big')
    return user, user[start * 512:end * 512]

def write(target, name, data):
    with open(os.path.join(corpus, target, name), 'wb') as f:
        f.write(data)

for disc_name in ('folders-lzs', 'two-groups-offset3'):
    disc = open(os.path.join(corpus, 'DiscFuzzer', disc_name + '.bin'), 'rb').read()
    user, area = area_of(disc)
    # Catalogue: the master directory block, the extents file's header node
    # and the catalogue's nodes (the empty extents nodes between are left out).
    mdb = area[0x4000:0x4000 + 162]
    ct_start = struct.unpack('>H', mdb[150:152])[0]
    catalog = area[0x6200 + ct_start * 512:]
    write('CatalogFuzzer', disc_name, mdb + area[0x6200:0x6200 + 512] + catalog)
    # Pack table and groups: header, the table after "Pack", group 0's start.
    count = int.from_bytes(area[0xC0D:0xC10], 'big')
    table = area[0xC04:0xC18 + 8 * count]
    group0 = user[USER:USER + 16384]
    first_block = struct.unpack('>I', b'\0' + group0[44 + 1:44 + 4])[0] * 512
    header = struct.pack('>II', first_block + 100, first_block + 9000)
    header += (8900).to_bytes(3, 'big') + bytes([1]) + struct.pack('>HH', len(table), 40)
    write('PackTableFuzzer', disc_name, header + table + group0)
    # LZS: the stored data of group 0's first blocks, each a stream.
    blocks = struct.unpack('>H', group0[14:16])[0]
    for j in range(min(blocks, 6)):
        e = 44 + 8 * j
        begin = int.from_bytes(group0[e + 5:e + 8], 'big') - USER
        stop = int.from_bytes(group0[e + 13:e + 16], 'big') - USER if j + 1 < blocks else \
            struct.unpack('>I', group0[16:20])[0] - USER
        if 0 <= begin < stop <= len(group0) and stop - begin < 8192:
            write('LzsFuzzer', '%s-block%d' % (disc_name, j), b'\0' + group0[begin:stop])
    # Image kinds: the disc's first two raw sectors, and as user data.
    write('ImageKindFuzzer', disc_name + '-raw2', disc[:2 * RAW])
    write('ImageKindFuzzer', disc_name + '-user2', user[:2 * USER])

text = open(os.path.join(work, 'text'), 'rb').read()
write('LzsFuzzer', 'roundtrip-text', b'\1' + text[:8192])
write('LzsFuzzer', 'roundtrip-noise', b'\1' + open(os.path.join(work, 'noise'), 'rb').read()[:3000])
# A literal 'A', then a reference one back for 20 bytes, then the end marker.
bits = '0' + '01000001' + '11' + '0000001' + '1111' + '1100' + '11' + '0000000'
bits += '0' * (-len(bits) % 8)
write('LzsFuzzer', 'literal-and-run', b'\0' + int(bits, 2).to_bytes(len(bits) // 8, 'big'))
EOF

# Hand-made text seeds.
cue="$corpus/CueSheetFuzzer"
printf 'FILE "disc image.bin" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n' >"$cue/quoted-2352.cue"
printf '\xEF\xBB\xBFREM made by hand\nFILE disc.iso BINARY\nTRACK 1 mode1/2048\nPREGAP 00:02:00\nINDEX 00 00:00:00\nINDEX 01 00:00:00\n' \
  >"$cue/bom-2048.cue"
printf 'CATALOG 0000000000000\nTITLE "x"\nFILE a.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' >"$cue/audio.cue"
printf 'FILE "data.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' \
  | tee "$corpus/ImageKindFuzzer/cue-data-2352" >"$cue/data-2352.cue"
printf 'FILE data.bin BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n' >"$corpus/ImageKindFuzzer/cue-data-2048"

map="$corpus/MapfileFuzzer"
printf '# Mapfile. Created by GNU ddrescue version 1.27\n# current_pos  current_status  current_pass\n0x00120000     ?               1\n#      pos        size  status\n0x00000000  0x00117000  +\n0x00117000  0x00000200  -\n0x00117200  0x00008E00  +\n0x00120000  0x00100000  ?\n' \
  >"$map/rescued.map"
printf '0 +\n0 100 +\n100 100 +\n300 0x10 /\n316 20 +\n200 100 *\n' >"$map/decimal-unsorted.map"
printf '0x0 F\n0x0 0x7FFFFFFFFFFFFFFF +\n' >"$map/largest.map"

# Raw sectors for the sector check: the LBA (4 bytes, little endian), then
# the sector, whole, damaged or cut short; mkdisc --reseal makes them whole.
sector="$corpus/SectorCheckFuzzer"
mkdir -p "$sector"
head -c $((1001 * 2352)) /dev/zero >"$work/sectors.bin"
head -c 2048 "$work/text" | dd of="$work/sectors.bin" bs=1 seek=$((1000 * 2352 + 16)) conv=notrunc status=none
"$mkdisc" --reseal "$work/sectors.bin" --sector 1000 >/dev/null
one() { dd if="$work/sectors.bin" bs=2352 skip=1000 count=1 status=none; }
{ printf '\xE8\x03\x00\x00'; one; } >"$sector/mode1"
{ printf '\xE8\x03\x00\x00'; one | head -c 700; } >"$sector/short"
{ printf '\xE9\x03\x00\x00'; one; } >"$sector/another-address"
{ printf '\xE8\x03\x00\x00'; one | head -c 100; printf 'damage'; one | tail -c +107; } >"$sector/damaged"
{ printf '\x00\x00\x00\x00'; head -c 2352 /dev/zero; } >"$sector/zeros"

echo "seeds written to $corpus"
du -sh "$corpus"/*
