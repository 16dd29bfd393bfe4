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
  const auto available = [&](const std::string& path) {
    const auto claim = m_claimed.find(path);
    return claim == m_claimed.end() || claim->second == owner;
  };
  for (unsigned n = 1;; ++n) {
    std::string candidate = n == 1 ? name : NumberedName(name, n);
    std::string data = FileNameKey(folder + candidate);
    std::string companion = FileNameKey(folder + "._" + candidate);
    if (!available(data) || !available(companion)) continue;
    m_claimed.emplace(std::move(data), owner);
    m_claimed.emplace(std::move(companion), owner);
    return candidate;
  }
}

}  // namespace kestrow
