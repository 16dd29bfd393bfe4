// Cue sheets: the input is the sheet's text.
//
// Properties:
// - a sheet that parses names a data file without control characters and a
//   sector size of 2048 or 2352, and also reads as a cue sheet for the image
//   recogniser (when it is small enough to be taken for one);
// - a sheet that does not parse leaves the result as it was and says why;
// - parsing is deterministic.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "drive/CueSheet.h"

namespace {

using namespace kestrow;
using fuzz::Require;

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u < 0x20 && c != '\t') || u == 0x7F;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CueSheet sheet;
  sheet.dataFile = "untouched";
  sheet.sectorSize = 1;
  std::string reason;
  const bool parsed = ParseCueSheet(text, sheet, reason);
  const bool looksLike = LooksLikeCueSheet(text);
  if (parsed) {
    Require(!sheet.dataFile.empty(), "a parsed sheet names a data file");
    Require(std::none_of(sheet.dataFile.begin(), sheet.dataFile.end(), IsControl),
            "a data file name has no control characters");
    Require(sheet.sectorSize == 2048 || sheet.sectorSize == 2352, "the sector size is 2048 or 2352");
    Require(looksLike || size > kMaxCueSheetSize, "a sheet that parses reads as a cue sheet");
  } else {
    Require(sheet.dataFile == "untouched" && sheet.sectorSize == 1, "a failed parse leaves the sheet alone");
    Require(!reason.empty(), "a failed parse says why");
  }
  CueSheet again;
  std::string againReason;
  Require(ParseCueSheet(text, again, againReason) == parsed && again.dataFile == (parsed ? sheet.dataFile : "") &&
              againReason == (parsed ? "" : reason),
          "parsing is deterministic");
  return 0;
}
