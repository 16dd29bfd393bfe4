// The few file-system calls of the core, with paths as UTF-8 on every
// platform. On Windows they reach the system as UTF-16 through the wide
// functions, made full and in the extended-length form, so that neither the
// ANSI code page nor the 260-character limit touches a name; elsewhere they
// are the POSIX calls on the same bytes.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrow {

// std::fopen of a UTF-8 path.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Removes a file; false when it could not.
bool RemoveFile(const std::string& path);

// Creates one folder; false (with errno set) when it could not, also when it
// exists.
bool CreateFolder(const std::string& path);

// Sets or clears the hidden attribute (Windows); elsewhere a name that
// begins with '.' is what hides a file, and this does nothing.
void SetHidden(const std::string& path, bool hidden);

// Whether new files can be created in `folder`; when not, `why` says so in
// the system's words.
bool CanCreateFilesIn(const std::string& folder, std::string& why);

// A std::filesystem path from UTF-8 text, and back.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// A key under which two paths are equal when they name the same file here:
// Windows' file systems ignore case, Linux's do not.
std::string FileNameKey(const std::string& path);

#if defined(_WIN32)
// The UTF-16 path that Windows' wide functions are given for a UTF-8 path:
// full, with backslashes, in the extended-length form.
std::wstring WindowsPath(const std::string& path);

// The C library's error number for a Windows error code (ENOENT for
// ERROR_FILE_NOT_FOUND, ...), so that messages read as on other platforms.
int ErrnoOfWindowsError(unsigned long code);

// The system's words for a Windows error code, in UTF-8 ("Access is denied").
std::string WindowsErrorText(unsigned long code);
#endif

}  // namespace kestrow
