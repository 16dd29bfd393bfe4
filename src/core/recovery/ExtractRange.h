// Copying one byte range of the volume out of the block tables and blocks
// of the sector groups that hold it.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "Spans.h"
#include "volume/PackedFormat.h"
#include "volume/SectorGroup.h"

namespace kestrow {

// A group's bytes as read.
using GroupView = std::span<const std::uint8_t>;

// One block's part of a range: the block whose stored data is bytes
// [begin, end) of group `group` (stored plain when 8,192 bytes or more), of
// which `length` bytes from `skip` on go to byte `at` of the output.
struct BlockCopy {
  std::uint32_t group = 0;
  std::int64_t begin = 0;
  std::int64_t end = 0;
  std::int64_t skip = 0;
  std::int64_t at = 0;
  std::int64_t length = 0;
};

// What filling an output from the block tables takes: the blocks to copy, in
// table order, and the ranges of the output (offsets into it) that no block
// supplies. Planning reads the tables only; copying decodes.
struct RangePlan {
  std::vector<BlockCopy> copies;
  std::vector<ByteSpan> unsupplied;
};

// ExtractRange's plan, for an output of `outSize` bytes.
RangePlan PlanRange(std::span<const GroupView> groups, std::uint32_t start, std::uint32_t end, std::uint64_t outSize);

// PlanRange one group at a time, for a caller that hands blocks on while the
// next groups are still being read: Add each group in order, then Finish.
class RangePlanner {
 public:
  RangePlanner(std::uint32_t start, std::uint32_t end, std::uint64_t outSize);
  // Plans the blocks of `group`, the `index`th of the range's groups.
  void Add(std::uint32_t index, GroupView group);
  // The copies planned so far; the caller may take them away.
  std::vector<BlockCopy>& copies() { return m_plan.copies; }
  RangePlan Finish();

 private:
  std::int64_t m_first;
  std::int64_t m_last;
  std::int64_t m_size;
  std::int64_t m_written = 0;
  RangePlan m_plan;
};

// ExtractReadableRange's plan: the usable blocks only, each at its own
// position; `masks` holds one mask per group.
RangePlan PlanReadableRange(std::span<const GroupView> groups, std::span<const GroupSectorMask> masks,
                            std::uint32_t start, std::uint32_t end, std::uint64_t outSize);

// Decodes (or copies) one planned block into `out`, the whole output.
// `scratch` is a block's room for decoding.
void CopyBlock(GroupView group, const BlockCopy& copy, std::uint8_t* out, std::uint8_t* scratch);

// Walks the block tables of `groups` (in ascending order) and fills `out`
// (sized by the caller to the file's length) from its start with the blocks
// that cover [start, end). Returns true when every byte of `out` was
// supplied by a block; bytes that no block supplies stay as they were.
// A table entry that points outside its group buffer yields nothing.
// `unsupplied`, when given, receives the ranges of `out` (offsets into it)
// that no block supplied.
bool ExtractRange(std::span<const GroupBuffer> groups, std::uint32_t start, std::uint32_t end,
                  std::span<std::uint8_t> out, std::vector<ByteSpan>* unsupplied = nullptr);
bool ExtractRange(const std::vector<GroupBuffer>& groups, std::uint32_t start, std::uint32_t end,
                  std::span<std::uint8_t> out, std::vector<ByteSpan>* unsupplied = nullptr);

// A group's block table as read, with what its unreadable sectors took.
struct GroupBlocks {
  struct Block {
    std::int64_t position = 0;  // volume byte of the block's first byte
    std::int64_t begin = 0;     // group buffer offset of its stored data
    std::int64_t end = 0;       // buffer offset after it
    bool usable = false;        // its stored data lies in the buffer and was read whole
  };
  // The header and the entries (from the group's sector 1 on) were not read
  // whole: nothing of the group is known, every byte of it is lost.
  bool tableLost = false;
  std::vector<Block> blocks;
};

// The table of a group buffer whose `unreadable` sectors are zeros. Only the
// table's own bytes are looked at; the buffer must have its full size.
GroupBlocks ReadGroupBlocks(std::span<const std::uint8_t> buffer, const GroupSectorMask& unreadable);

// Called for each usable block that covers part of the range: the group it
// is in, the block, the bytes of the block to skip, where in `out` its bytes
// go and how many.
using BlockVisitor = std::function<void(std::size_t group, const GroupBlocks::Block& block, std::int64_t skip,
                                        std::int64_t at, std::int64_t length)>;

// Walks the tables like ExtractRange, but places every block at its own
// volume position (byte v of the volume is byte v - start of `out`) and
// passes over the blocks that are not usable. Returns the ranges of
// [0, outSize) that no usable block covers: what a salvage lost.
std::vector<ByteSpan> WalkUsableBlocks(const std::vector<GroupBlocks>& groups, std::uint32_t start,
                                       std::uint32_t end, std::uint64_t outSize, const BlockVisitor& visit);

// Fills `out` from the groups with every block that could be read, at its
// own position; the rest of `out` is zeros. `masks` holds one mask per
// group. Returns the ranges of `out` that were lost.
std::vector<ByteSpan> ExtractReadableRange(std::span<const GroupBuffer> groups,
                                           std::span<const GroupSectorMask> masks, std::uint32_t start,
                                           std::uint32_t end, std::span<std::uint8_t> out);

}  // namespace kestrow
