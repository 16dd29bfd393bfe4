// Cue sheets that describe a single Mode 1 data track in one file, the form
// in which a dumped data CD is usually kept beside its .bin or .iso.
//
// The parser works on text in memory and never throws: anything it cannot
// take as one FILE with one MODE1/2352 or MODE1/2048 TRACK whose INDEX 01 is
// at 00:00:00 fails with a short reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrow {

// Cue sheets are small; a larger file is not taken for one.
inline constexpr std::size_t kMaxCueSheetSize = 64 * 1024;

struct CueSheet {
  std::string dataFile;          // as the FILE line names it (relative to the sheet's folder)
  std::uint32_t sectorSize = 0;  // 2352 (MODE1/2352) or 2048 (MODE1/2048)
};

// Parses `text` into `sheet`. On failure returns false, leaves `sheet`
// unchanged and sets `reason` ("MODE2/2352 tracks are not supported",
// "line 4: INDEX 01 does not start at 00:00:00").
bool ParseCueSheet(std::string_view text, CueSheet& sheet, std::string& reason);

// True when `text` reads as a cue sheet at all: text without NUL or other
// control bytes, every non-blank line opening with a cue sheet keyword, and
// a FILE line among them. Such a sheet may still describe a disc that
// ParseCueSheet rejects. When it is not, `why` (if given) says so
// ("line 3: unknown keyword FOO").
bool LooksLikeCueSheet(std::string_view text, std::string* why = nullptr);

}  // namespace kestrow
