#include "drive/CueSheet.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace kestrow {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kMaxQuotedLength = 24;  // of a word quoted back in a reason

// Keywords of the cue sheet language. Those not named in ParseLine are
// descriptive (titles, CD-TEXT, catalogue numbers, track flags, gaps that are
// not stored in the file) and are skipped.
constexpr std::array<std::string_view, 16> kKeywords = {
    "FILE",      "TRACK",      "INDEX",    "PREGAP",   "POSTGAP", "REM",
    "CATALOG",   "TITLE",      "PERFORMER", "SONGWRITER", "COMPOSER", "ARRANGER",
    "MESSAGE",   "ISRC",       "FLAGS",    "CDTEXTFILE"};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u < 0x20 && c != '\t') || u == 0x7F;
}

char ToUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Upper(std::string_view word) {
  std::string out(word.substr(0, kMaxQuotedLength));
  std::transform(out.begin(), out.end(), out.begin(), ToUpper);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ToUpper(x) == ToUpper(y); });
}

bool IsKeyword(std::string_view word) {
  return std::any_of(kKeywords.begin(), kKeywords.end(),
                     [word](std::string_view k) { return EqualsNoCase(word, k); });
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view WithoutBom(std::string_view text) {
  return text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? text.substr(kUtf8Bom.size()) : text;
}

// Splits text into lines ending in LF, CRLF or a lone CR.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : m_rest(text) {}

  bool Next(std::string_view& line) {
    if (m_rest.empty()) return false;
    const std::size_t end = m_rest.find_first_of("\r\n");
    line = m_rest.substr(0, end);
    if (end == std::string_view::npos) {
      m_rest = {};
    } else {
      const bool crlf = m_rest[end] == '\r' && end + 1 < m_rest.size() && m_rest[end + 1] == '\n';
      m_rest.remove_prefix(end + (crlf ? 2 : 1));
    }
    ++m_number;
    return true;
  }
  std::size_t Number() const { return m_number; }

 private:
  std::string_view m_rest;
  std::size_t m_number = 0;
};

// Takes the next blank-separated word off the front of `s`.
std::string_view TakeWord(std::string_view& s) {
  s = TrimBlanks(s);
  std::size_t end = 0;
  while (end < s.size() && !IsBlank(s[end])) ++end;
  const std::string_view word = s.substr(0, end);
  s.remove_prefix(end);
  return word;
}

std::optional<unsigned> ParseDecimal(std::string_view digits, std::size_t maxDigits) {
  if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
  unsigned value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

// mm:ss:ff with 75 frames a second; the frame number, or nothing when malformed.
std::optional<std::uint32_t> ParseMsf(std::string_view text) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const auto m = ParseDecimal(text.substr(0, first), 3);
  const auto s = ParseDecimal(text.substr(first + 1, second - first - 1), 2);
  const auto f = ParseDecimal(text.substr(second + 1), 2);
  if (!m || !s || !f || *s >= 60 || *f >= 75) return std::nullopt;
  return (*m * 60 + *s) * 75 + *f;
}

class CueParser {
 public:
  bool Parse(std::string_view text, CueSheet& sheet, std::string& reason);

 private:
  bool ParseLine(std::string_view line);
  bool ParseFile(std::string_view rest);
  bool ParseTrack(std::string_view rest);
  bool ParseIndex(std::string_view rest);
  bool Fail(std::string why) {
    m_reason = std::move(why);
    return false;
  }
  bool FailAtLine(const std::string& why) { return Fail("line " + std::to_string(m_line) + ": " + why); }

  std::size_t m_line = 0;
  bool m_sawFile = false;
  bool m_sawTrack = false;
  bool m_sawIndex01 = false;
  CueSheet m_sheet;
  std::string m_reason;
};

bool CueParser::Parse(std::string_view text, CueSheet& sheet, std::string& reason) {
  LineReader lines(WithoutBom(text));
  std::string_view line;
  bool ok = true;
  while (ok && lines.Next(line)) {
    m_line = lines.Number();
    ok = ParseLine(line);
  }
  if (ok && !m_sawFile) ok = Fail("no FILE line");
  if (ok && !m_sawTrack) ok = Fail("no TRACK line");
  if (ok && !m_sawIndex01) ok = Fail("the track has no INDEX 01");
  if (!ok) {
    reason = m_reason;
    return false;
  }
  sheet = std::move(m_sheet);
  return true;
}

