// A regular file opened for reading at chosen offsets (pread), without
// loading it: disc images are hundreds of megabytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kestrow {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens `path` read-only; it must be a regular file. On failure returns
  // false and sets `error` to the system's words ("No such file or directory").
  bool Open(const std::string& path, std::string& error);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }

  // The file's size when it was opened.
  std::uint64_t Size() const { return m_size; }

  // Fills `out` with the bytes at `offset`. False on a read error or when
  // the file ends before `out` is full (the file may have shrunk since it
  // was opened); `out` then holds nothing to rely on.
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const;

 private:
  int m_fd = -1;
  std::uint64_t m_size = 0;
};

}  // namespace kestrow
