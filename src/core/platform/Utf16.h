// UTF-8, the text of paths and names inside the program on every platform,
// to and from UTF-16, the text of Windows' file and console functions.
#pragma once

#include <string>
#include <string_view>

namespace kestrow {

// Each character as UTF-16; a byte that does not begin a valid UTF-8
// sequence (a stray continuation, an overlong form, a surrogate) becomes
// U+FFFD, so nothing is dropped silently.
std::u16string Utf8ToUtf16(std::string_view utf8);

// The reverse; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace kestrow
