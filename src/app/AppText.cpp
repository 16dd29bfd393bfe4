#include "AppText.h"

#include <vector>

namespace kestrow::app {

std::string FillText(std::string_view format, std::initializer_list<std::string> values) {
  const std::vector<std::string> args(values);
  std::string text;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char next = i + 1 < format.size() ? format[i + 1] : '\0';
    if (format[i] == '%' && next >= '1' && next <= '9' && static_cast<std::size_t>(next - '1') < args.size()) {
      text += args[static_cast<std::size_t>(next - '1')];
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

std::string WithZeroSectorNote(std::string message, std::size_t zeroSectors) {
  if (zeroSectors == 0) return message;
  return message + "\n\n" + FillText(text::kZeroSectorsFormat, {std::to_string(zeroSectors)});
}

}  // namespace kestrow::app
