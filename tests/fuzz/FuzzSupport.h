// Helpers shared by the fuzz targets: a property check that aborts, a drive
// made of raw sectors held in memory, and scratch folders under /tmp.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "drive/EmulatedDrive.h"
#include "volume/PackedFormat.h"

namespace kestrow::fuzz {

// Stops the run when a property that must hold does not: libFuzzer reports
// the abort as a crash and keeps the input.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

// A disc of raw 2352-byte sectors taken from the fuzzer's input. The sectors
// are counted from the end of the input, so that the last sector (the
// trailer) and the volume area stay in place when a mutation inserts or
// removes bytes further up; leading bytes short of a whole sector are dropped.
class RawDiscDrive : public EmulatedDrive {
 public:
  RawDiscDrive(const std::uint8_t* data, std::size_t size)
      : m_bytes(data + size % format::kRawSectorSize, data + size) {}

  bool Open() override { return m_open = true; }
  void Close() override { m_open = false; }
  bool IsOpen() const override { return m_open; }
  std::string Path() const override { return "fuzz-input"; }

  std::uint32_t Sectors() const { return static_cast<std::uint32_t>(m_bytes.size() / format::kRawSectorSize); }

 protected:
  std::uint32_t SectorCount() const override { return Sectors(); }
  bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) override {
    const std::size_t offset = std::size_t{lba} * format::kRawSectorSize;
    if (lba >= Sectors() || raw.size() < format::kRawSectorSize) return false;
    std::memcpy(raw.data(), m_bytes.data() + offset, format::kRawSectorSize);
    return true;
  }

 private:
  std::vector<std::uint8_t> m_bytes;
  bool m_open = false;
};

// A folder for one run, three levels below a folder of this process's own:
//   /tmp/kestrow-fuzz-PID/a/b/out/
// Anything written outside `out` but inside the process folder shows up as
// an extra entry in one of the levels (see OnlyOutputWasTouched).
class ScratchFolder {
 public:
  ScratchFolder() {
    namespace fs = std::filesystem;
    m_root = fs::temp_directory_path() / ("kestrow-fuzz-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove_all(m_root, ec);
    fs::create_directories(m_root / "a" / "b" / "out", ec);
    Require(!ec, "the scratch folder can be created");
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::filesystem::path Output() const { return m_root / "a" / "b" / "out"; }
  // The output folder as a destination: with its trailing separator.
  std::string Destination() const { return Output().string() + "/"; }

  // True when each level above the output folder holds only the next level.
  bool OnlyOutputWasTouched() const {
    return HoldsOnly(m_root, "a") && HoldsOnly(m_root / "a", "b") && HoldsOnly(m_root / "a" / "b", "out");
  }

 private:
  static bool HoldsOnly(const std::filesystem::path& folder, const char* name) {
    std::error_code ec;
    std::size_t count = 0;
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
      ++count;
      found = found || entry.path().filename() == name;
    }
    return !ec && count == 1 && found;
  }

  std::filesystem::path m_root;
};

}  // namespace kestrow::fuzz
