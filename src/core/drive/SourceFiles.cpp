#include "drive/SourceFiles.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "drive/CueSheet.h"
#include "drive/ImageKind.h"
#include "drive/ReadOnlyFile.h"
#include "platform/FileSystem.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace kestrow {
namespace {

// The data file a cue sheet at `path` names, or nothing.
std::optional<std::string> CueDataFile(const std::string& path) {
  ReadOnlyFile file;
  std::string error;
  if (!file.Open(path, error)) return std::nullopt;
  std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), kImageProbeSize)));
  if (!file.ReadAt(0, head) || RecogniseImage(head, file.Size()) != ImageKind::kCueSheet) return std::nullopt;
  CueSheet sheet;
  std::string reason;
  const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  if (!ParseCueSheet(text, sheet, reason)) return std::nullopt;
  return Utf8FromPath(PathFromUtf8(path).parent_path() / PathFromUtf8(sheet.dataFile));
}

#if defined(_WIN32)
struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  // No access asked for: only the file's identity is read. Links are followed.
  const HANDLE handle = CreateFileW(WindowsPath(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (!ok) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}
#else
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;  // stat follows links
  return FileIdentity{st.st_dev, st.st_ino};
}
#endif

}  // namespace

std::string FullPathKey(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::weakly_canonical(PathFromUtf8(path), ec);
  return FileNameKey(Utf8FromPath(ec ? std::filesystem::absolute(PathFromUtf8(path), ec) : full));
}

std::vector<std::string> SourceFiles(const std::string& source, const std::string& mapfile) {
  std::vector<std::string> files;
  if (!source.empty()) files.push_back(source);
  if (const auto data = CueDataFile(source)) files.push_back(*data);
  if (!mapfile.empty()) files.push_back(mapfile);
  return files;
}

bool IsSameFile(const std::string& first, const std::string& second) {
  const auto a = IdentityOf(first);
  const auto b = IdentityOf(second);
  return a && b && *a == *b;
}

std::optional<OutputClash> FindOutputClash(const std::vector<std::string>& inputs,
                                           const std::vector<std::string>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i].empty()) continue;
    const auto target = IdentityOf(outputs[i]);
    for (std::size_t k = 0; target && k < inputs.size(); ++k) {
      if (!inputs[k].empty() && IdentityOf(inputs[k]) == target) return OutputClash{i, k, true};
    }
    for (std::size_t k = 0; k < i; ++k) {
      if (outputs[k].empty()) continue;
      const auto other = IdentityOf(outputs[k]);
      const bool same = target && other ? *target == *other : FullPathKey(outputs[i]) == FullPathKey(outputs[k]);
      if (same) return OutputClash{i, k, false};
    }
  }
  return std::nullopt;
}

}  // namespace kestrow
