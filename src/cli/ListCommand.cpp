// kestrow list: the file table of a Kestrow PRO disc.
#include <cstdio>
#include <ostream>

#include "Commands.h"
#include "FileTableJson.h"
#include "KestrowCore.h"
#include "filelist/FileListExport.h"
#include "platform/FileSystem.h"
#include "text/CodePage.h"
#include "text/Messages.h"

namespace kestrow::cli {
namespace {

bool WriteText(const std::string& path, const std::string& text) {
  std::FILE* file = OpenFile(path, "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

std::optional<FileTable> Commands::LoadFileTable(const Selected& selected, const SourceOptions& options) {
  CKestrowCore core(selected.source, options.mapfile);
  VolumeImage image;
  if (!core.LoadVolumeImage(image)) {
    Fail(msg::kNotBurnedByKestrow);
    return std::nullopt;
  }
  FileTable files;
  if (!core.ScanCatalog(image, files)) {
    Fail(msg::kUnknownFormat);
    return std::nullopt;
  }
  return files;
}

int Commands::List(const SourceOptions& options, const ListOptions& list) {
  const auto selected = SelectSource(options);
  if (!selected) return kExitFailed;
  const std::optional<FileTable> table = LoadFileTable(*selected, options);
  if (!table) return kExitFailed;
  const FileTable& files = *table;

  if (list.json) {
    const std::string text = FileTableToJson(files, selected->source).dump(2) + "\n";
    if (list.outputFile.empty()) {
      m_out << text;
    } else if (!WriteText(list.outputFile, text)) {
      Fail(msg::kFailedToOpenFile, "could not write " + list.outputFile);
      return kExitFailed;
    }
    return kExitOk;
  }

  if (!list.outputFile.empty()) {
    switch (WriteFileListExport(files, list.outputFile)) {
      case ExportResult::kWritten:
        return kExitOk;
      case ExportResult::kOpenFailed:
        Fail(msg::kFailedToOpenFile, "cannot create " + list.outputFile);
        return kExitFailed;
      case ExportResult::kWriteFailed:
        Fail(msg::kExportWriteFailed,
             "writing " + list.outputFile + " failed (is the disk full?)");
        return kExitFailed;
    }
  }

  for (const FileEntry& entry : files) {
    m_out << Windows1252ToUtf8(FileListPathText(entry)) << '\t' << FileListSizeText(entry) << '\n';
  }
  return kExitOk;
}

}  // namespace kestrow::cli
