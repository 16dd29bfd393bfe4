#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>

#include "platform/LongPath.h"
#include "platform/Utf16.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestrow {

#if defined(_WIN32)
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string Utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

int ErrnoOfWindowsError(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return EINVAL;
    default:
      return EIO;
  }
}

namespace {

int ErrnoOf(DWORD error) { return ErrnoOfWindowsError(error); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::wstring WindowsPath(const std::string& path) {
  const std::wstring wide = Wide(Utf8ToUtf16(path));
  if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  return Wide(ExtendedLengthPath(Utf16(full)));
}

std::string WindowsErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ')) words.pop_back();
  if (words.empty()) return "error " + std::to_string(code);
  return Utf16ToUtf8(Utf16(words));
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::strlen(mode));
  return ::_wfopen(WindowsPath(path).c_str(), wideMode.c_str());
}

bool RemoveFile(const std::string& path) { return DeleteFileW(WindowsPath(path).c_str()) != 0; }

bool CreateFolder(const std::string& path) {
  // A trailing separator would be taken as part of the name in the
  // extended-length form.
  std::string folder = path;
  while (folder.size() > 1 && IsSeparator(folder.back()) && folder[folder.size() - 2] != ':') folder.pop_back();
  if (CreateDirectoryW(WindowsPath(folder).c_str(), nullptr)) return true;
  errno = ErrnoOf(GetLastError());
  return false;
}

void SetHidden(const std::string& path, bool hidden) {
  const std::wstring wide = WindowsPath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  const DWORD wanted = hidden ? attributes | FILE_ATTRIBUTE_HIDDEN : attributes & ~DWORD{FILE_ATTRIBUTE_HIDDEN};
  if (wanted != attributes) SetFileAttributesW(wide.c_str(), wanted);
}

bool CanCreateFilesIn(const std::string& folder, std::string& why) {
  // Folder permissions are access control lists here: the one sure test is
  // to create a file, which goes again when its handle is closed.
  std::string probe = folder;
  if (probe.empty() || !IsSeparator(probe.back())) probe += '\\';
  probe += ".kestrow-probe-" + std::to_string(GetCurrentProcessId());
  const HANDLE handle = CreateFileW(WindowsPath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    why = std::strerror(ErrnoOf(GetLastError()));
    return false;
  }
  CloseHandle(handle);
  return true;
}

std::string FileNameKey(const std::string& path) {
  const std::wstring wide = Wide(Utf8ToUtf16(path));
  if (wide.empty()) return path;
  std::wstring upper(wide.size(), L'\0');
  // The invariant locale's simple upper-case mapping, as the file systems
  // compare names; one character in, one out.
  const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                   static_cast<int>(wide.size()), upper.data(), static_cast<int>(upper.size()),
                                   nullptr, nullptr, 0);
  if (length <= 0) return path;
  upper.resize(static_cast<std::size_t>(length));
  return Utf16ToUtf8(Utf16(upper));
}

#else

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool CreateFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

void SetHidden(const std::string&, bool) {}

bool CanCreateFilesIn(const std::string& folder, std::string& why) {
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return true;
  why = std::strerror(errno);
  return false;
}

std::string FileNameKey(const std::string& path) { return path; }

#endif

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace kestrow
