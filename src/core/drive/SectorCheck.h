// The check every raw sector passes before anything uses it: its sync
// pattern, the header's address against the sector asked for, the mode, and
// the EDC; a data sector that fails is mended from its P and Q parity where
// the damage allows.
#pragma once

#include <cstdint>
#include <span>

namespace kestrow {

enum class SectorVerdict {
  kGood,       // a Mode 1 or Mode 2 Form 1 sector whose sync, address, mode and EDC check
  kRepaired,   // such a sector that failed and was mended (parity, sync pattern); it checks now
  kNoEdc,      // a data sector whose EDC and parity bytes are all zero (an image written
               // without them), taken as it is
  kAsItComes,  // not Mode 1 / Mode 2 Form 1 data (audio, Form 2, mode 0) or too short to
               // say: taken as it comes
  kBad,        // a data sector that fails and cannot be mended, or one of another address
};

enum class ParityUse {
  kWhenEdcFails,  // the parity is read only to mend a sector whose EDC fails
  kAlsoRewrite,   // and a sector whose EDC checks gets its parity bytes rewritten
                  // from its data, so that a dump holds what the disc was written with
};

// Checks sector `lba` in `raw`, the bytes a READ CD delivered for it, and
// mends it in place where it can. A whole sector is 2352 bytes; fewer (a
// short transfer) are checked as far as they go and never mended. The bytes
// of a sector judged kBad are not to be used.
SectorVerdict CheckRawSector(std::uint32_t lba, std::span<std::uint8_t> raw,
                             ParityUse parity = ParityUse::kWhenEdcFails);

// What a sector that came back is worth to a reader of user data (the volume
// area, the trailer, the sector groups). Only the sector asked for is data:
// every verdict but kData is a failed read of that sector.
enum class DataSectorVerdict {
  kData,        // a Mode 1 or Mode 2 Form 1 sector of the address asked for, checked
  kShort,       // fewer than 2352 bytes came back
  kAllZero,     // every byte is zero: nothing was ever read into it (a rescue image's hole)
  kNotData,     // audio, Mode 2 Form 2, mode 0, or a sector whose sync and header are not
                // this address's (another sector with a damaged sync)
  kNoEdcHere,   // EDC and parity all zero on a source whose sectors carry an EDC
  kBad,         // damaged beyond its parity's help, or a sector of another address
};

struct DataSectorCheck {
  DataSectorVerdict verdict = DataSectorVerdict::kBad;
  SectorVerdict check = SectorVerdict::kBad;  // what the sector check found (kData: how it was taken)
};

// Checks sector `lba` in `raw` as CheckRawSector does, then applies the rule
// above. A sector without EDC (kNoEdc) is data only when `sourceCarriesEdc`
// is false: an image written without EDC at all.
DataSectorCheck CheckUserDataSector(std::uint32_t lba, std::span<std::uint8_t> raw, bool sourceCarriesEdc);

// Whether a whole raw sector is a data sector (right sync, Mode 1 or Mode 2
// Form 1) that has its EDC and parity, without judging them.
enum class EdcPresence { kPresent, kAbsent, kNotADataSector };
EdcPresence EdcPresenceOf(std::span<const std::uint8_t> raw);

// The 2048 bytes of user data of a sector judged kData: at byte 16 of a
// Mode 1 sector, at byte 24 (after the subheader) of a Mode 2 Form 1 one.
std::span<const std::uint8_t> UserDataOf(std::span<const std::uint8_t> raw);

}  // namespace kestrow
