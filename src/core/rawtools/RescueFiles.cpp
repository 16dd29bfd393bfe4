#include "rawtools/RescueFiles.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "drive/DdrescueMap.h"
#include "drive/RawSector.h"
#include "drive/ReadOnlyFile.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;

// A CD's mapfile is a few kilobytes; anything near this is not one.
constexpr std::uint64_t kMaxMapfileSize = 64ull * 1024 * 1024;

std::string Message(int error) { return std::generic_category().message(error); }

#if defined(_WIN32)
int OpenImageFile(const std::string& path) {
  return ::_open(path.c_str(), _O_RDWR | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int CreateTemporary(const std::string& path) {
  return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int CloseFile(int fd) { return ::_close(fd); }
bool IsRegularFile(int fd, std::uint64_t& size) {
  struct _stat64 st {};
  if (::_fstat64(fd, &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return (st.st_mode & _S_IFMT) == _S_IFREG;
}
bool WriteAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0) return false;
  while (!bytes.empty()) {
    const int written = ::_write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}
bool SyncFile(int fd) { return ::_commit(fd) == 0; }
bool GrowFile(int fd, std::uint64_t size) { return ::_chsize_s(fd, static_cast<long long>(size)) == 0; }
bool ReplaceFile(const std::string& from, const std::string& to) {
  if (MoveFileExW(fs::path(from).c_str(), fs::path(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  errno = EIO;
  return false;
}
void SyncFolderOf(const std::string&) {}
#else
// Non-blocking, so that a FIFO in the image's place cannot hold the open;
// it is refused as not a regular file.
int OpenImageFile(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
}
// A FIFO or a symbolic link in the temporary map's place is not followed
// and cannot hold the open.
int CreateTemporary(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
}
int CloseFile(int fd) { return ::close(fd); }
bool IsRegularFile(int fd, std::uint64_t& size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return S_ISREG(st.st_mode);
}
bool WriteAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
  return true;
}
bool SyncFile(int fd) { return ::fdatasync(fd) == 0; }
bool GrowFile(int fd, std::uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }
bool ReplaceFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
// The rename is on the disk only once the folder is.
void SyncFolderOf(const std::string& path) {
  std::string folder = fs::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
#endif

bool ReadMapfile(const std::string& path, RescueMap& map, std::string& error) {
  ReadOnlyFile file;
  if (!file.Open(path, error)) {
    error = path + ": " + error;
    return false;
  }
  if (file.Size() > kMaxMapfileSize) {
    error = path + ": larger than 64 MiB, not a mapfile";
    return false;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
  if (!file.ReadAt(0, bytes)) {
    error = path + ": could not be read";
    return false;
  }
  DdrescueMap parsed;
  std::string reason;
  if (!parsed.Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), reason)) {
    error = path + ": " + reason;
    return false;
  }
  map = RescueMap(parsed);
  return true;
}

// One past the last byte the map marks finished.
std::uint64_t FinishedEnd(const RescueMap& map) {
  std::uint64_t end = 0;
  for (const RescueMap::Area& area : map.Areas(0, map.Size())) {
    if (area.status == rescue::kFinished) end = area.end;
  }
  return end;
}

}  // namespace

RescueFiles::~RescueFiles() { Close(); }

void RescueFiles::Close() {
  if (m_fd >= 0) CloseFile(m_fd);
  m_fd = -1;
}

bool RescueFiles::Fail(const std::string& what, int error) {
  m_failure = what + ": " + Message(error);
  return false;
}

bool RescueFiles::Open(const std::string& imagePath, const std::string& mapPath, RescueMap& map, std::string& error) {
  Close();
  m_imagePath = imagePath;
  m_mapPath = mapPath;
  std::error_code ec;
  map = RescueMap();
  if (fs::exists(fs::symlink_status(mapPath, ec)) && !ReadMapfile(mapPath, map, error)) return false;
  const std::uint64_t finishedEnd = FinishedEnd(map);
  if (finishedEnd > 0) {
    const std::uint64_t size = fs::is_regular_file(imagePath, ec) ? fs::file_size(imagePath, ec) : 0;
    if (ec || size < finishedEnd) {
      error = mapPath + " marks sectors finished that " + imagePath +
              (size == 0 ? " does not hold (it is missing or empty)" : " does not reach");
      return false;
    }
  }
  m_fd = OpenImageFile(imagePath);
  if (m_fd < 0) {
    error = imagePath + ": " + Message(errno);
    return false;
  }
  std::uint64_t size = 0;
  if (!IsRegularFile(m_fd, size)) {
    Close();
    error = imagePath + ": not a regular file";
    return false;
  }
  return true;
}

bool RescueFiles::WriteSector(std::uint32_t lba, std::span<const std::uint8_t> raw) {
  const std::uint64_t offset = std::uint64_t{lba} * format::kRawSectorSize;
  if (m_fd < 0 || !WriteAt(m_fd, offset, raw)) return Fail("writing " + m_imagePath, m_fd < 0 ? EBADF : errno);
  return true;
}

bool RescueFiles::ReachSize(std::uint64_t bytes) {
  std::uint64_t size = 0;
  if (m_fd < 0 || !IsRegularFile(m_fd, size)) return Fail("extending " + m_imagePath, EBADF);
  if (size < bytes && !GrowFile(m_fd, bytes)) return Fail("extending " + m_imagePath, errno);
  return true;
}

bool RescueFiles::SaveMap(const std::string& text) {
  if (m_fd < 0 || !SyncFile(m_fd)) return Fail("flushing " + m_imagePath, m_fd < 0 ? EBADF : errno);
  const std::string temporary = m_mapPath + ".tmp";
  const int fd = CreateTemporary(temporary);
  if (fd < 0) return Fail("writing " + temporary, errno);
  std::uint64_t size = 0;
  bool ok = IsRegularFile(fd, size);
  int writeError = ok ? 0 : EINVAL;
  ok = ok && WriteAt(fd, 0, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                                           text.size()));
  ok = ok && SyncFile(fd);
  if (!ok && writeError == 0) writeError = errno;
  if (CloseFile(fd) != 0 && ok) {
    ok = false;
    writeError = errno;
  }
  if (!ok) {
    std::remove(temporary.c_str());
    return Fail("writing " + temporary, writeError != 0 ? writeError : EIO);
  }
  if (!ReplaceFile(temporary, m_mapPath)) {
    const int renameError = errno;
    std::remove(temporary.c_str());
    return Fail("replacing " + m_mapPath, renameError);
  }
  SyncFolderOf(m_mapPath);
  return true;
}

}  // namespace kestrow
