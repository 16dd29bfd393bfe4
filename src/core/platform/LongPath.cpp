#include "platform/LongPath.h"

namespace kestrow {
namespace {

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

std::u16string ExtendedLengthPath(std::u16string_view fullPath) {
  const std::u16string path(fullPath);
  if (path.size() >= 3 && IsLetter(path[0]) && path[1] == u':' && path[2] == u'\\') return u"\\\\?\\" + path;
  // "\\server\share": not "\\?\" (already extended) nor "\\.\" (a device).
  if (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\' && path[2] != u'?' && path[2] != u'.' &&
      path[2] != u'\\') {
    return u"\\\\?\\UNC\\" + path.substr(2);
  }
  return path;
}

}  // namespace kestrow
