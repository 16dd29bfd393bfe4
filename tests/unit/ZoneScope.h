// Sets the time zone for the length of one test, with a POSIX rule
// ("EST5EDT,M4.1.0,M10.5.0"), so that no zone database is needed.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

// Windows' C library reads no POSIX rules: a test that needs them skips there.
#if defined(_WIN32)
#define SKIP_WITHOUT_POSIX_ZONES() GTEST_SKIP() << "Windows' C library reads no POSIX time zone rules"
#else
#define SKIP_WITHOUT_POSIX_ZONES() static_cast<void>(0)
#endif

namespace kestrow::test {

class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    Set(zone);
  }
  ~ZoneScope() {
    Set(m_old ? m_old->c_str() : nullptr);
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  static void Set(const char* zone) {
#if defined(_WIN32)
    ::_putenv_s("TZ", zone != nullptr ? zone : "");
    ::_tzset();
#else
    if (zone != nullptr) {
      ::setenv("TZ", zone, 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
#endif
  }

  std::optional<std::string> m_old;
};

}  // namespace kestrow::test
