#include "drive/SourceFactory.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "drive/DiscImageTransport.h"
#include "platform/FileSystem.h"
#if defined(_WIN32)
#include "drive/DriveLetter.h"
#include "drive/SptdTransport.h"
#elif defined(__linux__)
#include "drive/SgioTransport.h"
#endif

namespace kestrow {
namespace fs = std::filesystem;

bool IsImageSource(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(PathFromUtf8(path), ec);
  if (!ec && fs::exists(status)) return fs::is_regular_file(status);
#if defined(_WIN32)
  return path.rfind("\\\\.\\", 0) != 0;
#else
  return path.rfind("/dev/", 0) != 0;
#endif
}

std::unique_ptr<Transport> MakeSourceTransport(std::string sourcePath, std::string mapfilePath) {
#if defined(_WIN32)
  // "E:" and "E:\" name the drive, not its current or root folder.
  if (const auto letter = DriveLetterOfSource(sourcePath)) {
    return std::make_unique<SptdTransport>(SptdTransport::DevicePathForLetter(*letter));
  }
  if (!IsImageSource(sourcePath)) return std::make_unique<SptdTransport>(std::move(sourcePath));
#elif defined(__linux__)
  if (!IsImageSource(sourcePath)) return std::make_unique<SgioTransport>(std::move(sourcePath));
#endif
  return std::make_unique<DiscImageTransport>(std::move(sourcePath), std::move(mapfilePath));
}

std::vector<std::string> ListOpticalDrives() {
  std::vector<std::string> drives;
#if defined(__linux__)
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/dev", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 2 && name.rfind("sr", 0) == 0 &&
        std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      drives.push_back(entry.path().string());
    }
  }
  // /dev/sr2 before /dev/sr10: by number, not by text.
  std::sort(drives.begin(), drives.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
#elif defined(_WIN32)
  drives = SptdTransport::ListCdRomDrives();
#endif
  return drives;
}

}  // namespace kestrow
