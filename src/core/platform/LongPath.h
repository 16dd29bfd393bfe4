// Windows refuses paths of 260 characters or more unless they are handed
// over in the extended-length form "\\?\", which the system takes as it is:
// full, with backslashes, without "." or ".." to resolve.
#pragma once

#include <string>
#include <string_view>

namespace kestrow {

// "C:\a\b" becomes "\\?\C:\a\b" and "\\server\share\a" becomes
// "\\?\UNC\server\share\a". A path already in that form, a device path
// ("\\.\E:") and a path that is not full are returned as they are.
std::u16string ExtendedLengthPath(std::u16string_view fullPath);

}  // namespace kestrow
