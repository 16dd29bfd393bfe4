// Sets the time zone for the length of one test, with a POSIX rule
// ("EST5EDT,M4.1.0,M10.5.0"), so that no zone database is needed.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace kestrow::test {

class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneScope() {
    if (m_old) {
      ::setenv("TZ", m_old->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  std::optional<std::string> m_old;
};

}  // namespace kestrow::test
