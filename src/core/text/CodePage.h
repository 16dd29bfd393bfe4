// Disc names are raw bytes read in the Windows-1252 code page. These turn
// them into UTF-8 for display on this platform.
#pragma once

#include <string>
#include <string_view>

namespace kestrow {

// Each byte as its Windows-1252 character, in UTF-8. The five bytes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the
// control characters of the same value.
std::string Windows1252ToUtf8(std::string_view bytes);

// The reverse, for names typed by a user: characters outside Windows-1252
// become '?'. Invalid UTF-8 sequences become '?' too.
std::string Utf8ToWindows1252(std::string_view utf8);

}  // namespace kestrow
