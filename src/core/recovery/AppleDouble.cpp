#include "recovery/AppleDouble.h"

#include <algorithm>
#include <cstring>

#include "text/ByteReader.h"
#include "text/HfsDate.h"

namespace kestrow {
namespace {

constexpr std::uint32_t kMagic = 0x00051607;
constexpr std::uint32_t kVersion2 = 0x00020000;
constexpr std::size_t kHeaderSize = 26;  // magic, version, filler, entry count
constexpr std::size_t kDescriptorSize = 12;
constexpr std::size_t kFinderInfoSize = 32;
constexpr std::size_t kDatesSize = 16;

enum EntryId : std::uint32_t {
  kResourceFork = 2,
  kRealName = 3,
  kFileDates = 8,
  kFinderInfo = 9,
};

// The first 16 bytes of Finder info: type and creator, then, in full
// companions, the Finder flags and the icon's location. The window the file
// belonged to (fdFldr) means nothing outside its own volume and stays zero.
constexpr std::size_t kFlagsAndLocation = 8;
constexpr std::size_t kFlagsAndLocationSize = 6;

void PutTypeAndCreator(std::uint8_t* out, const FileEntry& entry) {
  std::memcpy(out, entry.fileType.data(), 4);
  std::memcpy(out + 4, entry.creator.data(), 4);
}

void PutHeader(std::uint8_t* out, std::uint16_t entries) {
  PutBe32(out, kMagic);
  PutBe32(out + 4, kVersion2);
  PutBe16(out + 24, entries);
}

void PutDescriptor(std::uint8_t* out, std::uint32_t id, std::size_t offset, std::size_t length) {
  PutBe32(out, id);
  PutBe32(out + 4, static_cast<std::uint32_t>(offset));
  PutBe32(out + 8, static_cast<std::uint32_t>(length));
}

}  // namespace

std::array<std::uint8_t, kCompanionSize> MakeAppleDoubleHeader(const FileEntry& entry) {
  std::array<std::uint8_t, kCompanionSize> header{};
  PutHeader(header.data(), 2);
  PutDescriptor(&header[26], kFinderInfo, 50, kFinderInfoSize);
  PutDescriptor(&header[38], kResourceFork, kCompanionSize, 0);  // empty, at the end of the file
  PutTypeAndCreator(&header[50], entry);
  return header;
}

std::vector<std::uint8_t> MakeAppleDouble(const FileEntry& entry, std::span<const std::uint8_t> resourceFork) {
  constexpr std::uint16_t kEntries = 4;
  const std::size_t finderInfo = kHeaderSize + kEntries * kDescriptorSize;
  const std::size_t dates = finderInfo + kFinderInfoSize;
  const std::size_t name = dates + kDatesSize;
  const std::size_t fork = name + entry.name.size();
  std::vector<std::uint8_t> out(fork + resourceFork.size());
  std::uint8_t* bytes = out.data();

  PutHeader(bytes, kEntries);
  PutDescriptor(bytes + kHeaderSize, kFinderInfo, finderInfo, kFinderInfoSize);
  PutDescriptor(bytes + kHeaderSize + kDescriptorSize, kFileDates, dates, kDatesSize);
  PutDescriptor(bytes + kHeaderSize + 2 * kDescriptorSize, kRealName, name, entry.name.size());
  PutDescriptor(bytes + kHeaderSize + 3 * kDescriptorSize, kResourceFork, fork, resourceFork.size());

  PutTypeAndCreator(bytes + finderInfo, entry);
  std::copy_n(entry.finderInfo.begin() + kFlagsAndLocation, kFlagsAndLocationSize,
              bytes + finderInfo + kFlagsAndLocation);
  std::copy(entry.extendedFinderInfo.begin(), entry.extendedFinderInfo.end(), bytes + finderInfo + 16);

  PutBe32(bytes + dates, HfsDateToAppleDouble(entry.createDate));
  PutBe32(bytes + dates + 4, HfsDateToAppleDouble(entry.modifyDate));
  PutBe32(bytes + dates + 8, HfsDateToAppleDouble(entry.backupDate));
  PutBe32(bytes + dates + 12, kAppleDoubleUnknownDate);  // HFS keeps no access date

  std::copy(entry.name.begin(), entry.name.end(), bytes + name);
  std::copy(resourceFork.begin(), resourceFork.end(), bytes + fork);
  return out;
}

}  // namespace kestrow
