// OutputFolder on Windows: every path reaches the wide functions in the
// extended-length form (no ANSI code page, no 260-character limit). A folder
// is held open without FILE_SHARE_DELETE, so that nobody can rename it or put
// a junction in its place while files are made in it. Nothing is opened
// through a reparse point (a symbolic link or a junction): it is found with
// FILE_FLAG_OPEN_REPARSE_POINT and left alone. A new file is always made with
// CREATE_NEW under a temporary name, so an existing entry is never written
// through, and moved over a regular file in the way; anything else makes the
// call fail.
#include "recovery/OutputFolder.h"

#include <windows.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Utf16.h"

namespace kestrow {
namespace {

std::string SystemMessage(int code) { return std::generic_category().message(code); }

// The system's last error in the words the other platforms use.
std::string LastErrorMessage() { return SystemMessage(ErrnoOfWindowsError(GetLastError())); }

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t Stored(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

// An entry opened for its attributes only: the entry itself, a reparse
// point not followed, a folder as well as a file.
HANDLE OpenEntry(const std::string& path, DWORD share) {
  return CreateFileW(WindowsPath(path).c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | std::uint64_t{info.nFileIndexLow}};
}

// Why an entry that is not what was asked for is left alone.
std::string InTheWay(DWORD attributes, int fallback) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "a symbolic link is in its place";
  return SystemMessage(fallback);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  if (path.empty()) return std::nullopt;
  // Links followed, as the file being read is reached through them.
  const HANDLE file = CreateFileW(WindowsPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!known) return std::nullopt;
  return IdentityOf(info);
}

OutputFile::~OutputFile() {
  if (m_handle != Stored(INVALID_HANDLE_VALUE)) CloseHandle(Handle(m_handle));
}

bool OutputFile::Write(std::span<const std::uint8_t> bytes, std::string& error) {
  const std::uint8_t* next = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, std::size_t{1} << 30));
    DWORD written = 0;
    if (!WriteFile(Handle(m_handle), next, chunk, &written, nullptr) || written == 0) {
      error = written == 0 && GetLastError() == ERROR_SUCCESS ? "the file could not be written in full"
                                                              : LastErrorMessage();
      return false;
    }
    next += written;
    left -= written;
  }
  return true;
}

void OutputFile::SetModificationTime(std::int64_t unixSeconds) {
  // FILETIME counts 100-nanosecond steps from 1601-01-01 UTC.
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  const std::int64_t ticks = (unixSeconds + kSecondsFrom1601To1970) * 10000000;
  if (ticks < 0) return;
  FILETIME time{};
  time.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  SetFileTime(Handle(m_handle), nullptr, nullptr, &time);
}

bool OutputFile::Close(std::string& error) {
  const HANDLE file = Handle(m_handle);
  m_handle = Stored(INVALID_HANDLE_VALUE);
  if (CloseHandle(file)) return true;
  error = LastErrorMessage();
  return false;
}

