// OutputFolder on POSIX systems: folders are held open as descriptors and
// everything inside them is reached with openat, mkdirat, renameat and
// unlinkat, without following a symbolic link. A new file is always created
// with O_EXCL under a temporary name, so an existing entry is never opened,
// and renamed over a regular file in the way; anything else makes the call
// fail.
#include "recovery/OutputFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <system_error>
#include <vector>

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
  bool made = false;
  if (descriptor < 0 && errno == ENOENT) {
    made = ::mkdirat(folder, name.c_str(), 0777) == 0;
    if (!made && errno != EEXIST) {
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
  auto subfolder = std::make_unique<OutputFolder>(std::move(path), descriptor);
  if (!m_renameKeepsExisting) subfolder->LookBeforeRenaming();
  subfolder->m_madeNow = made;
  return subfolder;
}

bool IsTemporaryName(std::string_view name) {
  constexpr std::string_view kPrefix = ".kestrow-partial-";
  return name.size() == kPrefix.size() + 8 && name.substr(0, kPrefix.size()) == kPrefix &&
         std::all_of(name.begin() + kPrefix.size(), name.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

bool OutputFolder::MayReplace(const std::string& name, std::span<const FileIdentity> keep, std::string& error) {
  if (TooLong(Join(m_path, name))) {
    error = SystemMessage(ENAMETOOLONG);
    return false;
  }
  const int folder = Descriptor(m_handle);
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    error = SystemMessage(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = InTheWay(st, EISDIR);
    return false;
  }
  const FileIdentity identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  if (std::find(keep.begin(), keep.end(), identity) != keep.end()) {
    error = "the disc image being read is in its place";
    return false;
  }
  // A file we may not write stays. Permissions do not bind root, so a file
  // that nobody may write stays for root as well.
  if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) {
    error = SystemMessage(errno);
    return false;
  }
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    error = SystemMessage(EACCES);
    return false;
  }
  return true;
}

std::unique_ptr<OutputFile> OutputFolder::CreateTemporary(bool /*hidden*/, std::string& temporary,
                                                          std::string& error) {
  // The leading '.' hides it, as it does the companions.
  static std::atomic<std::uint32_t> counter{static_cast<std::uint32_t>(::getpid()) * 2654435761u};
  const int folder = Descriptor(m_handle);
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, ".kestrow-partial-%08x", static_cast<unsigned>(counter++));
    if (TooLong(Join(m_path, name))) {
      error = SystemMessage(ENAMETOOLONG);
      return nullptr;
    }
    const int descriptor = ::openat(folder, name, kFlags, 0666);
    if (descriptor >= 0) {
      temporary = name;
      return std::make_unique<OutputFile>(descriptor);
    }
    if (errno != EEXIST) {
      error = SystemMessage(errno);
      return nullptr;
    }
  }
  error = SystemMessage(EEXIST);
  return nullptr;
}

// Renames `from` to `to` in `folder` unless something is at `to`. Returns 0
// when renamed, else the error: EEXIST when something is in the way, EINVAL
// or ENOSYS when the file system or the system does not have the call.
static int RenameKeepingExisting(int folder, const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  return ::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0 ? 0 : errno;
#else
  (void)folder, (void)from, (void)to;
  return ENOSYS;
#endif
}

bool OutputFolder::MoveIntoPlace(const std::string& temporary, const std::string& name,
                                 std::span<const FileIdentity> keep, std::string& error) {
  const int folder = Descriptor(m_handle);
  if (m_renameKeepsExisting) {
    if (TooLong(Join(m_path, name))) {
      error = SystemMessage(ENAMETOOLONG);
      return false;
    }
    // A free name is taken in one call: the rename refuses any entry that is
    // there (EEXIST), so nothing needs looking at first, and nothing can come
    // into the place between a look and the rename.
    const int code = RenameKeepingExisting(folder, temporary.c_str(), name.c_str());
    if (code == 0) return true;
    if (code == EINVAL || code == ENOSYS) {
      m_renameKeepsExisting = false;  // this file system does not have the call
    } else if (code != EEXIST) {
      error = SystemMessage(code);
      return false;
    }
  }
  if (!MayReplace(name, keep, error)) return false;
  // rename replaces a regular file in one step and never follows a link:
  // whatever may have come into the name's place since is replaced itself.
  if (::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    error = SystemMessage(errno);
    return false;
  }
  return true;
}

void OutputFolder::RemoveFile(const std::string& name) { ::unlinkat(Descriptor(m_handle), name.c_str(), 0); }

void OutputFolder::RemoveLeftoverTemporaries() {
  // Listing needs the folder opened for reading; a folder we may not list
  // keeps what it holds.
  const int listing = ::openat(Descriptor(m_handle), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    ::close(listing);
    return;
  }
  std::vector<std::string> leftovers;
  while (const struct dirent* entry = ::readdir(dir)) {
    if (IsTemporaryName(entry->d_name)) leftovers.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  for (const std::string& name : leftovers) {
    struct stat st {};
    if (::fstatat(Descriptor(m_handle), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      ::unlinkat(Descriptor(m_handle), name.c_str(), 0);
    }
  }
}

}  // namespace kestrow
