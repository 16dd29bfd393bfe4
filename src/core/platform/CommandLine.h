// The command line as UTF-8, the text of paths inside the program.
#pragma once

#include <string>
#include <vector>

namespace kestrow {

// On Windows the arguments are taken from the wide command line, so that a
// name outside the ANSI code page arrives whole; elsewhere they are argv.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace kestrow
