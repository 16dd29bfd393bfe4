// Disc names are raw bytes. They are read in the Windows-1252 code page by
// default, or in Mac OS Roman, the code page the Mac wrote them in. These
// turn them into UTF-8 for display and for names on this platform.
#pragma once

#include <string>
#include <string_view>

namespace kestrow {

enum class CodePage {
  kWindows1252,  // the default reading
  kMacRoman,     // Mac OS Roman, as Apple's published table maps it
};

// Each byte as its Windows-1252 character, in UTF-8. The five bytes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the
// control characters of the same value.
std::string Windows1252ToUtf8(std::string_view bytes);

// Each byte as its Mac OS Roman character, in UTF-8 (0xF0, the Apple logo,
// is U+F8FF in the private use area, as Apple maps it).
std::string MacRomanToUtf8(std::string_view bytes);

// Appends the code point `cp` (at most U+10FFFF) to `out` in UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// Disc text in the chosen code page, in UTF-8.
std::string DiscTextToUtf8(std::string_view bytes, CodePage codePage);

// The reverse, for names typed by a user: characters outside Windows-1252
// become '?'. Invalid UTF-8 sequences become '?' too.
std::string Utf8ToWindows1252(std::string_view utf8);

}  // namespace kestrow
