#include "recovery/OutputNames.h"

namespace kestrow {

std::string NumberedName(const std::string& name, unsigned n) {
  const std::string suffix = " (" + std::to_string(n) + ")";
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string OutputNames::Claim(const std::string& folder, const std::string& name) {
  if (m_claimed.insert(folder + name).second) return name;
  for (unsigned n = 2;; ++n) {
    std::string candidate = NumberedName(name, n);
    if (m_claimed.insert(folder + candidate).second) return candidate;
  }
}

}  // namespace kestrow
