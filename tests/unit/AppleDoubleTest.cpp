// The full AppleDouble companion, read back entry by entry as an AppleDouble
// reader would: every entry inside the file, none overlapping another,
// Finder info first and the resource fork last.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ZoneScope.h"
#include "recovery/AppleDouble.h"

namespace kestrow {
namespace {

std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

// Entry id -> its bytes, in descriptor order.
std::vector<std::pair<std::uint32_t, std::string>> ReadEntries(const std::vector<std::uint8_t>& file) {
  EXPECT_GE(file.size(), 26u);
  EXPECT_EQ(Be32(file, 0), 0x00051607u);
  EXPECT_EQ(Be32(file, 4), 0x00020000u);
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 24), std::string(16, '\0'));
  const std::size_t count = std::size_t{file[24]} << 8 | file[25];
  const std::size_t headerEnd = 26 + 12 * count;
  std::vector<std::pair<std::uint32_t, std::string>> entries;
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t id = Be32(file, 26 + 12 * i);
    const std::size_t offset = Be32(file, 30 + 12 * i);
    const std::size_t length = Be32(file, 34 + 12 * i);
    EXPECT_GE(offset, headerEnd);
    EXPECT_LE(offset + length, file.size());
    for (const auto& [start, end] : spans) EXPECT_TRUE(offset + length <= start || end <= offset) << "entry " << id;
    spans.emplace_back(offset, offset + length);
    entries.emplace_back(id, std::string(file.begin() + offset, file.begin() + offset + length));
  }
  return entries;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

FileEntry MacFile() {
  FileEntry e;
  e.name = "Caf\x8E:1";  // the catalogue's own bytes
  e.fileType = {'A', 'P', 'P', 'L', '\0'};
  e.creator = {'K', 's', 't', '2', '\0'};
  // filUsrWds: type, creator, flags 0x2140, location (18, 52), folder 0x7777.
  const std::string info = "APPLKst2" + Bytes({0x21, 0x40, 0x00, 0x12, 0x00, 0x34, 0x77, 0x77});
  std::copy(info.begin(), info.end(), e.finderInfo.begin());
  for (std::size_t i = 0; i < e.extendedFinderInfo.size(); ++i) e.extendedFinderInfo[i] = static_cast<std::uint8_t>(i + 1);
  e.createDate = 0xAB3EBEC0u;  // 1995-01-15 12:00:00
  e.modifyDate = 0xABA9C686u;  // 1995-04-06 16:25:42
  e.backupDate = 0;            // never backed up
  return e;
}

class FullCompanionTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FullCompanionTest, HoldsFinderInfoDatesMacNameAndTheResourceForkLast) {
  SKIP_WITHOUT_POSIX_ZONES();
  const test::ZoneScope zone("EST5EDT,M4.1.0,M10.5.0");
  const std::string& fork = GetParam();
  const FileEntry entry = MacFile();
  const std::vector<std::uint8_t> file =
      MakeAppleDouble(entry, std::span(reinterpret_cast<const std::uint8_t*>(fork.data()), fork.size()));
  const auto entries = ReadEntries(file);
  ASSERT_EQ(entries.size(), 4u);
  const std::map<std::uint32_t, std::string> byId(entries.begin(), entries.end());

  EXPECT_EQ(entries.front().first, 9u) << "Finder info comes first";
  EXPECT_EQ(entries.back().first, 2u) << "the resource fork comes last";
  EXPECT_EQ(Be32(file, 26 + 12 * 3 + 4) + fork.size(), file.size()) << "and ends the file";

  std::string extended;
  for (int i = 1; i <= 16; ++i) extended.push_back(static_cast<char>(i));
  // The window (fdFldr) is the source volume's and stays zero.
  EXPECT_EQ(byId.at(9), "APPLKst2" + Bytes({0x21, 0x40, 0x00, 0x12, 0x00, 0x34, 0, 0}) + extended);
  // Winter (UTC-5) and summer (UTC-4) dates; no backup and no access date.
  EXPECT_EQ(byId.at(8), Bytes({0xF6, 0xAC, 0x11, 0x10, 0xF7, 0x17, 0x0A, 0xC6, 0x80, 0, 0, 0, 0x80, 0, 0, 0}));
  EXPECT_EQ(byId.at(3), entry.name);
  EXPECT_EQ(byId.at(2), fork);
}

INSTANTIATE_TEST_SUITE_P(Forks, FullCompanionTest,
                         ::testing::Values(std::string(), std::string(300, 'R'), std::string("\0\x01\xFF", 3)));

}  // namespace
}  // namespace kestrow
