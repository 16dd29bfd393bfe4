// OutputFolder on POSIX systems: folders are held open as descriptors and
// everything inside them is reached with openat, mkdirat and unlinkat,
// without following a symbolic link. A new file is always created with
// O_EXCL, so an existing entry is never opened: a regular file in the way is
// unlinked first, anything else makes the call fail.
#include "recovery/OutputFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

namespace kestrow {
namespace {

// A folder descriptor only serves as the base of the calls below; where the
// system has O_PATH it needs no read permission on the folder.
#if defined(O_PATH)
constexpr int kFolderAccess = O_PATH;
#else
constexpr int kFolderAccess = O_RDONLY;
#endif

std::string SystemMessage(int code) { return std::generic_category().message(code); }

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

std::string Join(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Paths longer than the system takes could be made through descriptors, but
// nobody could open the files by their paths afterwards.
bool TooLong(const std::string& path) { return path.size() + 1 > PATH_MAX; }

// Why an entry that is not what was asked for is left alone.
std::string InTheWay(const struct stat& st, int fallback) {
  if (S_ISLNK(st.st_mode)) return "a symbolic link is in its place";
  if (S_ISFIFO(st.st_mode)) return "a named pipe is in its place";
  if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) return SystemMessage(fallback);
  return "something that is neither a file nor a folder is in its place";
}

}  // namespace

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

OutputFile::~OutputFile() {
  if (m_handle >= 0) ::close(Descriptor(m_handle));
}

bool OutputFile::Write(std::span<const std::uint8_t> bytes, std::string& error) {
  const std::uint8_t* next = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const std::size_t chunk = std::min<std::size_t>(left, std::size_t{1} << 30);
    const ssize_t written = ::write(Descriptor(m_handle), next, chunk);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = written < 0 ? SystemMessage(errno) : "the file could not be written in full";
      return false;
    }
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

void OutputFile::SetModificationTime(std::int64_t unixSeconds) {
  struct timespec times[2] = {};
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = static_cast<time_t>(unixSeconds);
  ::futimens(Descriptor(m_handle), times);
}

bool OutputFile::Close(std::string& error) {
  const int descriptor = Descriptor(m_handle);
  m_handle = -1;
  if (::close(descriptor) == 0) return true;
  error = SystemMessage(errno);
  return false;
}

std::unique_ptr<OutputFolder> OutputFolder::Open(const std::string& path, std::string& error) {
  const int descriptor = ::open(path.c_str(), kFolderAccess | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    error = SystemMessage(errno);
    return nullptr;
  }
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return std::make_unique<OutputFolder>(std::move(folder), descriptor);
}

OutputFolder::~OutputFolder() {
  if (m_handle >= 0) ::close(Descriptor(m_handle));
}

std::unique_ptr<OutputFolder> OutputFolder::OpenSubfolder(const std::string& name, std::string& error) {
  std::string path = Join(m_path, name);
  if (TooLong(path)) {
    error = SystemMessage(ENAMETOOLONG);
    return nullptr;
  }
  const int folder = Descriptor(m_handle);
  constexpr int kFlags = kFolderAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int descriptor = ::openat(folder, name.c_str(), kFlags);
  if (descriptor < 0 && errno == ENOENT) {
    if (::mkdirat(folder, name.c_str(), 0777) != 0 && errno != EEXIST) {
      error = SystemMessage(errno);
      return nullptr;
    }
    descriptor = ::openat(folder, name.c_str(), kFlags);
  }
  if (descriptor < 0) {
    const int code = errno;
    struct stat st {};
    const bool described = (code == ELOOP || code == ENOTDIR) &&
                           ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    error = described ? InTheWay(st, ENOTDIR) : SystemMessage(code);
    return nullptr;
  }
  return std::make_unique<OutputFolder>(std::move(path), descriptor);
}

std::unique_ptr<OutputFile> OutputFolder::CreateFile(const std::string& name, bool /*hidden*/,
                                                     std::span<const FileIdentity> keep, std::string& error) {
  // The "._" prefix already hides a companion file here.
  if (TooLong(Join(m_path, name))) {
    error = SystemMessage(ENAMETOOLONG);
    return nullptr;
  }
  const int folder = Descriptor(m_handle);
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  // Something may take the name between the tries; a few rounds settle it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int descriptor = ::openat(folder, name.c_str(), kFlags, 0666);
    if (descriptor >= 0) return std::make_unique<OutputFile>(descriptor);
    if (errno != EEXIST) {
      error = SystemMessage(errno);
      return nullptr;
    }
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      error = SystemMessage(errno);
      return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
      error = InTheWay(st, EISDIR);
      return nullptr;
    }
    const FileIdentity identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    if (std::find(keep.begin(), keep.end(), identity) != keep.end()) {
      error = "the disc image being read is in its place";
      return nullptr;
    }
    // A file we may not write stays, as it did when files were opened for
    // writing in place.
    if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0 ||
        (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT)) {
      error = SystemMessage(errno);
      return nullptr;
    }
  }
  error = SystemMessage(EEXIST);
  return nullptr;
}

void OutputFolder::RemoveFile(const std::string& name) { ::unlinkat(Descriptor(m_handle), name.c_str(), 0); }

}  // namespace kestrow
