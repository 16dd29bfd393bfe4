// The packed-data table, group choice and range extraction on arbitrary
// tables, group buffers and ranges.
//
// Input: a 16-byte header, then the table, then the group buffers.
//   0  range start (32-bit), 4 range end (32-bit), 8 output length (24-bit,
//      up to 16 MiB, cut to 1 MiB), 11 group count (0..3) and whether the
//      groups are padded to their full 505,856 bytes (bit 2), 12 table length
//      (16-bit), 14 the offset that FindGroupIndex is asked about (16-bit,
//      in 512-byte units).
//   The table bytes follow "Pack" at image offset 0x0C04 of an image of at
//   least 15,360 bytes; the rest is cut into the group buffers.
//
// Properties:
// - ReadPackTable succeeds, appends no more boundaries than the table counts
//   or the image holds, each a non-negative multiple of 512 (or 2^31 - 1,
//   where a boundary beyond that is held);
// - FindGroupIndex gives -1 only for an empty list, otherwise a group whose
//   span holds the offset (the highest such), or n - 1 when none does;
// - ExtractRange leaves the output's size alone, and with no groups supplies
//   nothing and changes nothing.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "recovery/DataLocation.h"
#include "recovery/ExtractRange.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace {

using namespace kestrow;
using fuzz::Require;

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kMaxOutput = 1u << 20;
constexpr std::uint8_t kUntouched = 0xA5;

VolumeImage MakeImage(std::span<const std::uint8_t> table) {
  constexpr std::size_t kTableBody = format::kPackTableOffset + 4;
  VolumeImage image(std::max(format::kVolumeOffset, kTableBody + table.size()), 0);
  std::memcpy(image.data() + format::kPackTableOffset, format::kPackSignature, 4);
  std::copy(table.begin(), table.end(), image.begin() + kTableBody);
  return image;
}

void CheckPackTable(const VolumeImage& image, std::vector<std::int32_t>& boundaries) {
  Require(ReadPackTable(image, boundaries), "a table with \"Pack\" in a long enough image is read");
  const std::uint32_t count = *ByteReader(image).be24(format::kPackCountOffset);
  const std::size_t lastValueEnd = format::kPackEntriesOffset + boundaries.size() * format::kPackEntrySize -
                                   format::kPackEntrySize + format::kPackEntryValueOffset + 3;
  Require(boundaries.size() <= count, "no boundary is read past the table");
  Require(boundaries.empty() || lastValueEnd <= image.size(), "no boundary is read past the image");
  for (const std::int32_t b : boundaries) {
    Require(b >= 0 && (b % static_cast<std::int32_t>(format::kUnitSize) == 0 || b == INT32_MAX),
            "a boundary is a non-negative multiple of 512, or the largest offset");
  }
}

void CheckFindGroupIndex(const std::vector<std::int32_t>& boundaries, std::int32_t offset) {
  const int n = static_cast<int>(boundaries.size());
  const int group = FindGroupIndex(boundaries, offset);
  if (n == 0) {
    Require(group == -1, "an empty list gives -1");
    return;
  }
  Require(group >= 0 && group <= n - 1, "the group lies in the list");
  const auto holds = [&](int j) { return boundaries[j] <= offset && offset < boundaries[j + 1]; };
  if (group < n - 1) Require(holds(group), "the chosen group's span holds the offset");
  if (n > 1) {
    for (int j = group + 1; j + 1 < n; ++j) Require(!holds(j), "no later group's span holds the offset");
    if (group == n - 1) {
      for (int j = 0; j + 1 < n; ++j) Require(!holds(j), "n - 1 only when no span holds the offset");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return 0;
  const ByteReader header(std::span<const std::uint8_t>(data, kHeaderSize));
  const std::uint32_t start = *header.be32(0);
  const std::uint32_t end = *header.be32(4);
  const std::size_t outLength = std::min<std::size_t>(*header.be24(8), kMaxOutput);
  const std::size_t groupCount = data[11] & 3u;
  const bool fullGroups = (data[11] & 4u) != 0;
  const std::size_t tableLength = std::min<std::size_t>(*header.be16(12), size - kHeaderSize);
  const auto offset = static_cast<std::int32_t>(*header.be16(14) * format::kUnitSize);

  const std::span<const std::uint8_t> rest(data + kHeaderSize, size - kHeaderSize);
  const VolumeImage image = MakeImage(rest.first(tableLength));
  std::vector<std::int32_t> boundaries;
  CheckPackTable(image, boundaries);
  CheckFindGroupIndex(boundaries, offset);
  CheckFindGroupIndex(boundaries, static_cast<std::int32_t>(start));
  if (!boundaries.empty()) CheckFindGroupIndex(boundaries, boundaries.back());
  GroupBaseSector(static_cast<int>(start), static_cast<int>(end), static_cast<int>(boundaries.size()));

  const std::span<const std::uint8_t> packed = rest.subspan(tableLength);
  std::vector<GroupBuffer> groups(groupCount);
  for (std::size_t g = 0; g < groupCount; ++g) {
    const std::size_t each = packed.size() / groupCount;
    groups[g].assign(packed.begin() + static_cast<std::ptrdiff_t>(g * each),
                     packed.begin() + static_cast<std::ptrdiff_t>((g + 1) * each));
    if (fullGroups) groups[g].resize(std::max(groups[g].size(), format::kGroupBufferSize), 0);
  }
  std::vector<std::uint8_t> out(outLength, kUntouched);
  const bool complete = ExtractRange(groups, start, end, out);
  Require(out.size() == outLength, "ExtractRange keeps the output's size");
  if (groups.empty()) {
    Require(complete == out.empty(), "with no groups only an empty range is complete");
    Require(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == kUntouched; }),
            "with no groups the output is unchanged");
  }
  return 0;
}
