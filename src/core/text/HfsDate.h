// HFS dates: seconds since 1 January 1904, in the local time of the Mac that
// wrote them (no time zone is stored).
#pragma once

#include <cstdint>
#include <string>

namespace kestrow {

// "YYYY-MM-DDTHH:MM:SS", with no zone, since the disc records none.
std::string HfsDateToIso8601(std::uint32_t seconds);

}  // namespace kestrow
