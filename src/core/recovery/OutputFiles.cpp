#include "recovery/OutputFiles.h"

#include <algorithm>
#include <cstring>

#include "platform/FileSystem.h"
#include "text/HfsDate.h"
#if defined(_WIN32)
#include "recovery/WindowsNames.h"
#endif

namespace kestrow {

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

std::string OutputName(std::string_view discName, CodePage codePage) {
  // Every byte of a UTF-8 sequence is 0x80 or more, so the replacement of
  // ASCII characters cannot cut one.
  std::string name = DiscTextToUtf8(discName, codePage);
#if defined(_WIN32)
  // Windows refuses more names than the replacement table covers.
  name = WindowsSafeName(name);
#else
  SanitizeName(name);
#endif
  // The form of the job's temporary names stays theirs, so that a later job
  // never takes a recovered file for one that was cut short.
  if (IsTemporaryName(name)) name += '-';
  return name;
}

std::vector<std::string> OutputFolderNames(const std::string& folderPath, CodePage codePage) {
  std::vector<std::string> names;
  std::size_t begin = 0;
  for (std::size_t colon = folderPath.find(':'); colon != std::string::npos; colon = folderPath.find(':', begin)) {
    names.push_back(OutputName(std::string_view(folderPath).substr(begin, colon - begin), codePage));
    begin = colon + 1;
  }
  return names;
}

std::string OutputRelativePath(const FileEntry& entry, CodePage codePage) {
  std::string relative;
  for (const std::string& name : OutputFolderNames(entry.path, codePage)) relative += name + PathSeparator();
  return relative + OutputName(entry.name, codePage);
}

OutputTree::OutputTree(std::string destFolder, OutputOptions options, std::vector<FileIdentity> keep,
                       OutputNames* names)
    : m_destFolder(std::move(destFolder)), m_options(options), m_keep(std::move(keep)), m_names(names) {
  // Windows takes '/' as a separator too.
  const bool separated = !m_destFolder.empty() && (m_destFolder.back() == PathSeparator() || m_destFolder.back() == '/');
  if (!separated) m_destFolder += PathSeparator();
}

OutputTree::~OutputTree() = default;

std::shared_ptr<OutputFolder> OutputTree::Folder(const std::vector<std::string>& names, std::string& error) {
  if (m_open.empty()) {
    std::unique_ptr<OutputFolder> destination = OutputFolder::Open(m_destFolder, error);
    if (!destination) return nullptr;
    TidyOnce(*destination);
    m_open.push_back(std::move(destination));
  }
  // Files come folder by folder in catalogue order: the folders this file
  // shares with the last one are open already.
  std::size_t shared = 0;
  while (shared < m_openNames.size() && shared < names.size() && m_openNames[shared] == names[shared]) ++shared;
  m_openNames.resize(shared);
  m_open.resize(shared + 1);
  for (std::size_t i = shared; i < names.size(); ++i) {
    std::unique_ptr<OutputFolder> folder = m_open.back()->OpenSubfolder(names[i], error);
    if (!folder) return nullptr;
    TidyOnce(*folder);
    m_open.push_back(std::move(folder));
    m_openNames.push_back(names[i]);
  }
  return m_open.back();
}

void OutputTree::TidyOnce(OutputFolder& folder) {
  // A folder the job has just made holds nothing to tidy.
  if (m_tidied.insert(folder.Path()).second && !folder.MadeNow()) folder.RemoveLeftoverTemporaries();
}

bool OutputTree::WriteFile(OutputFolder& folder, const std::string& name, bool hidden,
                           std::span<const std::uint8_t> bytes, std::optional<std::int64_t> modifyTime,
                           std::string& error) const {
  // The place is not looked at before writing: in a fresh folder it is
  // free, and the rename into place refuses whatever may not be replaced
  // (the temporary file is then removed).
  std::string temporary;
  std::unique_ptr<OutputFile> file = folder.CreateTemporary(hidden, temporary, error);
  if (!file) return false;
  bool written = file->Write(bytes, error);
  // The time is set after the last write, which would move it again.
  if (written && modifyTime) file->SetModificationTime(*modifyTime);
  std::string closeError;
  const bool closed = file->Close(closeError);
  if (written && !closed) error = closeError;
  // The file takes its name only once it is whole: no truncated file may
  // pass for a rescued one, and the file it replaces stays until then.
  written = written && closed && folder.MoveIntoPlace(temporary, name, m_keep, error);
  if (!written) folder.RemoveFile(temporary);
  return written;
}

OutputTree::Placed OutputTree::Place(const FileEntry& entry) {
  const std::vector<std::string> folderNames = OutputFolderNames(entry.path, m_options.codePage);
  std::string relative;
  for (const std::string& name : folderNames) relative += name + PathSeparator();
  std::string fileName = OutputName(entry.name, m_options.codePage);
  // A catalogue file is known by its parent folder and file number.
  const std::uint64_t owner = std::uint64_t{entry.parentId} << 32 | entry.fileId;
  if (m_names != nullptr) fileName = m_names->Claim(relative, fileName, owner);

  Placed placed;
  placed.result.dataPath = m_destFolder + relative + fileName;
  placed.folder = Folder(folderNames, placed.result.error);
  if (!placed.folder) {
    placed.result.companionError = placed.result.error;
    return placed;
  }
  placed.fileName = std::move(fileName);
  // Converted once for both files: each conversion asks the C library for
  // the local time zone, which may look at its file again.
  if (m_options.resourceForks && entry.modifyDate != 0) placed.modifyTime = HfsDateToUnixTime(entry.modifyDate);
  return placed;
}

OutputResult OutputTree::WritePlaced(const Placed& placed, const FileEntry& entry, std::span<const std::uint8_t> data,
                                     std::span<const std::uint8_t> resourceFork) const {
  OutputResult result = placed.result;
  if (!placed.folder) return result;
  OutputFolder& folder = *placed.folder;
  result.dataWritten = WriteFile(folder, placed.fileName, false, data, placed.modifyTime, result.error);
  const std::string companionName = "._" + placed.fileName;
  if (m_options.resourceForks) {
    const std::vector<std::uint8_t> companion = MakeAppleDouble(entry, resourceFork);
    result.companionWritten =
        WriteFile(folder, companionName, true, companion, placed.modifyTime, result.companionError);
  } else {
    const auto header = MakeAppleDoubleHeader(entry);
    result.companionWritten = WriteFile(folder, companionName, true, header, std::nullopt, result.companionError);
  }
  return result;
}

OutputResult OutputTree::Write(const FileEntry& entry, std::span<const std::uint8_t> data,
                               std::span<const std::uint8_t> resourceFork) {
  return WritePlaced(Place(entry), entry, data, resourceFork);
}

OutputResult WriteOutputFiles(const FileEntry& entry, std::span<const std::uint8_t> data,
                              const std::string& destFolder, OutputNames* names, const OutputOptions& options) {
  OutputTree tree(destFolder, options, {}, names);
  return tree.Write(entry, data);
}

}  // namespace kestrow
