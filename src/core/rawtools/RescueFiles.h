// The two files of a rescue dump on the disk: the image and its mapfile.
#pragma once

#include <cstdint>
#include <string>

#include "rawtools/RescueDump.h"
#include "rawtools/RescueMap.h"

namespace kestrow {

class RescueFiles final : public RescueTarget {
 public:
  RescueFiles() = default;
  ~RescueFiles() override;
  RescueFiles(const RescueFiles&) = delete;
  RescueFiles& operator=(const RescueFiles&) = delete;

  // Reads the mapfile into `map` when it exists (a new map is empty) and
  // opens the image, creating it when missing and never truncating it. A
  // map that marks sectors finished needs the image that holds them: an
  // image that is missing or ends before the last finished byte is refused.
  // The image must be a regular file. False with `error` on any failure;
  // nothing was written then.
  bool Open(const std::string& imagePath, const std::string& mapPath, RescueMap& map, std::string& error);
  void Close();

  bool WriteSector(std::uint32_t lba, std::span<const std::uint8_t> raw) override;
  bool ReachSize(std::uint64_t bytes) override;
  // Writes `text` to "MAP.tmp", flushes it and renames it over the mapfile.
  bool SaveMap(const std::string& text) override;
  std::string Failure() const override { return m_failure; }

 private:
  bool Fail(const std::string& what, int error);

  std::string m_imagePath;
  std::string m_mapPath;
  std::string m_failure;
  int m_fd = -1;
};

}  // namespace kestrow
