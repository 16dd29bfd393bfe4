// HFS dates: seconds since 1 January 1904, in the local time of the Mac that
// wrote them (no time zone is stored).
#pragma once

#include <cstdint>
#include <string>

namespace kestrow {

// "YYYY-MM-DDTHH:MM:SS", with no zone, since the disc records none.
std::string HfsDateToIso8601(std::uint32_t seconds);

// Seconds since 1970-01-01 00:00 UTC of an HFS date, taken as the local time
// of this machine's time zone (with its daylight saving rule at that date).
std::int64_t HfsDateToUnixTime(std::uint32_t seconds);

// AppleDouble dates count signed seconds from 2000-01-01 00:00 UTC; one
// that is not known (or does not fit) is the earliest value, 0x80000000.
inline constexpr std::uint32_t kAppleDoubleUnknownDate = 0x80000000u;
std::uint32_t HfsDateToAppleDouble(std::uint32_t seconds);

}  // namespace kestrow
