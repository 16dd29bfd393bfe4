#include "drive/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>

#include "platform/FileSystem.h"
#else
#include <unistd.h>
#endif

namespace kestrow {
namespace {

std::string SystemMessage(int error) { return std::generic_category().message(error); }

#if defined(_WIN32)
int OpenForReading(const std::string& path) {
  const std::wstring wide = WindowsPath(path);
  // Others may still write, rename or delete the file, as on POSIX.
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    errno = folder ? EISDIR : ErrnoOfWindowsError(error);
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) CloseHandle(handle);
  return fd;
}
int CloseFile(int fd) { return ::_close(fd); }

struct FileStatus {
  bool ok = false;
  bool regular = false;
  bool directory = false;
  std::uint64_t size = 0;
};
FileStatus StatusOf(int fd) {
  struct _stat64 st {};
  if (::_fstat64(fd, &st) != 0) return {};
  return {true, (st.st_mode & _S_IFMT) == _S_IFREG, (st.st_mode & _S_IFMT) == _S_IFDIR,
          static_cast<std::uint64_t>(st.st_size)};
}

// Reads up to `size` bytes at `offset`: the count read, 0 at the end, -1 on error.
long long ReadSome(int fd, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) return -1;
  if (::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0) return -1;
  const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
  return ::_read(fd, out, chunk);
}
#else
// Non-blocking, so that a FIFO cannot hold the open; it is refused as not a
// regular file. Reads of a regular file are not affected.
int OpenForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }
int CloseFile(int fd) { return ::close(fd); }

struct FileStatus {
  bool ok = false;
  bool regular = false;
  bool directory = false;
  std::uint64_t size = 0;
};
FileStatus StatusOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return {};
  return {true, S_ISREG(st.st_mode), S_ISDIR(st.st_mode), static_cast<std::uint64_t>(st.st_size)};
}

long long ReadSome(int fd, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
  return ::pread(fd, out, size, static_cast<off_t>(offset));
}
#endif

}  // namespace

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(std::exchange(other.m_size, 0)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
    m_size = std::exchange(other.m_size, 0);
  }
  return *this;
}

bool ReadOnlyFile::Open(const std::string& path, std::string& error) {
  Close();
  const int fd = OpenForReading(path);
  if (fd < 0) {
    error = SystemMessage(errno);
    return false;
  }
  const FileStatus status = StatusOf(fd);
  if (!status.ok || !status.regular) {
    error = !status.ok ? SystemMessage(errno)
            : status.directory ? SystemMessage(EISDIR)
                               : std::string("not a regular file");
    CloseFile(fd);
    return false;
  }
  m_fd = fd;
  m_size = status.size;
  return true;
}

void ReadOnlyFile::Close() {
  if (m_fd >= 0) CloseFile(m_fd);
  m_fd = -1;
  m_size = 0;
}

bool ReadOnlyFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (m_fd < 0) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    if (offset > std::numeric_limits<std::uint64_t>::max() - done) return false;
    const long long n = ReadSome(m_fd, offset + done, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file ended early
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace kestrow
