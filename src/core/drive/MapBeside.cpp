#include "drive/MapBeside.h"

#include <filesystem>
#include <system_error>

#include "drive/SourceFiles.h"
#include "platform/FileSystem.h"

namespace kestrow {
namespace fs = std::filesystem;
namespace {

constexpr char kMapExtension[] = ".map";

// Something is at `path`, whatever it is; a link is not followed.
bool SomethingAt(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(PathFromUtf8(path), ec);
  return !ec && fs::exists(status);
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(PathFromUtf8(path), ec);
}

}  // namespace

std::string MapNameReplacingExtension(const std::string& imagePath) {
  const fs::path path = PathFromUtf8(imagePath);
  // ".bin" alone is a name without an extension, as the file system sees it.
  if (!path.has_extension()) return imagePath + kMapExtension;
  const std::string extension = Utf8FromPath(path.extension());
  return imagePath.substr(0, imagePath.size() - extension.size()) + kMapExtension;
}

std::string MapNameAppended(const std::string& imagePath) { return imagePath + kMapExtension; }

std::string FindMapBesideImage(const std::string& imagePath) {
  if (imagePath.empty() || !IsRegularFile(imagePath)) return {};
  for (const std::string& candidate : {MapNameReplacingExtension(imagePath), MapNameAppended(imagePath)}) {
    // "disc.map" read as an image has no map of its own name.
    if (SomethingAt(candidate) && !IsSameFile(candidate, imagePath)) return candidate;
  }
  return {};
}

}  // namespace kestrow
