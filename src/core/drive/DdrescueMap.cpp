#include "drive/DdrescueMap.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace kestrow {
namespace {

// ddrescue keeps positions in signed 64 bits.
constexpr std::uint64_t kMaxPosition = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
constexpr std::string_view kBlockStatuses = "?*/-+";
constexpr std::string_view kCurrentStatuses = "?*/-FG+";  // also filling and generating
constexpr std::size_t kMaxTokens = 3;

struct ParsedBlock {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  char status = '?';
  std::size_t line = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The blank-separated words of a line; `count` is kMaxTokens + 1 when there
// were more than kMaxTokens.
struct Tokens {
  std::array<std::string_view, kMaxTokens> words;
  std::size_t count = 0;
};

Tokens Split(std::string_view line) {
  Tokens tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) break;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (tokens.count == kMaxTokens) {
      tokens.count = kMaxTokens + 1;
      break;
    }
    tokens.words[tokens.count++] = line.substr(start, i - start);
  }
  return tokens;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// "0x1F" (hexadecimal) or "31" (decimal), at most kMaxPosition.
std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = DigitValue(c);
    if (digit >= static_cast<int>(base)) return std::nullopt;
    if (value > (kMaxPosition - static_cast<std::uint64_t>(digit)) / base) return std::nullopt;
    value = value * base + static_cast<std::uint64_t>(digit);
  }
  return value;
}

std::optional<char> ParseStatus(std::string_view text, std::string_view allowed) {
  if (text.size() != 1 || allowed.find(text[0]) == std::string_view::npos) return std::nullopt;
  return text[0];
}

class MapParser {
 public:
  bool Parse(std::string_view text);
  const std::string& Reason() const { return m_reason; }
  std::vector<ParsedBlock>& Blocks() { return m_blocks; }

 private:
  bool ParseLine(std::string_view line);
  bool ParseStatusLine(const Tokens& tokens);
  bool ParseBlockLine(const Tokens& tokens);
  bool SortAndCheckOverlaps();
  bool FailAtLine(std::size_t line, const std::string& why) {
    m_reason = "line " + std::to_string(line) + ": " + why;
    return false;
  }
  bool Fail(const std::string& why) { return FailAtLine(m_line, why); }

  std::size_t m_line = 0;
  bool m_sawStatusLine = false;
  std::vector<ParsedBlock> m_blocks;
  std::string m_reason;
};

bool MapParser::Parse(std::string_view text) {
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    ++m_line;
    if (!ParseLine(line)) return false;
  }
  if (!m_sawStatusLine) {
    m_reason = "no status line (current_pos current_status)";
    return false;
  }
  return SortAndCheckOverlaps();
}

bool MapParser::ParseLine(std::string_view line) {
  const Tokens tokens = Split(line);
  if (tokens.count == 0 || tokens.words[0].front() == '#') return true;
  if (tokens.count > kMaxTokens) return Fail("more than three fields");
  if (!m_sawStatusLine) return ParseStatusLine(tokens);
  return ParseBlockLine(tokens);
}

bool MapParser::ParseStatusLine(const Tokens& tokens) {
  if (tokens.count < 2) return Fail("status line needs current_pos and current_status");
  if (!ParseNumber(tokens.words[0])) return Fail("current_pos is not a number");
  if (!ParseStatus(tokens.words[1], kCurrentStatuses)) {
    return Fail("current_status is not one of " + std::string(kCurrentStatuses) +
                " (a block line before the status line?)");
  }
  if (tokens.count == 3 && !ParseNumber(tokens.words[2])) return Fail("current_pass is not a number");
  m_sawStatusLine = true;
  return true;
}

bool MapParser::ParseBlockLine(const Tokens& tokens) {
  if (tokens.count != 3) return Fail("a block line is pos size status");
  const auto pos = ParseNumber(tokens.words[0]);
  const auto size = ParseNumber(tokens.words[1]);
  if (!pos) return Fail("block position is not a number");
  if (!size) return Fail("block size is not a number");
  const auto status = ParseStatus(tokens.words[2], kBlockStatuses);
  if (!status) return Fail("status is not one of " + std::string(kBlockStatuses));
  if (*size > kMaxPosition - *pos) return Fail("block ends past the largest position");
  if (*size != 0) m_blocks.push_back(ParsedBlock{*pos, *pos + *size, *status, m_line});
  return true;
}

bool MapParser::SortAndCheckOverlaps() {
  std::sort(m_blocks.begin(), m_blocks.end(),
            [](const ParsedBlock& a, const ParsedBlock& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < m_blocks.size(); ++i) {
    const ParsedBlock& a = m_blocks[i - 1];
    const ParsedBlock& b = m_blocks[i];
    if (b.begin < a.end) {
      return FailAtLine(std::max(a.line, b.line),
                        "block overlaps the block on line " + std::to_string(std::min(a.line, b.line)));
    }
  }
  return true;
}

}  // namespace

bool DdrescueMap::Parse(std::string_view text, std::string& reason) {
  m_blocks.clear();
  m_finished.clear();
  MapParser parser;
  if (!parser.Parse(text)) {
    reason = parser.Reason();
    return false;
  }
  for (const ParsedBlock& block : parser.Blocks()) {
    if (block.status != '+') continue;
    if (!m_finished.empty() && m_finished.back().end == block.begin) {
      m_finished.back().end = block.end;
    } else {
      m_finished.push_back(Range{block.begin, block.end});
    }
  }
  m_blocks.reserve(parser.Blocks().size());
  for (const ParsedBlock& block : parser.Blocks()) {
    m_blocks.push_back(DdrescueMap::Block{block.begin, block.end, block.status});
  }
  return true;
}

bool DdrescueMap::IsFinished(std::uint64_t pos, std::uint64_t size) const {
  if (size == 0) return true;
  if (size > std::numeric_limits<std::uint64_t>::max() - pos) return false;
  const std::uint64_t end = pos + size;
  // The last finished range that begins at or before pos.
  auto after = std::upper_bound(m_finished.begin(), m_finished.end(), pos,
                                [](std::uint64_t p, const Range& r) { return p < r.begin; });
  if (after == m_finished.begin()) return false;
  const Range& range = *(after - 1);
  return end <= range.end;
}

}  // namespace kestrow
