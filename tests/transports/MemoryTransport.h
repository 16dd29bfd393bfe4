// A disc held in memory, for tests and fuzzing: user-data sectors whose raw
// form is synthesised on every read, like a 2048-byte image file.
#pragma once

#include <cstdint>
#include <vector>

#include "drive/EmulatedDrive.h"

namespace kestrow {

class MemoryTransport : public EmulatedDrive {
 public:
  // `userData` is cut into 2048-byte sectors; a partial last sector is dropped.
  explicit MemoryTransport(std::vector<std::uint8_t> userData);

  bool Open() override { return m_open = true; }
  void Close() override { m_open = false; }
  bool IsOpen() const override { return m_open; }
  std::string Path() const override { return "memory"; }

  std::vector<std::uint8_t>& UserData() { return m_userData; }

 protected:
  std::uint32_t SectorCount() const override;
  bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) override;

 private:
  std::vector<std::uint8_t> m_userData;
  bool m_open = false;
};

}  // namespace kestrow
