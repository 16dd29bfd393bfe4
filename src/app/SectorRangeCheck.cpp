#include "SectorRangeCheck.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "AppText.h"
#include "rawtools/PhysicalDump.h"
#include "text/Messages.h"

namespace kestrow::app {
namespace {

// An unsigned decimal number, as the edit holds it; nothing for an empty or
// non-numeric text. A number beyond 32 bits comes back as the largest value,
// which no disc reaches, so it fails the range check.
std::optional<std::uint32_t> ParseSector(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(c - '0'),
                                    std::numeric_limits<std::uint32_t>::max());
  }
  return static_cast<std::uint32_t>(value);
}

// One edit's number, or the message it fails with.
std::optional<std::uint32_t> CheckEdit(std::string_view text, std::uint32_t maxSector, std::string& message) {
  const std::optional<std::uint32_t> number = ParseSector(text);
  if (!number) {
    message = msg::kPositiveInteger;
    return std::nullopt;
  }
  if (*number < 1 || *number > maxSector) {
    char between[96];
    std::snprintf(between, sizeof between, msg::kIntegerBetweenFormat, 1u, static_cast<unsigned>(maxSector));
    message = between;
    return std::nullopt;
  }
  return number;
}

}  // namespace

SectorRangeCheck CheckSectorRange(std::string_view startText, std::string_view endText, std::uint32_t maxSector) {
  SectorRangeCheck check;
  const std::optional<std::uint32_t> start = CheckEdit(startText, maxSector, check.message);
  if (!start) return check;
  check.focus = SectorEdit::kEnd;
  const std::optional<std::uint32_t> end = CheckEdit(endText, maxSector, check.message);
  if (!end) return check;
  if (*start > *end) {
    check.message = kSectorRangeOrderMessage;
    return check;
  }
  check.range = SectorRange{*start, *end};
  return check;
}

std::string SectorLbasText(std::string_view startText, std::string_view endText) {
  const auto lba = [](std::string_view text) {
    const std::optional<std::uint32_t> sector = ParseSector(text);
    return sector && *sector >= 1 ? std::to_string(*sector - 1) : std::string("?");
  };
  return FillText(text::kSectorLbasFormat, {lba(startText), lba(endText)});
}

}  // namespace kestrow::app
