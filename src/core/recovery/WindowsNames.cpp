#include "recovery/WindowsNames.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace kestrow {
namespace {

bool IsRefused(unsigned char c) { return c < 0x20 || std::strchr("\\/:*?<>|\"", c) != nullptr; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// The length of the device name that `base` (the name before its first dot,
// without trailing spaces) is, or 0.
std::size_t DeviceNameLength(std::string_view base) {
  static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view device : kPlain) {
    if (EqualsIgnoringCase(base, device)) return base.size();
  }
  if (base.size() < 4 || !(EqualsIgnoringCase(base.substr(0, 3), "COM") || EqualsIgnoringCase(base.substr(0, 3), "LPT"))) {
    return 0;
  }
  const std::string_view digit = base.substr(3);
  // 0-9, or superscript one, two or three (U+00B9, U+00B2, U+00B3 in UTF-8).
  const bool isDigit = (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ||
                       digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
  return isDigit ? base.size() : 0;
}

// "LETTER~1.TXT": up to 8 characters ending in '~' and digits, then at
// most one dot and up to 3 characters; the position of the '~', or npos.
std::size_t ShortAliasTilde(std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot != std::string_view::npos && name.find('.', dot + 1) != std::string_view::npos) return std::string_view::npos;
  const std::string_view base = name.substr(0, dot);
  const std::size_t extension = dot == std::string_view::npos ? 0 : name.size() - dot - 1;
  const std::size_t tilde = base.rfind('~');
  if (base.size() > 8 || extension > 3 || tilde == std::string_view::npos || tilde + 1 == base.size()) {
    return std::string_view::npos;
  }
  const bool digits = std::all_of(base.begin() + static_cast<std::ptrdiff_t>(tilde) + 1, base.end(),
                                  [](char c) { return c >= '0' && c <= '9'; });
  return digits ? tilde : std::string_view::npos;
}

}  // namespace

std::string WindowsSafeName(std::string_view utf8Name) {
  std::string name(utf8Name);
  for (char& c : name) {
    if (IsRefused(static_cast<unsigned char>(c))) c = '-';
  }
  for (auto it = name.rbegin(); it != name.rend() && (*it == '.' || *it == ' '); ++it) *it = '-';
  if (name.empty()) name.push_back('-');

  std::string_view base = std::string_view(name).substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  if (const std::size_t device = DeviceNameLength(base); device > 0) name.insert(device, 1, '-');

  if (const std::size_t tilde = ShortAliasTilde(name); tilde != std::string_view::npos) name[tilde] = '-';
  return name;
}

}  // namespace kestrow
