// mkdisc: packs an HFS volume image into a raw Kestrow PRO disc image.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <span>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "DiscBuilder.h"
#include "drive/Mode1Sector.h"
#include "platform/CommandLine.h"
#include "platform/FileSystem.h"

namespace {

using kestrow::mkdisc::DiscLayout;
using kestrow::mkdisc::DiscOptions;
using kestrow::mkdisc::DiscPlan;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::FILE* file = kestrow::OpenFile(path, "rb");
  if (file == nullptr) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  std::vector<std::uint8_t> chunk(1 << 20);
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) error = "cannot read " + path;
  return !failed;
}

// Writes the disc sector by sector; on any failure removes the partial file.
bool WriteDiscFile(const DiscPlan& plan, const std::string& path, std::string& error) {
  std::FILE* file = kestrow::OpenFile(path, "wb");
  if (file == nullptr) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  int writeErrno = 0;
  const bool written = kestrow::mkdisc::EmitDisc(plan, [&](std::span<const std::uint8_t> raw) {
    if (std::fwrite(raw.data(), 1, raw.size(), file) == raw.size()) return true;
    writeErrno = errno;
    return false;
  });
  if (!written) {
    std::fclose(file);
    error = "cannot write " + path + ": " + std::strerror(writeErrno);
  } else if (std::fclose(file) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
  } else {
    return true;
  }
  // Only a partial regular file is removed: never a device or a pipe.
  std::error_code ignored;
  const std::filesystem::path partial = kestrow::PathFromUtf8(path);
  if (std::filesystem::is_regular_file(partial, ignored)) std::filesystem::remove(partial, ignored);
  return false;
}

// How --reseal rebuilds a sector around its user data.
enum class SealKind { kMode1, kForm1, kForm2, kNoEdc };

// Mode 2 (XA) sectors: the subheader twice at 16, the user data at 24.
constexpr std::size_t kSubheaderOffset = 16;
constexpr std::size_t kForm1DataOffset = 24;
constexpr std::size_t kForm1EdcOffset = 2072;
constexpr std::size_t kForm2EdcOffset = 2348;
constexpr std::uint8_t kSubmodeData = 0x08;
constexpr std::uint8_t kSubmodeForm2 = 0x20;

