// A scratch folder for one test, removed afterwards.
#pragma once

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#if defined(_WIN32)
#include <windows.h>

#include <functional>

#include "platform/FileSystem.h"
#endif

namespace kestrow::test {

#if defined(_WIN32)
// Every file and folder under `folder` (in the extended-length form), the
// contents of a folder before the folder: std::filesystem stops at 260
// characters here.
inline void WalkTree(const std::wstring& folder, const std::function<void(const std::wstring&, bool)>& visit) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder) WalkTree(path, visit);
    visit(path, isFolder);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}
#endif

inline int ProcessId() {
#if defined(_WIN32)
  return ::_getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    m_path = std::filesystem::temp_directory_path() /
             ("kestrow-test-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
    Remove();
    std::filesystem::create_directories(m_path);
  }
  ~TempDir() { Remove(); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  // The folder as a destination: with its trailing separator.
  std::string Destination() const { return m_path.string() + "/"; }

 private:
  void Remove() {
#if defined(_WIN32)
    const std::wstring root = WindowsPath(Utf8FromPath(m_path));
    WalkTree(root, [](const std::wstring& path, bool isFolder) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (isFolder) {
        RemoveDirectoryW(path.c_str());
      } else {
        DeleteFileW(path.c_str());
      }
    });
    RemoveDirectoryW(root.c_str());
#else
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
#endif
  }

  std::filesystem::path m_path;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kestrow::test
