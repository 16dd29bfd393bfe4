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
#include "platform/FileSystem.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;

// A CD's mapfile is a few kilobytes; anything near this is not one.
constexpr std::uint64_t kMaxMapfileSize = 64ull * 1024 * 1024;

std::string Message(int error) { return std::generic_category().message(error); }

#if defined(_WIN32)
int OpenImageFile(const std::string& path) {
  return ::_wopen(WindowsPath(path).c_str(), _O_RDWR | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}
// What is in the way of the temporary map: empty when nothing or a regular
// file (one left by a run cut short) is.
std::string InTheWay(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WindowsPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "a symbolic link is in its place";
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "a folder is in its place";
  return {};
}
int CreateTemporary(const std::string& path) {
  if (!InTheWay(path).empty()) {
    errno = EEXIST;
    return -1;
  }
  DeleteFileW(WindowsPath(path).c_str());
  return ::_wopen(WindowsPath(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
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
bool ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes) {
  if (::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0) return false;
  while (!bytes.empty()) {
    const int got = ::_read(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
    if (got <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(got));
  }
  return true;
}
bool SyncFile(int fd) { return ::_commit(fd) == 0; }
bool GrowFile(int fd, std::uint64_t size) { return ::_chsize_s(fd, static_cast<long long>(size)) == 0; }
void ShrinkFile(int fd, std::uint64_t size) { ::_chsize_s(fd, static_cast<long long>(size)); }
bool ReplaceFile(const std::string& from, const std::string& to) {
  if (MoveFileExW(WindowsPath(from).c_str(), WindowsPath(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
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
// What is in the way of the temporary map: empty when nothing or a regular
// file (one left by a run cut short) is.
std::string InTheWay(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
  if (S_ISLNK(st.st_mode)) return "a symbolic link is in its place";
  if (S_ISFIFO(st.st_mode)) return "a named pipe is in its place";
  if (S_ISDIR(st.st_mode)) return "a folder is in its place";
  return "something that is not a file is in its place";
}
// The temporary map is always a new file: a regular file of its name is
// removed first (a hard link to another file loses nothing), and anything
// else in its place, or put there meanwhile, makes the open fail.
int CreateTemporary(const std::string& path) {
  if (!InTheWay(path).empty()) {
    errno = EEXIST;
    return -1;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
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
bool ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(got));
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}
bool SyncFile(int fd) { return ::fdatasync(fd) == 0; }
bool GrowFile(int fd, std::uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }
void ShrinkFile(int fd, std::uint64_t size) { static_cast<void>(::ftruncate(fd, static_cast<off_t>(size))); }
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

RescueOpenFailure RescueFiles::Open(const std::string& imagePath, const std::string& mapPath,
                                   std::uint32_t sectorCount, RescueMap& map, std::string& error) {
  Close();
  m_imagePath = imagePath;
  m_mapPath = mapPath;
  std::error_code ec;
  map = RescueMap();
  if (fs::exists(fs::symlink_status(PathFromUtf8(mapPath), ec)) && !ReadMapfile(mapPath, map, error)) {
    return RescueOpenFailure::kCannotOpen;
  }
  const std::uint64_t discBytes = std::uint64_t{sectorCount} * format::kRawSectorSize;
  if (map.Size() != 0 && map.Size() != discBytes) {
    error = mapPath + " covers " + std::to_string(map.Size()) + " bytes, not the " + std::to_string(sectorCount) +
            " raw sectors of the disc (" + std::to_string(discBytes) + " bytes)";
    return RescueOpenFailure::kNotRawImage;
  }
  const std::string temporary = TemporaryMapPath(mapPath);
  if (const std::string why = InTheWay(temporary); !why.empty()) {
    error = temporary + " (where the map is written before it replaces " + mapPath + "): " + why;
    return RescueOpenFailure::kTemporaryInTheWay;
  }
  const fs::file_status status = fs::status(PathFromUtf8(imagePath), ec);
  const bool exists = fs::exists(status);
  const std::uint64_t size = exists && fs::is_regular_file(status) ? fs::file_size(PathFromUtf8(imagePath), ec) : 0;
  if (exists && !fs::is_regular_file(status)) {
    error = imagePath + ": not a regular file";
    return RescueOpenFailure::kCannotOpen;
  }
  const std::uint64_t finishedEnd = FinishedEnd(map);
  // A last sector cut short (a run that stopped in the middle of a write)
  // is no sector the map marks finished; anything else is no raw image.
  const std::uint64_t partial = size % format::kRawSectorSize;
  if (partial != 0 && (finishedEnd == 0 || finishedEnd > size - partial)) {
    error = imagePath + " is " + std::to_string(size) + " bytes, not a whole number of 2352-byte raw sectors";
    return RescueOpenFailure::kNotRawImage;
  }
  if (finishedEnd > 0 && size < finishedEnd) {
    error = mapPath + " marks sectors finished that " + imagePath +
            (size == 0 ? " does not hold (it is missing or empty)" : " does not reach");
    return RescueOpenFailure::kCannotOpen;
  }
  m_fd = OpenImageFile(imagePath);
  if (m_fd < 0) {
    error = imagePath + ": " + Message(errno);
    return RescueOpenFailure::kCannotOpen;
  }
  std::uint64_t opened = 0;
  if (!IsRegularFile(m_fd, opened)) {
    Close();
    error = imagePath + ": not a regular file";
    return RescueOpenFailure::kCannotOpen;
  }
  return RescueOpenFailure::kNone;
}

bool RescueFiles::WriteSector(std::uint32_t lba, std::span<const std::uint8_t> raw) {
  const std::uint64_t offset = std::uint64_t{lba} * format::kRawSectorSize;
  if (m_fd < 0) return Fail("writing " + m_imagePath, EBADF);
  if (WriteAt(m_fd, offset, raw)) return true;
  const int error = errno;
  // A sector written in part at the image's end goes again, so that the
  // image stays whole sectors for the next run.
  std::uint64_t size = 0;
  if (IsRegularFile(m_fd, size) && size > offset && size < offset + raw.size()) ShrinkFile(m_fd, offset);
  return Fail("writing " + m_imagePath, error);
}

bool RescueFiles::ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) {
  return m_fd >= 0 && ReadAt(m_fd, std::uint64_t{lba} * format::kRawSectorSize, raw);
}

bool RescueFiles::ReachSize(std::uint64_t bytes) {
  std::uint64_t size = 0;
  if (m_fd < 0 || !IsRegularFile(m_fd, size)) return Fail("extending " + m_imagePath, EBADF);
  if (size < bytes && !GrowFile(m_fd, bytes)) return Fail("extending " + m_imagePath, errno);
  return true;
}

bool RescueFiles::SaveMap(const std::string& text) {
  if (m_fd < 0 || !SyncFile(m_fd)) return Fail("flushing " + m_imagePath, m_fd < 0 ? EBADF : errno);
  const std::string temporary = TemporaryMapPath(m_mapPath);
  const int fd = CreateTemporary(temporary);
  if (fd < 0) {
    const int error = errno;
    const std::string why = InTheWay(temporary);
    if (!why.empty()) {
      m_failure = "writing " + temporary + ": " + why;
      return false;
    }
    return Fail("writing " + temporary, error);
  }
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
    RemoveFile(temporary);
    return Fail("writing " + temporary, writeError != 0 ? writeError : EIO);
  }
  if (!ReplaceFile(temporary, m_mapPath)) {
    const int renameError = errno;
    RemoveFile(temporary);
    return Fail("replacing " + m_mapPath, renameError);
  }
  SyncFolderOf(m_mapPath);
  return true;
}

}  // namespace kestrow
