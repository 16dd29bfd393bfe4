#include "platform/CommandLine.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>

#include "platform/Utf16.h"
#endif

namespace kestrow {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#if defined(_WIN32)
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
      const std::wstring_view argument(wide[i]);
      arguments.push_back(Utf16ToUtf8(std::u16string(argument.begin(), argument.end())));
    }
    LocalFree(wide);
    return arguments;
  }
#endif
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace kestrow
