// One output file named by the user (a volume image, a report), written
// under a temporary name in its folder and renamed into place only once it
// is complete: a run cut short leaves no partial file under the final name,
// and whatever stood there before stays until then. Nothing is written
// through a link, and nothing is opened that is not a regular file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "recovery/OutputFolder.h"

namespace kestrow {

class TemporaryOutputFile {
 public:
  enum class BeginResult {
    kReady,         // the temporary file is open
    kInTheWay,      // a link, a named pipe, a folder, a file we may not replace, or one of `keep` is at the path
    kCannotCreate,  // the folder cannot be opened or cannot take a new file
  };

  TemporaryOutputFile() = default;
  ~TemporaryOutputFile();  // removes the temporary file unless it was committed
  TemporaryOutputFile(const TemporaryOutputFile&) = delete;
  TemporaryOutputFile& operator=(const TemporaryOutputFile&) = delete;

  // Checks what is at `path` (UTF-8) and creates the temporary file beside
  // it. Files of `keep` (the disc's own) are never replaced.
  BeginResult Begin(const std::string& path, std::vector<FileIdentity> keep, std::string& error);
  // Appends bytes to the temporary file.
  bool Write(std::span<const std::uint8_t> bytes, std::string& error);
  // Closes the temporary file and renames it to the path, when what is
  // there may still be replaced. False, with the temporary file removed,
  // when it cannot be.
  bool Commit(std::string& error);
  // Removes the temporary file.
  void Abandon();

 private:
  std::unique_ptr<OutputFolder> m_folder;
  std::unique_ptr<OutputFile> m_file;
  std::string m_name;
  std::string m_temporary;
  std::vector<FileIdentity> m_keep;
};

// The identities of the files a source is read from (those that exist).
std::vector<FileIdentity> IdentitiesOf(const std::vector<std::string>& paths);

}  // namespace kestrow