std::unique_ptr<OutputFolder> OutputFolder::Open(const std::string& path, std::string& error) {
  // The folder the user chose: a link in its path is the user's own and is followed.
  const HANDLE folder = CreateFileW(WindowsPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    error = LastErrorMessage();
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(folder, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(folder);
    error = SystemMessage(ENOTDIR);
    return nullptr;
  }
  std::string name = path;
  while (name.size() > 3 && (name.back() == '\\' || name.back() == '/')) name.pop_back();
  return std::make_unique<OutputFolder>(std::move(name), Stored(folder));
}

OutputFolder::~OutputFolder() {
  if (m_handle != Stored(INVALID_HANDLE_VALUE)) CloseHandle(Handle(m_handle));
}

std::unique_ptr<OutputFolder> OutputFolder::OpenSubfolder(const std::string& name, std::string& error) {
  std::string path = Join(m_path, name);
  HANDLE folder = OpenEntry(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  bool made = false;
  if (folder == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    made = CreateDirectoryW(WindowsPath(path).c_str(), nullptr) != 0;
    if (!made && GetLastError() != ERROR_ALREADY_EXISTS) {
      error = LastErrorMessage();
      return nullptr;
    }
    folder = OpenEntry(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  }
  if (folder == INVALID_HANDLE_VALUE) {
    error = LastErrorMessage();
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(folder, &info) != 0;
  const DWORD attributes = known ? info.dwFileAttributes : 0;
  if (!known || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(folder);
    error = known ? InTheWay(attributes, ENOTDIR) : LastErrorMessage();
    return nullptr;
  }
  auto subfolder = std::make_unique<OutputFolder>(std::move(path), Stored(folder));
  if (!m_renameKeepsExisting) subfolder->LookBeforeRenaming();
  subfolder->m_madeNow = made;
  return subfolder;
}

bool IsTemporaryName(std::string_view name) {
  return name.size() == 12 && name.substr(0, 3) == "KP~" && name.substr(8) == ".TMP" &&
         std::all_of(name.begin() + 3, name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; });
}

bool OutputFolder::MayReplace(const std::string& name, std::span<const FileIdentity> keep, std::string& error) {
  const HANDLE existing = OpenEntry(Join(m_path, name), kShareAll);
  if (existing == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    error = SystemMessage(ErrnoOfWindowsError(code));
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(existing, &info) != 0;
  CloseHandle(existing);
  if (!known) {
    error = LastErrorMessage();
    return false;
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    error = InTheWay(info.dwFileAttributes, EISDIR);
    return false;
  }
  if (std::find(keep.begin(), keep.end(), IdentityOf(info)) != keep.end()) {
    error = "the disc image being read is in its place";
    return false;
  }
  // A read-only file stays, as a file we may not write does elsewhere.
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    error = SystemMessage(EACCES);
    return false;
  }
  return true;
}

std::unique_ptr<OutputFile> OutputFolder::CreateTemporary(bool hidden, std::string& temporary, std::string& error) {
  static std::atomic<std::uint32_t> counter{static_cast<std::uint32_t>(GetCurrentProcessId())};
  const DWORD attributes = hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "KP~%05u.TMP", static_cast<unsigned>(counter++ % 100000));
    const HANDLE file = CreateFileW(WindowsPath(Join(m_path, name)).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                    0, nullptr, CREATE_NEW, attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      temporary = name;
      return std::make_unique<OutputFile>(Stored(file));
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      error = SystemMessage(ErrnoOfWindowsError(code));
      return nullptr;
    }
  }
  error = SystemMessage(EEXIST);
  return nullptr;
}

bool OutputFolder::MoveIntoPlace(const std::string& temporary, const std::string& name,
                                 std::span<const FileIdentity> keep, std::string& error) {
  const std::wstring from = WindowsPath(Join(m_path, temporary));
  const std::wstring to = WindowsPath(Join(m_path, name));
  // A free name is taken at once: without MOVEFILE_REPLACE_EXISTING the
  // move refuses anything in its place, so it needs no look first.
  if (m_renameKeepsExisting) {
    if (MoveFileExW(from.c_str(), to.c_str(), 0)) return true;
    const DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) {
      error = SystemMessage(ErrnoOfWindowsError(code));
      return false;
    }
  }
  if (!MayReplace(name, keep, error)) return false;
  // The rename replaces a file in one step; it never follows a reparse point.
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = LastErrorMessage();
    return false;
  }
  return true;
}

void OutputFolder::RemoveFile(const std::string& name) { DeleteFileW(WindowsPath(Join(m_path, name)).c_str()); }

void OutputFolder::RemoveLeftoverTemporaries() {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(WindowsPath(Join(m_path, "KP~*.TMP")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> leftovers;
  do {
    // The listing's long name: a short alias of another file never matches it.
    const std::wstring wide(found.cFileName);
    const std::string name =
        Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
    const bool plainFile = (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (plainFile && IsTemporaryName(name)) leftovers.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  for (const std::string& name : leftovers) RemoveFile(name);
}

}  // namespace kestrow
