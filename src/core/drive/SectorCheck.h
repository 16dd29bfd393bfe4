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

}  // namespace kestrow
