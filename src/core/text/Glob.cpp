#include "text/Glob.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <optional>

namespace kestrow {
namespace {

// One UTF-8 character at `at`: its code point and its length in bytes. A
// byte that does not begin a valid sequence is a character of its own.
struct Char {
  char32_t cp;
  std::size_t length;
};

Char CharAt(std::string_view text, std::size_t at) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length <= 1 || at + length > text.size()) return {lead, 1};
  char32_t cp = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<std::uint8_t>(text[at + k]);
    if ((next & 0xC0) != 0x80) return {lead, 1};
    cp = (cp << 6) | (next & 0x3F);
  }
  return {cp, length};
}

bool InClass(std::string_view name, char32_t cp) {
  if (cp > 0x7F) return false;
  const int c = static_cast<int>(cp);
  if (name == "alnum") return std::isalnum(c) != 0;
  if (name == "alpha") return std::isalpha(c) != 0;
  if (name == "blank") return c == ' ' || c == '\t';
  if (name == "cntrl") return std::iscntrl(c) != 0;
  if (name == "digit") return std::isdigit(c) != 0;
  if (name == "graph") return std::isgraph(c) != 0;
  if (name == "lower") return std::islower(c) != 0;
  if (name == "print") return std::isprint(c) != 0;
  if (name == "punct") return std::ispunct(c) != 0;
  if (name == "space") return std::isspace(c) != 0;
  if (name == "upper") return std::isupper(c) != 0;
  if (name == "xdigit") return std::isxdigit(c) != 0;
  return false;
}

// The bracket expression that starts at pattern[at] == '[': whether `cp`
// is in its set, and the bytes it takes; nothing when it has no ']'.
struct Bracket {
  bool matches;
  std::size_t length;
};

std::optional<Bracket> MatchBracket(std::string_view pattern, std::size_t at, char32_t cp) {
  std::size_t i = at + 1;
  const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) ++i;
  bool matched = false;
  bool first = true;
  while (i < pattern.size()) {
    if (pattern[i] == ']' && !first) return Bracket{matched != negated, i + 1 - at};
    first = false;
    if (pattern.compare(i, 2, "[:") == 0) {
      const std::size_t end = pattern.find(":]", i + 2);
      if (end != std::string_view::npos) {
        matched = matched || InClass(pattern.substr(i + 2, end - i - 2), cp);
        i = end + 2;
        continue;
      }
    }
    if (pattern[i] == '\\' && i + 1 < pattern.size()) ++i;
    const Char low = CharAt(pattern, i);
    i += low.length;
    char32_t high = low.cp;
    if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
      ++i;
      if (pattern[i] == '\\' && i + 1 < pattern.size()) ++i;
      const Char last = CharAt(pattern, i);
      i += last.length;
      high = last.cp;
    }
    matched = matched || (cp >= low.cp && cp <= high);
  }
  return std::nullopt;
}

// Whether the one pattern element at pattern[p] (not '*') matches the
// character `c`; `length` receives the element's bytes.
bool MatchOne(std::string_view pattern, std::size_t p, Char c, std::size_t& length) {
  if (pattern[p] == '?') {
    length = 1;
    return true;
  }
  if (pattern[p] == '[') {
    if (const auto bracket = MatchBracket(pattern, p, c.cp)) {
      length = bracket->length;
      return bracket->matches;
    }
  }
  std::size_t start = p;
  if (pattern[p] == '\\' && p + 1 < pattern.size()) ++start;
  const Char literal = CharAt(pattern, start);
  length = start - p + literal.length;
  return literal.cp == c.cp;
}

}  // namespace

bool GlobMatches(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  // Where to go on after the last '*' when what follows it fails.
  std::size_t starPattern = std::string_view::npos;
  std::size_t starText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starPattern = ++p;
      starText = t;
      continue;
    }
    const Char c = CharAt(text, t);
    std::size_t length = 0;
    if (p < pattern.size() && MatchOne(pattern, p, c, length)) {
      p += length;
      t += c.length;
      continue;
    }
    if (starPattern == std::string_view::npos) return false;
    p = starPattern;
    starText += CharAt(text, starText).length;
    t = starText;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace kestrow
