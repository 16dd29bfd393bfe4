// The check of a raw sector: the input is the LBA asked for (4 bytes, little
// endian) and the bytes the drive delivered (any length).
//
// Properties:
// - bytes taken as they come, or without an EDC, are left as they were;
// - a Mode 1 sector judged good or mended is the very sector that its user
//   data and address make (sync, header, EDC and, when the parity is
//   rewritten, P and Q), so nothing wrong passes for right;
// - checking a sector that passed again leaves it as it is;
// - a sector a reader of user data takes is whole, of the address asked
//   for, Mode 1 or Mode 2 Form 1, and has 2048 bytes of user data.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "drive/Mode1Sector.h"
#include "drive/SectorCheck.h"

namespace {

using namespace kestrow;
using fuzz::Require;

void CheckOnce(std::uint32_t lba, std::vector<std::uint8_t> bytes, ParityUse parity) {
  const std::vector<std::uint8_t> came = bytes;
  const SectorVerdict verdict = CheckRawSector(lba, bytes, parity);
  if (verdict == SectorVerdict::kAsItComes || verdict == SectorVerdict::kNoEdc) {
    Require(bytes == came, "a sector taken as it comes is left as it came");
  }
  if (verdict == SectorVerdict::kBad) return;
  const bool passed = verdict == SectorVerdict::kGood || verdict == SectorVerdict::kRepaired;
  if (passed && bytes.size() >= 2352 && bytes[15] == 1) {
    std::array<std::uint8_t, 2352> rebuilt{};
    SynthesizeMode1Sector(lba, std::span<const std::uint8_t>(bytes).subspan(16, 2048), rebuilt);
    const std::size_t compared = parity == ParityUse::kAlsoRewrite ? 2352 : 2068;
    Require(std::equal(rebuilt.begin(), rebuilt.begin() + static_cast<std::ptrdiff_t>(compared), bytes.begin()),
            "a Mode 1 sector that passed is the sector its data and address make");
  }
  std::vector<std::uint8_t> again = bytes;
  const SectorVerdict second = CheckRawSector(lba, again, parity);
  Require(second != SectorVerdict::kBad && again == bytes, "a sector that passed passes again unchanged");
}

void CheckAsUserData(std::uint32_t lba, std::vector<std::uint8_t> bytes, bool sourceCarriesEdc) {
  const DataSectorCheck check = CheckUserDataSector(lba, bytes, sourceCarriesEdc);
  if (check.verdict != DataSectorVerdict::kData) return;
  Require(bytes.size() >= 2352 && HasSyncPattern(bytes), "data is a whole sector with its sync");
  const auto address = SectorAddress(lba);
  Require(std::equal(address.begin(), address.end(), bytes.begin() + 12), "data is the sector asked for");
  Require(bytes[15] == 1 || (bytes[15] == 2 && (bytes[18] & 0x20) == 0), "data is Mode 1 or Mode 2 Form 1");
  Require(UserDataOf(bytes).size() == 2048, "data has its 2048 bytes");
  Require(sourceCarriesEdc ? check.check != SectorVerdict::kNoEdc : true, "no sector without EDC from an EDC source");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t lba = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                            static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  const std::vector<std::uint8_t> bytes(data + 4, data + std::min<std::size_t>(size, 4 + 2352));
  CheckOnce(lba, bytes, ParityUse::kWhenEdcFails);
  CheckOnce(lba, bytes, ParityUse::kAlsoRewrite);
  CheckAsUserData(lba, bytes, true);
  CheckAsUserData(lba, bytes, false);
  return 0;
}