void PutLe32(std::vector<std::uint8_t>& raw, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) raw[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Sector `lba` as `kind` around `user` (2048 bytes): what other writers put
// on discs, for the tests of what the reader takes as data.
void SealSector(std::uint32_t lba, const std::vector<std::uint8_t>& user, SealKind kind, std::vector<std::uint8_t>& raw) {
  kestrow::SynthesizeMode1Sector(lba, user, raw);
  if (kind == SealKind::kMode1) return;
  if (kind == SealKind::kNoEdc) {
    std::fill(raw.begin() + 2064, raw.end(), std::uint8_t{0});
    return;
  }
  std::fill(raw.begin() + kSubheaderOffset, raw.end(), std::uint8_t{0});
  raw[15] = 2;
  const std::uint8_t submode = kind == SealKind::kForm2 ? kSubmodeData | kSubmodeForm2 : kSubmodeData;
  raw[kSubheaderOffset + 2] = submode;
  raw[kSubheaderOffset + 6] = submode;
  std::copy(user.begin(), user.end(), raw.begin() + kForm1DataOffset);
  const std::size_t edcOffset = kind == SealKind::kForm2 ? kForm2EdcOffset : kForm1EdcOffset;
  const auto covered = std::span<const std::uint8_t>(raw).subspan(kSubheaderOffset, edcOffset - kSubheaderOffset);
  PutLe32(raw, edcOffset, kestrow::ComputeMode1Edc(covered));
  if (kind == SealKind::kForm1) kestrow::WriteSectorParity(raw, true);
}

// Rebuilds the listed sectors (every sector when none is listed) of a raw
// image as Mode 1 sectors (or `kind`) around their own user data: the tests
// change user bytes of an image and reseal them, so that the change reads as
// the disc's content rather than as damage the parity would mend.
// A seek past 2 GiB: Windows' C library has a 32-bit off_t.
bool SeekTo(std::FILE* file, long long offset) {
#if defined(_WIN32)
  return _fseeki64(file, offset, SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool ResealSectors(const std::string& path, std::vector<std::uint32_t> sectors, SealKind kind, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (sectors.empty()) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    for (std::uint32_t lba = 0; !ec && std::uint64_t{lba} * 2352 + 2352 <= size; ++lba) sectors.push_back(lba);
  }
  std::vector<std::uint8_t> raw(2352);
  bool ok = true;
  for (const std::uint32_t lba : sectors) {
    const long long offset = static_cast<long long>(lba) * 2352;
    ok = SeekTo(file, offset) && std::fread(raw.data(), 1, raw.size(), file) == raw.size();
    if (!ok) break;
    const std::vector<std::uint8_t> user(raw.begin() + 16, raw.begin() + 16 + 2048);
    SealSector(lba, user, kind, raw);
    ok = SeekTo(file, offset) && std::fwrite(raw.data(), 1, raw.size(), file) == raw.size();
    if (!ok) break;
  }
  if (std::fclose(file) != 0) ok = false;
  if (!ok) error = "cannot reseal the sectors of " + path;
  return ok;
}

void PrintSummary(const std::string& path, const DiscLayout& layout) {
  std::cout << path << ": " << layout.sectorCount << " sectors; " << layout.blockCount << " blocks ("
            << layout.compressedBlocks << " LZS) in " << layout.groupCount << " groups from LBA "
            << layout.firstGroupSector << "; volume area " << layout.volumeStart << ".." << layout.volumeEnd
            << " (512-byte units), " << layout.areaBytes << " bytes\n";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"mkdisc: pack an HFS volume image into a raw Kestrow PRO disc image (2352-byte Mode 1 sectors)"};
  std::string volumePath;
  std::string discPath;
  std::string resealPath;
  std::vector<std::uint32_t> resealSectors;
  DiscOptions options;
  app.add_option("VOLUME", volumePath, "HFS volume image (allocation block 0 at byte 9728)");
  app.add_option("DISC", discPath, "raw disc image to write (.bin)");
  auto* reseal = app.add_option("--reseal", resealPath,
                                "instead: rebuild the sync, header, EDC and parity of sectors of this raw image "
                                "around their user data, in place");
  app.add_option("--sector", resealSectors, "with --reseal: a sector (LBA) to rebuild; default every sector")
      ->needs(reseal);
  SealKind sealKind = SealKind::kMode1;
  const std::map<std::string, SealKind> sealKinds{
      {"mode1", SealKind::kMode1}, {"form1", SealKind::kForm1}, {"form2", SealKind::kForm2}, {"no-edc", SealKind::kNoEdc}};
  app.add_option("--as", sealKind,
                 "with --reseal: mode1 (default), form1 or form2 (Mode 2, the user data after the subheader), "
                 "or no-edc (Mode 1 with EDC and parity zero)")
      ->transform(CLI::CheckedTransformer(sealKinds, CLI::ignore_case))
      ->needs(reseal);
  app.add_option("--blocks-per-group", options.blocksPerGroup,
                 "at most N 8 KiB blocks per 248-sector group (default: as many as fit)")
      ->check(CLI::PositiveNumber);
  app.add_option("--volume-start-offset", options.volumeStartOffset,
                 "start the volume area this many 512-byte units into its first sector (0-3, default 0)")
      ->check(CLI::Range(0, 3));
  app.add_flag("--uncompressed", options.uncompressed, "store every block uncompressed");
  app.add_option("--first-block", options.firstBlock,
                 "begin the packed data with this 8 KiB block of the volume (default 0); the blocks before it, "
                 "and so the metadata's packed copy, are left out");
  app.add_option("--leading-sectors", options.leadingSectors, "zero sectors before the first group (default 16)")
      ->check(CLI::Range(0, 1000000));
  try {
    const std::vector<std::string> arguments = kestrow::Utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }

  std::string error;
  if (!resealPath.empty()) {
    if (ResealSectors(resealPath, resealSectors, sealKind, error)) return 0;
    std::cerr << "mkdisc: " << error << '\n';
    return kExitFailure;
  }
  if (volumePath.empty() || discPath.empty()) {
    std::cerr << "mkdisc: VOLUME and DISC are required\n" << app.help();
    return kExitUsage;
  }
  std::vector<std::uint8_t> volume;
  DiscPlan plan;
  if (!ReadWholeFile(volumePath, volume, error) || !kestrow::mkdisc::PlanDisc(volume, options, plan, error) ||
      !WriteDiscFile(plan, discPath, error)) {
    std::cerr << "mkdisc: " << error << '\n';
    return kExitFailure;
  }
  PrintSummary(discPath, plan.layout);
  return 0;
}
