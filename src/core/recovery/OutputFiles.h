// Writing recovered files under the destination folder: their folders from
// the catalogue path, names the file system accepts (the disc's names read
// in the chosen code page, in UTF-8), the data file, and the AppleDouble
// companion "._NAME".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "recovery/AppleDouble.h"
#include "recovery/OutputFolder.h"
#include "recovery/OutputNames.h"
#include "text/CodePage.h"
#include "volume/FileEntry.h"

namespace kestrow {

// Replaces each of \ / : * ? < > | by '-'. A name that would not name a
// file inside its folder (empty, "." or "..") becomes one made of '-'.
void SanitizeName(std::string& name);

// A disc name (raw bytes) as a file or folder name: read in `codePage`, in
// UTF-8, then sanitized; a name in the form of the job's temporary names
// (IsTemporaryName) gets a '-' after it.
std::string OutputName(std::string_view discName, CodePage codePage);

// The sanitized output names of each ':'-terminated folder of a catalogue
// path, outermost first. Text after the last ':' is not used.
std::vector<std::string> OutputFolderNames(const std::string& folderPath, CodePage codePage);

// Where a job writes an entry's data file, relative to the destination: its
// folders and its name, with the platform's separator (before any number a
// name that another file of the job took would get).
std::string OutputRelativePath(const FileEntry& entry, CodePage codePage);

struct OutputOptions {
  CodePage codePage = CodePage::kWindows1252;  // how the disc's names are read
  // The companion holds Finder info, dates, the Mac name and the resource
  // fork, and both files take the Mac's modification date.
  bool resourceForks = false;
};

struct OutputResult {
  bool dataWritten = false;       // the data file was created, written in full and closed
  bool companionWritten = false;  // likewise for the companion file
  std::string dataPath;           // where the data file was (or would have been) written
  std::string error;              // why the data file was not written, for the user
  std::string companionError;     // why the companion was not written
};

// The destination of one job. The destination folder is opened once; the
// folders below it are opened relative to it (never through a symbolic link
// the job did not make) as the files need them, and the folder of the last
// file stays open for the next one.
class OutputTree {
 public:
  // `destFolder` is the folder's path (a trailing separator is allowed).
  // Files of `keep` (the disc image being read) are never replaced. With
  // `names`, a name another file of the job has used gets a number.
  OutputTree(std::string destFolder, OutputOptions options, std::vector<FileIdentity> keep = {},
             OutputNames* names = nullptr);
  ~OutputTree();
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;

  // Writes the data file, then the companion file (also when the data file
  // failed), each under a temporary name that it loses only once it is
  // written in full; a file that cannot be written leaves nothing behind,
  // and the file it would have replaced stays.
  // `resourceFork` is used with the resourceForks option only.
  OutputResult Write(const FileEntry& entry, std::span<const std::uint8_t> data,
                     std::span<const std::uint8_t> resourceFork = {});

  // Write in two steps, so that the files of one folder can be written side
  // by side: Place names a file and opens (or makes) its folder, on one
  // thread in job order; WritePlaced writes it, on any thread. The files of
  // one folder are written before the next folder is placed, as Write would.
  struct Placed {
    std::shared_ptr<OutputFolder> folder;  // none: it cannot be, see result.error
    std::string fileName;
    std::optional<std::int64_t> modifyTime;
    OutputResult result;
  };
  Placed Place(const FileEntry& entry);
  OutputResult WritePlaced(const Placed& placed, const FileEntry& entry, std::span<const std::uint8_t> data,
                           std::span<const std::uint8_t> resourceFork = {}) const;

 private:
  // The folder for these names below the destination, opened (and made) as
  // needed; nothing when one of them cannot be, with the reason in `error`.
  std::shared_ptr<OutputFolder> Folder(const std::vector<std::string>& names, std::string& error);
  // Writes `bytes` under a temporary name in `folder`, then renames it to `name`.
  // `modifyTime` (seconds since 1970) is set on the file when given.
  bool WriteFile(OutputFolder& folder, const std::string& name, bool hidden, std::span<const std::uint8_t> bytes,
                 std::optional<std::int64_t> modifyTime, std::string& error) const;
  // Removes the temporaries an earlier run left in `folder`, the first time
  // the job opens it.
  void TidyOnce(OutputFolder& folder);

  std::string m_destFolder;
  OutputOptions m_options;
  std::vector<FileIdentity> m_keep;
  OutputNames* m_names;
  std::vector<std::string> m_openNames;                 // the folder names of m_open[1..]
  std::vector<std::shared_ptr<OutputFolder>> m_open;    // the destination, then the open chain below it
  std::set<std::string> m_tidied;                       // folders whose leftover temporaries are gone
};

// One file on its own: a tree for this call only.
OutputResult WriteOutputFiles(const FileEntry& entry, std::span<const std::uint8_t> data,
                              const std::string& destFolder, OutputNames* names = nullptr,
                              const OutputOptions& options = {});
inline OutputResult WriteOutputFiles(const FileEntry& entry, const std::vector<std::uint8_t>& data,
                                     const std::string& destFolder, OutputNames* names = nullptr,
                                     const OutputOptions& options = {}) {
  return WriteOutputFiles(entry, std::span<const std::uint8_t>(data), destFolder, names, options);
}

// The platform's path separator ('\\' on Windows, '/' elsewhere).
char PathSeparator();

}  // namespace kestrow
