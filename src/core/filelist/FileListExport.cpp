#include "filelist/FileListExport.h"

#include <cstdio>

#include "platform/FileSystem.h"

namespace kestrow {

std::string FileListPathText(const FileEntry& entry) { return entry.DisplayPath(); }

std::string FileListSizeText(const FileEntry& entry) { return std::to_string(entry.ApproxSize()); }

std::string FormatFileListExport(const FileTable& files) {
  std::string text;
  for (const FileEntry& entry : files) {
    text += FileListPathText(entry);
    text += '\t';
    text += FileListSizeText(entry);
    text += "\r\n";
  }
  return text;
}

ExportResult WriteFileListExport(const FileTable& files, const std::string& path) {
  std::FILE* file = OpenFile(path, "wb");
  if (!file) return ExportResult::kOpenFailed;
  const std::string text = FormatFileListExport(files);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed ? ExportResult::kWritten : ExportResult::kWriteFailed;
}

}  // namespace kestrow
