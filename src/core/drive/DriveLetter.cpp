#include "drive/DriveLetter.h"

namespace kestrow {
namespace {

bool IsSlash(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::optional<char> DriveLetterOfSource(std::string_view source) {
  if (source.size() == 6 && IsSlash(source[0]) && IsSlash(source[1]) && source[2] == '.' && IsSlash(source[3])) {
    source.remove_prefix(4);
  } else if (source.size() == 3 && IsSlash(source[2])) {
    source.remove_suffix(1);
  }
  if (source.size() != 2 || source[1] != ':') return std::nullopt;
  const char letter = source[0];
  if (letter >= 'a' && letter <= 'z') return static_cast<char>(letter - 'a' + 'A');
  if (letter >= 'A' && letter <= 'Z') return letter;
  return std::nullopt;
}

}  // namespace kestrow
