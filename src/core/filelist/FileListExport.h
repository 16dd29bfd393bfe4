// The file list as text: one line per row, in table order, the row's path
// and name, a tab, the decimal size of both forks, and CR LF. Names keep their
// bytes (each character's Windows-1252 byte); there is no header or summary.
#pragma once

#include <string>

#include "volume/FileEntry.h"

namespace kestrow {

// The two column texts of a row, as the file list shows them.
std::string FileListPathText(const FileEntry& entry);
std::string FileListSizeText(const FileEntry& entry);

// The export's bytes for the whole table.
std::string FormatFileListExport(const FileTable& files);

enum class ExportResult {
  kWritten,     // every byte reached the file and it closed cleanly
  kOpenFailed,  // the file could not be created or opened: nothing was written
  kWriteFailed  // the file opened but a write or the close failed (a full disk)
};

// Creates or truncates `path` and writes the export into it.
ExportResult WriteFileListExport(const FileTable& files, const std::string& path);

}  // namespace kestrow