bool CueParser::ParseLine(std::string_view line) {
  if (std::any_of(line.begin(), line.end(), IsControl)) return FailAtLine("control character");
  std::string_view rest = line;
  const std::string_view keyword = TakeWord(rest);
  if (keyword.empty()) return true;
  if (EqualsNoCase(keyword, "FILE")) return ParseFile(rest);
  if (EqualsNoCase(keyword, "TRACK")) return ParseTrack(rest);
  if (EqualsNoCase(keyword, "INDEX")) return ParseIndex(rest);
  if (IsKeyword(keyword)) return true;
  return FailAtLine("unknown keyword " + Upper(keyword));
}

// FILE "name with spaces.bin" BINARY, or FILE name.bin BINARY; an unquoted
// name runs up to the file type, so it may hold spaces too.
bool CueParser::ParseFile(std::string_view rest) {
  if (m_sawFile) return Fail("more than one FILE");
  m_sawFile = true;
  rest = TrimBlanks(rest);
  std::string_view name;
  std::string_view type;
  if (!rest.empty() && rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return FailAtLine("file name has no closing quote");
    name = rest.substr(1, close - 1);
    rest.remove_prefix(close + 1);
    type = TakeWord(rest);
    if (!TrimBlanks(rest).empty()) return FailAtLine("unexpected text after the file type");
  } else {
    const std::size_t lastBlank = rest.find_last_of(" \t");
    if (lastBlank == std::string_view::npos) return FailAtLine("FILE has no file type");
    name = TrimBlanks(rest.substr(0, lastBlank));
    type = rest.substr(lastBlank + 1);
  }
  if (name.empty()) return FailAtLine("FILE names no file");
  if (type.empty()) return FailAtLine("FILE has no file type");
  if (!EqualsNoCase(type, "BINARY")) return Fail(Upper(type) + " files are not supported");
  m_sheet.dataFile = std::string(name);
  return true;
}

bool CueParser::ParseTrack(std::string_view rest) {
  if (!m_sawFile) return FailAtLine("TRACK before FILE");
  if (m_sawTrack) return Fail("more than one TRACK");
  m_sawTrack = true;
  const auto number = ParseDecimal(TakeWord(rest), 2);
  if (!number || *number < 1) return FailAtLine("track number is not 1 to 99");
  const std::string_view type = TakeWord(rest);
  if (type.empty()) return FailAtLine("TRACK has no type");
  if (!TrimBlanks(rest).empty()) return FailAtLine("unexpected text after the track type");
  if (EqualsNoCase(type, "MODE1/2352")) {
    m_sheet.sectorSize = 2352;
  } else if (EqualsNoCase(type, "MODE1/2048")) {
    m_sheet.sectorSize = 2048;
  } else {
    return Fail(Upper(type) + " tracks are not supported");
  }
  return true;
}

// INDEX 01 must be the start of the file; other indexes (00 for a pregap
// kept in the file, 02 and up) mark points inside the track and are skipped.
bool CueParser::ParseIndex(std::string_view rest) {
  if (!m_sawTrack) return FailAtLine("INDEX before TRACK");
  const auto number = ParseDecimal(TakeWord(rest), 2);
  if (!number) return FailAtLine("index number is not 0 to 99");
  const auto frame = ParseMsf(TakeWord(rest));
  if (!frame) return FailAtLine("index position is not mm:ss:ff");
  if (!TrimBlanks(rest).empty()) return FailAtLine("unexpected text after the index position");
  if (*number != 1) return true;
  if (m_sawIndex01) return FailAtLine("second INDEX 01");
  m_sawIndex01 = true;
  if (*frame != 0) return Fail("INDEX 01 does not start at 00:00:00");
  return true;
}

}  // namespace

bool ParseCueSheet(std::string_view text, CueSheet& sheet, std::string& reason) {
  CueParser parser;
  return parser.Parse(text, sheet, reason);
}

bool LooksLikeCueSheet(std::string_view text, std::string* why) {
  const auto refuse = [why](std::string reason) {
    if (why) *why = std::move(reason);
    return false;
  };
  if (text.size() > kMaxCueSheetSize) return refuse("larger than 64 KiB");
  LineReader lines(WithoutBom(text));
  std::string_view line;
  bool sawFile = false;
  while (lines.Next(line)) {
    const std::string where = "line " + std::to_string(lines.Number()) + ": ";
    if (std::any_of(line.begin(), line.end(), IsControl)) return refuse(where + "control character");
    std::string_view rest = line;
    const std::string_view keyword = TakeWord(rest);
    if (keyword.empty()) continue;
    if (!IsKeyword(keyword)) return refuse(where + "unknown keyword " + Upper(keyword));
    sawFile = sawFile || EqualsNoCase(keyword, "FILE");
  }
  return sawFile || refuse("no FILE line");
}

}  // namespace kestrow
