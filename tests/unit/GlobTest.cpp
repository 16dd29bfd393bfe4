// Shell-style patterns of `kestrow recover`, checked against the C
// library's fnmatch() where it has one, for ASCII.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fnmatch.h>
#endif

#include "text/Glob.h"

namespace kestrow {
namespace {

struct GlobCase {
  const char* pattern;
  const char* text;
  bool matches;
};

constexpr GlobCase kAsciiCases[] = {
    {"*", "", true},          {"*", "Disk:a", true},       {"Disk:*", "Disk:Letters:To Grandma", true},
    {"Disk:*:To*", "Disk:Letters:To Grandma", true},       {"Disk:*:To*", "Disk:To Grandma", false},
    {"?", "a", true},         {"?", "", false},            {"a?c", "abc", true},
    {"a?c", "ac", false},     {"[abc]x", "bx", true},      {"[!abc]x", "bx", false},
    {"[^abc]x", "dx", true},  {"[a-c]", "b", true},        {"[a-c]", "d", false},
    {"[]]", "]", true},       {"[!]]", "a", true},         {"[!]]", "]", false},
    {"[a-]", "-", true},      {"[[:digit:]]*", "1995 budget", true}, {"[[:alpha:]]", "1", false},
    {"[[:upper:][:digit:]]", "Q", true}, {"\\*", "*", true}, {"\\*", "a", false},
    {"[", "[", true},         {"[ab", "[ab", true},        {"*.txt", ".txt", true},
    {"a*b*c", "aXXbYYc", true}, {"a*b*c", "aXXbYY", false}, {"*a", "bbba", true},
    {"**", "x", true},        {"*", "a/b", true},          {"a*", "b", false},
    {"[\\]]", "]", true},     {"[a\\-z]", "-", true},      {"[a\\-z]", "b", false},
    {"*[0-9]?", "Photo-7x", true}, {"Budget 1995/96", "Budget 1995/96", true}, {"*Z", "aZbZ", true},
};

TEST(GlobMatches, AsciiPatterns) {
  for (const GlobCase& c : kAsciiCases) {
    EXPECT_EQ(GlobMatches(c.pattern, c.text), c.matches) << c.pattern << " on " << c.text;
#if !defined(_WIN32)
    EXPECT_EQ(::fnmatch(c.pattern, c.text, 0) == 0, c.matches) << "fnmatch: " << c.pattern << " on " << c.text;
#endif
  }
}

TEST(GlobMatches, OneCharacterIsOneUtf8Character) {
  constexpr GlobCase kCases[] = {
      {"Caf?", "Caf\xC3\xA9", true},
      {"Caf[\xC3\xA9\xC3\xA8]", "Caf\xC3\xA8", true},
      {"Caf[!\xC3\xA9]", "Caf\xC3\xA9", false},
      {"??", "\xC3\xA9", false},
      {"*\xE2\x82\xAC", "100 \xE2\x82\xAC", true},
      {"?", "\xE9", true},  // a byte that is not UTF-8 is a character of its own
  };
  for (const GlobCase& c : kCases) EXPECT_EQ(GlobMatches(c.pattern, c.text), c.matches) << c.pattern;
}

}  // namespace
}  // namespace kestrow
