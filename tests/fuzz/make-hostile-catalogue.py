#!/usr/bin/env python3
"""Writes a hostile HFS volume for the disc fuzzer's corpus and the
memory-limited listing test:

    make-hostile-catalogue.py EMPTY.hfs HOSTILE.hfs

EMPTY.hfs is a fresh 32 MiB volume from scripts/make-hfs-volume.sh (its
master directory block is kept). HOSTILE.hfs gets, from allocation block 0:

- an extents overflow file whose leaf chain holds 40,000 records for the data
  fork of file 99, each one extent of one block;
- a catalogue of 64 leaf nodes whose header node is no header (so the
  catalogue's tree is unknown), each node's 128 record offsets pointing at
  one file record: file 99, with three one-block extents and a logical and
  physical length of 0xFFFFFE00 bytes (the first node also holds the root
  folder's record).

Read naively, the list holds 8,192 copies of file 99, each with 40,000
overflow extents (about 2.6 GB). The volume is cut after the catalogue, so
that the disc mkdisc makes of it stays small.
"""
import struct
import sys

NODE = 512
BLOCK = 512
OVERFLOW_RECORDS = 40000
CATALOG_NODES = 64
RECORDS_PER_NODE = 128
FILE_ID = 99
LENGTH = 0xFFFFFE00
NAME = b"Hostile"


def pack_node(kind, height, records, forward=0):
    """A B-tree node: descriptor, records from byte 14, the offset table at
    its end (record 0's offset last in the node, then the free space's)."""
    body = bytearray(NODE)
    struct.pack_into(">IIBBH", body, 0, forward, 0, kind, height, len(records))
    at = 14
    offsets = []
    for record in records:
        offsets.append(at)
        body[at:at + len(record)] = record
        at += len(record)
    offsets.append(at)
    for i, offset in enumerate(offsets):
        struct.pack_into(">H", body, NODE - 2 - 2 * i, offset)
    assert at <= NODE - 2 * len(offsets)
    return body


def header_node(first_leaf, last_leaf, nodes, leaf_records):
    header = struct.pack(">HIIIIHHII", 1, first_leaf, leaf_records, first_leaf, last_leaf, NODE, 7, nodes, 0)
    header += bytes(106 - len(header))
    return pack_node(1, 0, [header, bytes(128), b"\xff" * (NODE - 14 - 106 - 128 - 2 * 4)])


def extent_record(start_block, extent_start):
    key = struct.pack(">BBIH", 7, 0, FILE_ID, start_block)
    return key + struct.pack(">HHHHHH", extent_start, 1, 0, 0, 0, 0)


def catalog_key(parent, name):
    key = struct.pack(">BIB", 0, parent, len(name)) + name
    return bytes([len(key)]) + key + (b"\0" if len(key) % 2 == 0 else b"")


def file_record():
    data = bytearray(102)
    data[0] = 2
    data[4:8] = b"TEXT"
    data[8:12] = b"ttxt"
    struct.pack_into(">IHII", data, 20, FILE_ID, 1, LENGTH, LENGTH)
    struct.pack_into(">HHHHHH", data, 74, 1, 1, 2, 1, 3, 1)
    return catalog_key(2, b"Copied") + bytes(data)


def folder_record():
    data = bytearray(70)
    data[0] = 1
    struct.pack_into(">I", data, 6, 2)
    return catalog_key(1, NAME) + bytes(data)


def catalog_leaf(first, forward):
    """One leaf whose 128 offsets all name the file record (the first
    node's first offset the root folder's record)."""
    body = bytearray(NODE)
    struct.pack_into(">IIBBH", body, 0, forward, 0, 0xFF, 1, RECORDS_PER_NODE)
    folder = folder_record()
    record = file_record()
    body[14:14 + len(folder)] = folder
    file_at = 14 + len(folder)
    body[file_at:file_at + len(record)] = record
    for i in range(RECORDS_PER_NODE):
        struct.pack_into(">H", body, NODE - 2 - 2 * i, 14 if first and i == 0 else file_at)
    assert file_at + len(record) <= NODE - 2 * RECORDS_PER_NODE
    return body


def main(empty_path, hostile_path):
    volume = bytearray(open(empty_path, "rb").read())
    mdb = 1024
    assert volume[mdb:mdb + 2] == b"BD" and struct.unpack(">I", volume[mdb + 20:mdb + 24])[0] == BLOCK

    per_leaf = (NODE - 14 - 2) // (20 + 2)
    leaves = [list(range(i, min(i + per_leaf, OVERFLOW_RECORDS))) for i in range(0, OVERFLOW_RECORDS, per_leaf)]
    extents = [header_node(1, len(leaves), len(leaves) + 1, OVERFLOW_RECORDS)]
    for n, leaf in enumerate(leaves):
        forward = n + 2 if n + 1 < len(leaves) else 0
        # The fork's blocks 3, 4, 5, ... (its record holds blocks 0-2).
        extents.append(pack_node(0xFF, 1, [extent_record(3 + r, 100 + r % 100) for r in leaf], forward))
    catalog = [bytes(NODE)]  # node 0: no header node, so the catalogue's tree cannot be known
    for n in range(CATALOG_NODES):
        catalog.append(catalog_leaf(n == 0, n + 2 if n + 1 < CATALOG_NODES else 0))

    extents_blocks = len(extents)
    catalog_blocks = len(catalog)
    struct.pack_into(">IHHHHHH", volume, mdb + 130, extents_blocks * BLOCK, 0, extents_blocks, 0, 0, 0, 0)
    struct.pack_into(">IHHHHHH", volume, mdb + 146, catalog_blocks * BLOCK, extents_blocks, catalog_blocks,
                     0, 0, 0, 0)
    start = 9728  # allocation block 0
    for i, body in enumerate(extents + catalog):
        volume[start + i * BLOCK:start + (i + 1) * BLOCK] = body
    end = start + (extents_blocks + catalog_blocks) * BLOCK
    open(hostile_path, "wb").write(volume[:(end + 8191) // 8192 * 8192])


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
