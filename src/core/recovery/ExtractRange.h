// Copying one byte range of the volume out of the block tables and blocks
// of the sector groups that hold it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrow {

using GroupBuffer = std::vector<std::uint8_t>;

// Walks the block tables of `groups` (in ascending order) and fills `out`
// (sized by the caller to the file's length) from its start with the blocks
// that cover [start, end). Returns true when every byte of `out` was
// supplied by a block; bytes that no block supplies stay as they were.
// A table entry that points outside its group buffer yields nothing.
bool ExtractRange(const std::vector<GroupBuffer>& groups, std::uint32_t start, std::uint32_t end,
                  std::span<std::uint8_t> out);

}  // namespace kestrow
