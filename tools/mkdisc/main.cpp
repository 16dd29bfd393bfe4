// mkdisc: packs an HFS volume image into a raw Kestrow PRO disc image.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
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

// Rebuilds the listed sectors (every sector when none is listed) of a raw
// image as Mode 1 sectors around their own user data: the tests change user
// bytes of an image and reseal them, so that the change reads as the disc's
// content rather than as damage the parity would mend.
bool ResealSectors(const std::string& path, std::vector<std::uint32_t> sectors, std::string& error) {
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
    ok = fseeko(file, offset, SEEK_SET) == 0 && std::fread(raw.data(), 1, raw.size(), file) == raw.size();
    if (!ok) break;
    const std::vector<std::uint8_t> user(raw.begin() + 16, raw.begin() + 16 + 2048);
    kestrow::SynthesizeMode1Sector(lba, user, raw);
    ok = fseeko(file, offset, SEEK_SET) == 0 && std::fwrite(raw.data(), 1, raw.size(), file) == raw.size();
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
    if (ResealSectors(resealPath, resealSectors, error)) return 0;
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
