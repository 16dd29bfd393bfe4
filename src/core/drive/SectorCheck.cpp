#include "drive/SectorCheck.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "drive/Mode1Sector.h"
#include "drive/RawSector.h"

namespace kestrow {
namespace {

constexpr std::size_t kHeaderOffset = 12;
constexpr std::size_t kModeOffset = 15;
constexpr std::size_t kHeaderEnd = 16;
// Mode 1: EDC over bytes 0..2063, then 8 zero bytes and the parity.
constexpr std::size_t kMode1EdcOffset = 2064;
constexpr std::size_t kMode1IntermediateOffset = 2068;
constexpr std::size_t kMode1ParityOffset = 2076;
// Mode 2 Form 1: a subheader twice (16..19, 20..23), 2048 bytes, EDC over
// bytes 16..2071, then the parity.
constexpr std::size_t kSubheaderOffset = 16;
constexpr std::size_t kSubheaderCopy = 4;
constexpr std::size_t kSubmodeByte = 2;
constexpr std::uint8_t kForm2Bit = 0x20;
constexpr std::size_t kForm1UserDataOffset = 24;
constexpr std::size_t kForm1EdcOffset = 2072;
// Mode 2 Form 2: 2324 bytes after the subheader, then an optional EDC over
// bytes 16..2347 (zero when the writer left it out).
constexpr std::size_t kForm2EdcOffset = 2348;

// A sync pattern with more wrong bytes than this is not a data sector's
// unless its header says so: audio and unreadable holes are taken as they
// come.
constexpr int kMaxSyncDamage = 3;

struct Layout {
  std::size_t edcFrom;     // first byte the EDC covers
  std::size_t edcOffset;   // where the EDC is stored (it covers the bytes before it)
  bool zeroHeader;         // the parity is computed with the header as zero
};

constexpr Layout kMode1{0, kMode1EdcOffset, false};
constexpr Layout kForm1{kSubheaderOffset, kForm1EdcOffset, true};
constexpr Layout kForm2{kSubheaderOffset, kForm2EdcOffset, true};

std::uint32_t StoredEdc(std::span<const std::uint8_t> raw, std::size_t offset) {
  return static_cast<std::uint32_t>(raw[offset]) | static_cast<std::uint32_t>(raw[offset + 1]) << 8 |
         static_cast<std::uint32_t>(raw[offset + 2]) << 16 | static_cast<std::uint32_t>(raw[offset + 3]) << 24;
}

bool EdcMatches(std::span<const std::uint8_t> raw, const Layout& layout) {
  if (raw.size() < layout.edcOffset + 4) return false;
  return ComputeMode1Edc(raw.subspan(layout.edcFrom, layout.edcOffset - layout.edcFrom)) ==
         StoredEdc(raw, layout.edcOffset);
}

bool AllZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool AddressMatches(std::uint32_t lba, std::span<const std::uint8_t> raw) {
  const auto address = SectorAddress(lba);
  return std::equal(address.begin(), address.end(), raw.begin() + kHeaderOffset);
}

// A header with the sector's own address and a data mode: a data sector,
// however damaged its sync pattern (audio does not look like this).
bool HeaderNamesDataSector(std::uint32_t lba, std::span<const std::uint8_t> raw) {
  return AddressMatches(lba, raw) && (raw[kModeOffset] == 1 || raw[kModeOffset] == 2);
}

// 1: both subheader copies say Form 1; 2: both say Form 2; 0: they disagree.
int Form(std::span<const std::uint8_t> raw) {
  const bool first = (raw[kSubheaderOffset + kSubmodeByte] & kForm2Bit) != 0;
  const bool second = (raw[kSubheaderOffset + kSubheaderCopy + kSubmodeByte] & kForm2Bit) != 0;
  if (first != second) return 0;
  return first ? 2 : 1;
}

// Rewrites the parity (and Mode 1's zero bytes) of a sector whose EDC checks.
// True when a byte changed.
bool RewriteParity(std::span<std::uint8_t> raw, const Layout& layout) {
  std::array<std::uint8_t, format::kRawSectorSize> before{};
  std::copy(raw.begin(), raw.begin() + format::kRawSectorSize, before.begin());
  if (!layout.zeroHeader) {
    std::fill(raw.begin() + kMode1IntermediateOffset, raw.begin() + kMode1ParityOffset, std::uint8_t{0});
  }
  WriteSectorParity(raw, layout.zeroHeader);
  return !std::equal(before.begin(), before.end(), raw.begin());
}

// A whole data sector of the given layout: checked, and mended when its
// EDC fails. `mended` says whether the sync pattern was already put right.
SectorVerdict CheckDataSector(std::uint32_t lba, std::span<std::uint8_t> raw, const Layout& layout,
                              std::uint8_t mode, ParityUse parity, bool mended) {
  const auto edcAndParity = raw.subspan(layout.edcOffset);
  const auto isRight = [&] {
    return raw[kModeOffset] == mode && EdcMatches(raw, layout) && AddressMatches(lba, raw) &&
           (mode != 2 || Form(raw) == 1);
  };
  if (raw[kModeOffset] == mode && EdcMatches(raw, layout)) {
    // The EDC covers the header (Mode 1) or the parity was checked against
    // it (Form 1): a sector that checks but names another address is
    // another sector.
    if (!AddressMatches(lba, raw) || (mode == 2 && Form(raw) != 1)) return SectorVerdict::kBad;
    if (parity == ParityUse::kAlsoRewrite && RewriteParity(raw, layout)) mended = true;
    return mended ? SectorVerdict::kRepaired : SectorVerdict::kGood;
  }
  if (raw[kModeOffset] == mode && AllZero(edcAndParity) && !mended) {
    return AddressMatches(lba, raw) ? SectorVerdict::kNoEdc : SectorVerdict::kBad;
  }
  if (!CorrectWithParity(raw, layout.zeroHeader)) return SectorVerdict::kBad;
  return isRight() ? SectorVerdict::kRepaired : SectorVerdict::kBad;
}

// Mode 2: a Form 1 sector is checked like a Mode 1 sector. A Form 2 sector
// is taken as it comes unless its optional EDC is there and fails: then, as
// when the Form 1 check fails, the sector may be a Form 1 sector with a
// damaged subheader or a Mode 1 sector with a damaged mode byte, and both
// repairs are tried.
SectorVerdict CheckMode2Sector(std::uint32_t lba, std::span<std::uint8_t> raw, ParityUse parity, bool mended) {
  const bool looksForm2 = Form(raw) == 2;
  const std::uint32_t form2Edc = StoredEdc(raw, kForm2EdcOffset);
  if (looksForm2 && form2Edc != 0 && EdcMatches(raw, kForm2)) {
    if (!AddressMatches(lba, raw)) return SectorVerdict::kBad;
    return mended ? SectorVerdict::kRepaired : SectorVerdict::kGood;
  }
  // A Form 2 sector whose sync pattern had to be mended has nothing to
  // vouch for it.
  const bool form2 = looksForm2 && !mended;
  if (!form2 || form2Edc != 0) {
    // A sector that fails either way: its bytes stay as they came for the
    // second try.
    std::array<std::uint8_t, format::kRawSectorSize> came{};
    std::copy(raw.begin(), raw.end(), came.begin());
    const SectorVerdict asForm1 = CheckDataSector(lba, raw, kForm1, 2, parity, mended);
    if (asForm1 != SectorVerdict::kBad) return asForm1;
    std::copy(came.begin(), came.end(), raw.begin());
    const SectorVerdict asMode1 = CheckDataSector(lba, raw, kMode1, 1, parity, mended);
    if (asMode1 != SectorVerdict::kBad || !form2) return asMode1;
    std::copy(came.begin(), came.end(), raw.begin());
    return SectorVerdict::kBad;
  }
  // Form 2 without an EDC: nothing to check it by but its address.
  return AddressMatches(lba, raw) ? SectorVerdict::kAsItComes : SectorVerdict::kBad;
}

// Fewer bytes than a sector: what they hold is checked, nothing is mended.
SectorVerdict CheckShortSector(std::uint32_t lba, std::span<const std::uint8_t> raw) {
  if (raw.size() < kHeaderEnd) return SectorVerdict::kAsItComes;
  const int damage = SyncPatternDistance(raw);
  if (damage > kMaxSyncDamage && !HeaderNamesDataSector(lba, raw)) return SectorVerdict::kAsItComes;
  if (damage > 0 || !AddressMatches(lba, raw)) return SectorVerdict::kBad;
  const std::uint8_t mode = raw[kModeOffset];
  const bool form1 = mode == 2 && raw.size() >= kForm1EdcOffset && Form(raw) == 1;
  if (mode != 1 && !form1) return mode == 2 || mode == 0 ? SectorVerdict::kAsItComes : SectorVerdict::kBad;
  const Layout& layout = mode == 1 ? kMode1 : kForm1;
  if (raw.size() < layout.edcOffset + 4) return SectorVerdict::kAsItComes;
  if (EdcMatches(raw, layout)) return SectorVerdict::kGood;
  return AllZero(raw.subspan(layout.edcOffset)) ? SectorVerdict::kNoEdc : SectorVerdict::kBad;
}

}  // namespace

DataSectorCheck CheckUserDataSector(std::uint32_t lba, std::span<std::uint8_t> raw, bool sourceCarriesEdc) {
  DataSectorCheck result;
  if (raw.size() < format::kRawSectorSize) {
    result.verdict = DataSectorVerdict::kShort;
    return result;
  }
  raw = raw.first(format::kRawSectorSize);
  if (AllZero(raw)) {
    result.verdict = DataSectorVerdict::kAllZero;
    return result;
  }
  result.check = CheckRawSector(lba, raw);
  // A Form 2 sector checks too, by its own EDC; only Mode 1 and Form 1 hold data.
  const bool dataMode = raw[kModeOffset] == 1 || (raw[kModeOffset] == 2 && Form(raw) == 1);
  switch (result.check) {
    case SectorVerdict::kGood:
    case SectorVerdict::kRepaired:
      result.verdict = dataMode ? DataSectorVerdict::kData : DataSectorVerdict::kNotData;
      break;
    case SectorVerdict::kNoEdc:
      if (!dataMode) {
        result.verdict = DataSectorVerdict::kNotData;
      } else {
        result.verdict = sourceCarriesEdc ? DataSectorVerdict::kNoEdcHere : DataSectorVerdict::kData;
      }
      break;
    case SectorVerdict::kAsItComes:
      result.verdict = DataSectorVerdict::kNotData;
      break;
    case SectorVerdict::kBad:
      result.verdict = DataSectorVerdict::kBad;
      break;
  }
  return result;
}

EdcPresence EdcPresenceOf(std::span<const std::uint8_t> raw) {
  if (raw.size() < format::kRawSectorSize || SyncPatternDistance(raw) != 0) return EdcPresence::kNotADataSector;
  std::size_t edcOffset = 0;
  if (raw[kModeOffset] == 1) {
    edcOffset = kMode1EdcOffset;
  } else if (raw[kModeOffset] == 2 && Form(raw) == 1) {
    edcOffset = kForm1EdcOffset;
  } else {
    return EdcPresence::kNotADataSector;
  }
  return AllZero(raw.subspan(edcOffset, format::kRawSectorSize - edcOffset)) ? EdcPresence::kAbsent
                                                                              : EdcPresence::kPresent;
}

std::span<const std::uint8_t> UserDataOf(std::span<const std::uint8_t> raw) {
  const std::size_t offset = raw.size() > kModeOffset && raw[kModeOffset] == 2 ? kForm1UserDataOffset : kHeaderEnd;
  if (raw.size() < offset + format::kUserDataSize) return {};
  return raw.subspan(offset, format::kUserDataSize);
}

SectorVerdict CheckRawSector(std::uint32_t lba, std::span<std::uint8_t> raw, ParityUse parity) {
  if (raw.size() < format::kRawSectorSize) return CheckShortSector(lba, raw);
  raw = raw.first(format::kRawSectorSize);
  const int damage = SyncPatternDistance(raw);
  if (damage > kMaxSyncDamage && !HeaderNamesDataSector(lba, raw)) return SectorVerdict::kAsItComes;
  const bool syncMended = damage > 0;
  if (syncMended) WriteSyncPattern(raw);
  switch (raw[kModeOffset]) {
    case 1:
      return CheckDataSector(lba, raw, kMode1, 1, parity, syncMended);
    case 2:
      return CheckMode2Sector(lba, raw, parity, syncMended);
    case 0:
      if (AllZero(raw.subspan(kHeaderEnd)) && !syncMended) {
        return AddressMatches(lba, raw) ? SectorVerdict::kAsItComes : SectorVerdict::kBad;
      }
      [[fallthrough]];
    default:
      // A mode byte the parity may mend back to 1.
      return CheckDataSector(lba, raw, kMode1, 1, parity, syncMended);
  }
}

}  // namespace kestrow
