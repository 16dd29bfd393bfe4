// The output layer's one road to the file system: a folder held open, and
// the folders and files made inside it, each reached relative to the folder
// already open and never through a symbolic link. Nothing that is neither a
// regular file nor a folder is ever opened.
//
// Each platform implements this in a file of its own (OutputFolderPosix.cpp,
// OutputFolderWindows.cpp); everything above it is portable.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrow {

// What tells one existing file from every other: two paths that name the
// same file (a hard link, a second mount) have the same identity.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path` (links followed), or nothing when
// there is no such file.
std::optional<FileIdentity> IdentifyFile(const std::string& path);

// A file is written under a temporary name in its folder and renamed into
// place only when it is complete, so that no partial file ever carries a
// final name. The temporary names are ".kestrow-partial-" and 8 hex digits
// ("KP~" and 5 digits with ".TMP" on Windows, the form of a short 8.3 alias),
// names that every file system takes (FAT on a memory stick too) and that no
// recovered file is given: OutputName changes a disc name of that form.
bool IsTemporaryName(std::string_view name);

// A new file, open for writing.
class OutputFile {
 public:
  explicit OutputFile(std::intptr_t handle) : m_handle(handle) {}
  ~OutputFile();  // closes it when Close was not called
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes all of `bytes` after what was written before.
  bool Write(std::span<const std::uint8_t> bytes, std::string& error);
  // Sets the modification time (seconds since 1970-01-01 UTC). Best effort:
  // a file system without the notion loses nothing else.
  void SetModificationTime(std::int64_t unixSeconds);
  // True when every byte written reached the file system.
  bool Close(std::string& error);

 private:
  std::intptr_t m_handle;
};

class OutputFolder {
 public:
  // Opens the folder the user chose, by its path; a symbolic link in that
  // path is the user's own and is followed.
  static std::unique_ptr<OutputFolder> Open(const std::string& path, std::string& error);

  OutputFolder(std::string path, std::intptr_t handle) : m_path(std::move(path)), m_handle(handle) {}
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // The folder `name` inside this one, made when it is missing. Fails when
  // anything else is in its place (a file, a symbolic link, a named pipe).
  std::unique_ptr<OutputFolder> OpenSubfolder(const std::string& name, std::string& error);

  // True when `name` may be given to a new file: nothing is there, or a
  // regular file that may be replaced. A file of `keep` (the disc image
  // being read), a read-only file (also for a user whom permissions do not
  // bind) and anything but a regular file (a folder, a symbolic link, a
  // named pipe, a device) are left alone: false, with the reason in `error`.
  bool MayReplace(const std::string& name, std::span<const FileIdentity> keep, std::string& error);

  // A new, empty file under a temporary name (IsTemporaryName), never an
  // existing entry; the name in `temporary`. `hidden` marks the file hidden
  // where the file system has the notion.
  std::unique_ptr<OutputFile> CreateTemporary(bool hidden, std::string& temporary, std::string& error);

  // Renames the written temporary file `temporary` to `name`. A free name
  // is taken in one call that refuses any entry in its place; only when
  // something is there is it looked at, and a regular file that MayReplace
  // allows is replaced in one step.
  bool MoveIntoPlace(const std::string& temporary, const std::string& name, std::span<const FileIdentity> keep,
                     std::string& error);

  // Renames into place as on a file system that refuses the rename that
  // keeps an existing entry: by looking first, then replacing. Its
  // subfolders inherit this. MoveIntoPlace switches to it by itself when the
  // file system refuses; tests switch to it to reach that road.
  void LookBeforeRenaming() { m_renameKeepsExisting = false; }

  // Removes a file that CreateTemporary made (one that could not be written in full).
  void RemoveFile(const std::string& name);

  // Removes what an earlier run left in this folder when it was cut short:
  // the regular files whose names are temporary names, nothing else.
  void RemoveLeftoverTemporaries();

  // True when OpenSubfolder made this folder itself: nothing of an earlier
  // run can be in it.
  bool MadeNow() const { return m_madeNow; }

  // The folder's path, for messages.
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  std::intptr_t m_handle;
  // Whether the file system has a rename that refuses to replace (Linux's
  // RENAME_NOREPLACE; Windows' move without MOVEFILE_REPLACE_EXISTING).
  std::atomic<bool> m_renameKeepsExisting{true};  // files of one folder may be written on two threads
  bool m_madeNow = false;
};

}  // namespace kestrow
