#include "platform/Utf16.h"

#include <cstdint>

#include "text/CodePage.h"

namespace kestrow {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point that starts at `utf8[i]` and the bytes it takes.
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view utf8, std::size_t i) {
  const auto lead = static_cast<std::uint8_t>(utf8[i]);
  if (lead < 0x80) return {lead, 1};
  const std::size_t length = (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || i + length > utf8.size()) return {kReplacement, 1};
  char32_t cp = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<std::uint8_t>(utf8[i + k]);
    if ((next & 0xC0) != 0x80) return {kReplacement, 1};
    cp = (cp << 6) | (next & 0x3F);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {kReplacement, 1};
  return {cp, length};
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto [cp, length] = DecodeUtf8(utf8, i);
    i += length;
    if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3 / 2);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{utf16[i + 1]} - 0xDC00));
      ++i;
    } else {
      AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : char32_t{unit});
    }
  }
  return out;
}

}  // namespace kestrow
