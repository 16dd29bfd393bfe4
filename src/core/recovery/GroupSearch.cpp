// Searching the data track for the groups' block tables.
#include "recovery/GroupSearch.h"

#include <algorithm>
#include <map>
#include <set>

#include "drive/SectorCheck.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::int64_t kBlock = static_cast<std::int64_t>(format::kBlockSize);
constexpr std::int64_t kGroupEnd = static_cast<std::int64_t>(format::kGroupSectors * format::kUserDataSize);
constexpr std::size_t kEntriesInSector =
    (format::kUserDataSize - format::kGroupEntriesOffset) / format::kGroupEntrySize;
// Sectors handed to one run of the search: READ CDs of many sectors each.
constexpr std::int32_t kSearchRun = static_cast<std::int32_t>(format::kGroupSectors);
constexpr std::int32_t kStep = static_cast<std::int32_t>(format::kGroupSectors);

// A group found in the chain, or one whose table sector could not be read.
struct ChainLink {
  std::int32_t lba = 0;  // the table sector (the group's sector 1)
  std::optional<GroupTableSector> table;
};

// Group k's first volume byte, for groups whose table could not be read: a
// lost group holds nothing that could be read, so it is given a sliver just
// before the next group found (or the volume's first bytes, ahead of every
// group found), and files placed there are lost with it.
std::vector<std::int32_t> ChainBoundaries(const std::vector<ChainLink>& chain) {
  std::vector<std::int32_t> boundaries(chain.size());
  std::int64_t next = kOpenGroupEnd;
  std::size_t lostAhead = 0;
  for (std::size_t i = chain.size(); i-- > 0;) {
    if (chain[i].table) {
      next = chain[i].table->firstPosition;
      lostAhead = 0;
      boundaries[i] = static_cast<std::int32_t>(next);
    } else {
      ++lostAhead;
      boundaries[i] = static_cast<std::int32_t>(std::max<std::int64_t>(next - std::int64_t(lostAhead), 0));
    }
  }
  // Keep them rising: leading lost groups start at volume byte 0.
  for (std::size_t i = 1; i < boundaries.size(); ++i) {
    boundaries[i] = std::max(boundaries[i], boundaries[i - 1] + 1);
  }
  boundaries.push_back(kOpenGroupEnd);
  return boundaries;
}

}  // namespace

std::optional<GroupTableSector> ParseGroupTableSector(std::span<const std::uint8_t> userData) {
  const ByteReader reader(userData);
  if (!reader.has(0, format::kUserDataSize)) return std::nullopt;
  const std::uint32_t count = *reader.be16(format::kGroupBlockCountOffset);
  const std::int64_t end = *reader.be32(format::kGroupDataEndOffset);
  const std::int64_t tableEnd = static_cast<std::int64_t>(format::kGroupDataOffsetBias + format::kGroupEntriesOffset +
                                                          std::size_t{count} * format::kGroupEntrySize);
  // Every block has stored data after the table and before the end.
  if (count == 0 || end > kGroupEnd || end < tableEnd + count) return std::nullopt;
  GroupTableSector table;
  table.blockCount = count;
  const std::size_t entries = std::min<std::size_t>(count, kEntriesInSector);
  std::int64_t previousOffset = tableEnd - 1;
  for (std::size_t j = 0; j < entries; ++j) {
    const std::size_t at = format::kGroupEntriesOffset + j * format::kGroupEntrySize;
    const std::int64_t position = std::int64_t{*reader.be24(at + format::kGroupEntryPositionOffset)} *
                                  static_cast<std::int64_t>(format::kUnitSize);
    const std::int64_t offset = *reader.be24(at + format::kGroupEntryDataOffsetOffset);
    if (offset <= previousOffset || offset >= end) return std::nullopt;
    if (j > 0 && position < table.lastPosition + kBlock) return std::nullopt;
    // Volume offsets are 31-bit.
    if (position > kOpenGroupEnd - 2 * kBlock) return std::nullopt;
    if (j == 0) table.firstPosition = position;
    table.lastPosition = position;
    previousOffset = offset;
  }
  table.wholeTable = entries == count;
  return table;
}

