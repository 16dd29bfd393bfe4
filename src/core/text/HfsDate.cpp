#include "text/HfsDate.h"

#include <cstdio>

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

}  // namespace

std::string HfsDateToIso8601(std::uint32_t seconds) {
  constexpr std::int64_t kHfsToUnix = 2082844800;  // 1904-01-01 to 1970-01-01
  const std::int64_t unixSeconds = static_cast<std::int64_t>(seconds) - kHfsToUnix;
  std::int64_t days = unixSeconds / 86400;
  std::int64_t rest = unixSeconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const CivilDate date = CivilFromDays(days);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d",
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

}  // namespace kestrow
