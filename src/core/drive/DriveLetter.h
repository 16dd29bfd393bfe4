// A source given as a Windows drive letter.
#pragma once

#include <optional>
#include <string_view>

namespace kestrow {

// The drive letter, in upper case, of a source that names a drive by its
// letter: "E:", "e:", "E:\" or the device path "\\.\E:" (also with forward
// slashes). Nothing for any other text.
std::optional<char> DriveLetterOfSource(std::string_view source);

}  // namespace kestrow
