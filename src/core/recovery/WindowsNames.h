// The names Windows refuses, and what a recovered file or folder is called
// there instead. A pure function of the name, so that it can be checked on
// any platform.
#pragma once

#include <string>
#include <string_view>

namespace kestrow {

// A UTF-8 name made into one that Windows creates as it is, inside its
// folder, as a file of its own:
// - \ / : * ? < > | " and the control characters U+0001-U+001F (and NUL)
//   become '-';
// - trailing dots and spaces, which Windows drops, become '-' (so "." and
//   ".." become "-" and "--", and an empty name "-");
// - a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, also with the
//   superscript digits, CONIN$, CONOUT$), in any case and with or without an
//   extension, gets a '-' after it: "con.txt" becomes "con-.txt";
// - a name in the form of a short 8.3 alias ("LETTER~1.TXT"), which could
//   open another file of the folder through its short name, has its '~'
//   replaced: "LETTER-1.TXT".
// Every other character stays.
std::string WindowsSafeName(std::string_view utf8Name);

}  // namespace kestrow
