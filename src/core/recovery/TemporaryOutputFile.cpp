#include "recovery/TemporaryOutputFile.h"

#include <filesystem>

#include "platform/FileSystem.h"

namespace kestrow {

TemporaryOutputFile::~TemporaryOutputFile() { Abandon(); }

TemporaryOutputFile::BeginResult TemporaryOutputFile::Begin(const std::string& path, std::vector<FileIdentity> keep,
                                                            std::string& error) {
  Abandon();
  const std::filesystem::path full = PathFromUtf8(path);
  m_name = Utf8FromPath(full.filename());
  if (m_name.empty() || m_name == "." || m_name == "..") {
    error = "not a file name";
    return BeginResult::kInTheWay;
  }
  // The folder the user named: a link in its path is the user's own.
  const std::filesystem::path parent = full.parent_path();
  m_folder = OutputFolder::Open(parent.empty() ? std::string(".") : Utf8FromPath(parent), error);
  if (!m_folder) return BeginResult::kCannotCreate;
  m_keep = std::move(keep);
  if (!m_folder->MayReplace(m_name, m_keep, error)) {
    m_folder.reset();
    return BeginResult::kInTheWay;
  }
  m_file = m_folder->CreateTemporary(false, m_temporary, error);
  if (!m_file) {
    m_folder.reset();
    return BeginResult::kCannotCreate;
  }
  return BeginResult::kReady;
}

bool TemporaryOutputFile::Write(std::span<const std::uint8_t> bytes, std::string& error) {
  if (!m_file) {
    error = "the file is not open";
    return false;
  }
  return m_file->Write(bytes, error);
}

bool TemporaryOutputFile::Commit(std::string& error) {
  if (!m_file) {
    error = "the file is not open";
    return false;
  }
  const bool closed = m_file->Close(error);
  m_file.reset();
  if (!closed || !m_folder->MoveIntoPlace(m_temporary, m_name, m_keep, error)) {
    Abandon();
    return false;
  }
  m_temporary.clear();
  m_folder.reset();
  return true;
}

void TemporaryOutputFile::Abandon() {
  m_file.reset();  // closes it
  if (m_folder && !m_temporary.empty()) m_folder->RemoveFile(m_temporary);
  m_temporary.clear();
  m_folder.reset();
}

std::vector<FileIdentity> IdentitiesOf(const std::vector<std::string>& paths) {
  std::vector<FileIdentity> identities;
  for (const std::string& path : paths) {
    if (const std::optional<FileIdentity> identity = IdentifyFile(path)) identities.push_back(*identity);
  }
  return identities;
}

}  // namespace kestrow
