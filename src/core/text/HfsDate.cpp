#include "text/HfsDate.h"

#include <cstdio>
#include <ctime>
#include <limits>

namespace kestrow {
namespace {

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return CivilDate{static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

constexpr std::int64_t kHfsToUnix = 2082844800;        // 1904-01-01 to 1970-01-01
constexpr std::int64_t kUnixTo2000 = 946684800;         // 1970-01-01 to 2000-01-01

// The calendar date and time of day that an HFS date names.
struct CivilTime {
  CivilDate date;
  int hour;
  int minute;
  int second;
};

CivilTime HfsCivilTime(std::uint32_t seconds) {
  const std::int64_t sinceEpoch = static_cast<std::int64_t>(seconds) - kHfsToUnix;
  std::int64_t days = sinceEpoch / 86400;
  std::int64_t rest = sinceEpoch % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  return CivilTime{CivilFromDays(days), static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                   static_cast<int>(rest % 60)};
}

}  // namespace

std::string HfsDateToIso8601(std::uint32_t seconds) {
  const CivilTime t = HfsCivilTime(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d", static_cast<long long>(t.date.year),
                t.date.month, t.date.day, t.hour, t.minute, t.second);
  return text;
}

std::int64_t HfsDateToUnixTime(std::uint32_t seconds) {
  const CivilTime t = HfsCivilTime(seconds);
  std::tm local{};
  local.tm_year = static_cast<int>(t.date.year - 1900);
  local.tm_mon = static_cast<int>(t.date.month) - 1;
  local.tm_mday = static_cast<int>(t.date.day);
  local.tm_hour = t.hour;
  local.tm_min = t.minute;
  local.tm_sec = t.second;
  local.tm_isdst = -1;  // the zone's own rule for that date
  const std::time_t utc = std::mktime(&local);
  // A C library that cannot place the date (before 1970 on some systems)
  // leaves it as if the Mac's clock had been on UTC.
  if (utc == static_cast<std::time_t>(-1)) return static_cast<std::int64_t>(seconds) - kHfsToUnix;
  return static_cast<std::int64_t>(utc);
}

std::uint32_t HfsDateToAppleDouble(std::uint32_t seconds) {
  if (seconds == 0) return kAppleDoubleUnknownDate;  // never set on the Mac
  const std::int64_t since2000 = HfsDateToUnixTime(seconds) - kUnixTo2000;
  if (since2000 <= std::numeric_limits<std::int32_t>::min() || since2000 > std::numeric_limits<std::int32_t>::max()) {
    return kAppleDoubleUnknownDate;
  }
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(since2000));
}

}  // namespace kestrow