GroupSearch SearchGroups(SectorReader& reader, std::int32_t sectorCount, const ReadPolicy& readPolicy,
                         const UnreadableSink& sink) {
  GroupSearch search;
  const ReadPolicy policy{readPolicy.retries, true};
  std::set<std::int32_t> unreadable;
  const UnreadableSink note = [&](std::int32_t lba) {
    unreadable.insert(lba);
    if (sink) sink(lba);
  };
  const auto userData = [](std::span<const std::uint8_t> raw) { return UserDataOf(raw); };
  const auto whole = [](std::span<const std::uint8_t> raw) {
    return UserDataOf(raw).size() == format::kUserDataSize;
  };

  // The first table that another follows 248 sectors on: read in long runs,
  // so a healthy stretch costs one READ CD per 27 sectors.
  std::map<std::int32_t, GroupTableSector> candidates;  // plausible tables of the last 248 sectors
  std::map<std::int32_t, GroupTableSector> tables;      // every plausible table the search saw
  std::int32_t first = -1;
  for (std::int32_t lba = 0; lba < sectorCount && first < 0 && !reader.DiscChanged(); lba += kSearchRun) {
    const std::int32_t count = std::min(kSearchRun, sectorCount - lba);
    reader.ReadSectorRun(lba, count, [&](std::int32_t at, std::span<const std::uint8_t> raw) {
      if (!whole(raw)) return false;
      ++search.sectorsRead;
      candidates.erase(candidates.begin(), candidates.lower_bound(at - kStep));
      const std::optional<GroupTableSector> table = ParseGroupTableSector(userData(raw));
      if (!table) return true;
      const auto before = candidates.find(at - kStep);
      // A group's table lies in its sector 1, so never in LBA 0.
      if (first < 0 && before != candidates.end() && before->first >= 1 &&
          table->firstPosition > before->second.lastPosition) {
        first = at - kStep;
      }
      candidates.emplace(at, *table);
      tables.emplace(at, *table);
      return true;
    }, policy, note);
  }
  if (first < 0) return search;

  // Then one sector every 248: each group's table sector.
  std::vector<ChainLink> chain;
  std::int64_t lastPosition = -1;
  std::vector<ChainLink> lostRun;  // groups lost since the last one found
  for (std::int64_t lba = first; lba < sectorCount && !reader.DiscChanged(); lba += kStep) {
    std::optional<GroupTableSector> table;
    bool read = false;
    reader.ReadSectorRun(static_cast<std::int32_t>(lba), 1, [&](std::int32_t, std::span<const std::uint8_t> raw) {
      if (!whole(raw)) return false;
      read = true;
      ++search.sectorsRead;
      table = ParseGroupTableSector(userData(raw));
      return true;
    }, policy, note);
    if (!read) {
      lostRun.push_back(ChainLink{static_cast<std::int32_t>(lba), std::nullopt});
      continue;
    }
    // The groups end where a readable sector holds no table that goes on
    // from the last one.
    if (!table || table->firstPosition <= lastPosition) break;
    chain.insert(chain.end(), lostRun.begin(), lostRun.end());
    lostRun.clear();
    chain.push_back(ChainLink{static_cast<std::int32_t>(lba), table});
    lastPosition = table->lastPosition;
  }
  // Nothing placed (the first table's sector failed when read again, or the
  // disc changed): no group is found.
  if (chain.empty() || reader.DiscChanged()) return search;
  // Back from the first group found: groups whose table sectors could not
  // be read (which kept the first one from being confirmed earlier), and
  // readable tables before them that end where the next group begins.
  std::vector<ChainLink> back;  // nearest first
  std::vector<ChainLink> lostBack;
  std::int64_t nextFirst = chain.front().table->firstPosition;
  for (std::int64_t lba = std::int64_t{first} - kStep; lba >= 1; lba -= kStep) {
    const auto at = static_cast<std::int32_t>(lba);
    if (unreadable.count(at) > 0) {
      lostBack.push_back(ChainLink{at, std::nullopt});
      continue;
    }
    const auto seen = tables.find(at);
    if (seen == tables.end() || seen->second.lastPosition >= nextFirst) break;
    back.insert(back.end(), lostBack.begin(), lostBack.end());
    lostBack.clear();
    back.push_back(ChainLink{at, seen->second});
    nextFirst = seen->second.firstPosition;
  }
  // Lost groups ahead of them all, unless the earliest found begins the volume.
  if (nextFirst > 0) back.insert(back.end(), lostBack.begin(), lostBack.end());
  chain.insert(chain.begin(), back.rbegin(), back.rend());

  search.base = chain.front().lba - 1;
  search.boundaries = ChainBoundaries(chain);
  for (std::size_t k = 0; k < chain.size(); ++k) {
    if (!chain[k].table) {
      search.lost.push_back(static_cast<int>(k));
      continue;
    }
    const GroupTableSector& t = *chain[k].table;
    std::int64_t end = t.lastPosition + kBlock;
    if (!t.wholeTable && k + 1 < chain.size() && chain[k + 1].table) end = chain[k + 1].table->firstPosition;
    search.found.push_back(static_cast<int>(k));
    search.spans.emplace_back(t.firstPosition, end);
  }
  return search;
}

}  // namespace kestrow
