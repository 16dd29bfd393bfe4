#include "recovery/OutputNames.h"

#include "platform/FileSystem.h"

namespace kestrow {

std::string NumberedName(const std::string& name, unsigned n) {
  const std::string suffix = " (" + std::to_string(n) + ")";
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string OutputNames::Claim(const std::string& folder, const std::string& name, std::uint64_t owner) {
  for (unsigned n = 1;; ++n) {
    std::string candidate = n == 1 ? name : NumberedName(name, n);
    // "A" and "a" are one file where the file system ignores case.
    const auto [claim, fresh] = m_claimed.try_emplace(FileNameKey(folder + candidate), owner);
    if (fresh || claim->second == owner) return candidate;
  }
}

}  // namespace kestrow
