// Shell-style patterns ("Disk:Letters:*", "*.txt", "Photo-[0-9]?"), matched
// the same way on every platform.
#pragma once

#include <string_view>

namespace kestrow {

// Whether all of `text` matches `pattern`: '*' stands for any run of
// characters (':' and '/' included), '?' for one character, "[...]" for one
// character of a set ("[a-z]", "[!0-9]" or "[^0-9]" for the others,
// "[[:digit:]]" and the other POSIX classes); a backslash takes the next
// character literally, and a '[' without its ']' is a '[' of the text.
// Characters are those of UTF-8, so '?' matches an 'é' as it does an 'e';
// for ASCII text this is what fnmatch() does without flags.
bool GlobMatches(std::string_view pattern, std::string_view text);

}  // namespace kestrow
