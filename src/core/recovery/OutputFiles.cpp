#include "recovery/OutputFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "platform/FileSystem.h"
#include "text/ByteReader.h"
#if defined(_WIN32)
#include "recovery/WindowsNames.h"
#include "text/CodePage.h"
#endif

namespace kestrow {
namespace {

void MakeDirectory(const std::string& path) {
  // The folder often exists already; a failure shows when the files in it
  // cannot be created.
#if defined(_WIN32)
  CreateFolder(path);
#else
  ::mkdir(path.c_str(), 0777);
#endif
}

// The name a disc name gets in the destination folder. On Windows the
// disc's bytes become the characters they are (not through the ANSI code
// page) and then a name Windows creates as it is.
std::string OutputName(const std::string& discName) {
#if defined(_WIN32)
  return WindowsSafeName(Windows1252ToUtf8(discName));
#else
  std::string name = discName;
  SanitizeName(name);
  return name;
#endif
}

// Writes `size` bytes to a new (or emptied) file; true only when every byte
// was written and the file closed cleanly. A file that opened but could not
// be written in full is removed, so that no truncated file passes for a
// rescued one; a path that could not be opened is left alone.
// `error`, when given, receives the system's reason for a failure.
bool WriteWholeFile(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                    std::string* error = nullptr) {
  const auto fail = [error](int code) {
    if (error) *error = code != 0 ? std::strerror(code) : "the file could not be written in full";
    return false;
  };
  errno = 0;
  std::FILE* file = OpenFile(path, "wb");
  if (!file) return fail(errno);
  const bool written = size == 0 || std::fwrite(bytes, 1, size, file) == size;
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  const int closeError = errno;
  if (written && closed) return true;
  RemoveFile(path);
  return fail(!written ? writeError : closeError);
}

}  // namespace

char PathSeparator() {
#if defined(_WIN32)
  return '\\';
#else
  return '/';
#endif
}

void SanitizeName(std::string& name) {
  static constexpr char kReplaced[] = "\\/:*?<>|";
  for (char& c : name) {
    if (std::strchr(kReplaced, c) != nullptr && c != '\0') c = '-';
  }
  // "", "." and ".." would name the folder itself or its parent.
  if (name.empty() || name == "." || name == "..") name = std::string(std::max<std::size_t>(name.size(), 1), '-');
}

void CreateFolderPath(std::string& base, const std::string& folderPath) {
  std::size_t begin = 0;
  for (std::size_t colon = folderPath.find(':'); colon != std::string::npos;
       colon = folderPath.find(':', begin)) {
    base += OutputName(folderPath.substr(begin, colon - begin));
    base += PathSeparator();
    MakeDirectory(base);
    begin = colon + 1;
  }
}

std::array<std::uint8_t, kCompanionSize> MakeAppleDoubleHeader(const FileEntry& entry) {
  std::array<std::uint8_t, kCompanionSize> header{};
  PutBe32(&header[0], 0x00051607);   // AppleDouble magic
  PutBe32(&header[4], 0x00020000);   // version 2
  PutBe16(&header[24], 2);           // two entries
  PutBe32(&header[26], 9);           // Finder info
  PutBe32(&header[30], 50);
  PutBe32(&header[34], 32);
  PutBe32(&header[38], 2);           // resource fork, empty, at the end of the file
  PutBe32(&header[42], kCompanionSize);
  PutBe32(&header[46], 0);
  std::memcpy(&header[50], entry.fileType.data(), 4);
  std::memcpy(&header[54], entry.creator.data(), 4);
  return header;
}

OutputResult WriteOutputFiles(const FileEntry& entry, std::span<const std::uint8_t> data,
                              const std::string& destFolder, OutputNames* names) {
  std::string dataPath = destFolder;
  std::string companionPath = destFolder;
  CreateFolderPath(dataPath, entry.path);
  CreateFolderPath(companionPath, entry.path);
  std::string fileName = OutputName(entry.name);
  // A catalogue file is known by its parent folder and file number.
  const std::uint64_t owner = std::uint64_t{entry.parentId} << 32 | entry.fileId;
  if (names != nullptr) fileName = names->Claim(dataPath, fileName, owner);
  dataPath += fileName;
  companionPath += "._" + fileName;

  OutputResult result;
  result.dataPath = dataPath;
  result.dataWritten = WriteWholeFile(dataPath, data.data(), data.size(), &result.error);

  const auto header = MakeAppleDoubleHeader(entry);
  // Windows refuses to replace a hidden file: a companion left by an
  // earlier recovery is shown again first. (The "._" prefix hides the file
  // elsewhere.)
  SetHidden(companionPath, false);
  result.companionWritten = WriteWholeFile(companionPath, header.data(), header.size());
  if (result.companionWritten) SetHidden(companionPath, true);
  return result;
}

}  // namespace kestrow
