// Volume size text, code page conversion, HFS dates, and the list export bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TempDir.h"
#include "ZoneScope.h"
#include "filelist/FileListExport.h"
#include "rawtools/VolumeSize.h"
#include "text/CodePage.h"
#include "text/HfsDate.h"

namespace kestrow {
namespace {

struct SizeCase {
  std::int32_t sectors;
  const char* text;
};

class VolumeSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(VolumeSizeTest, KilobytesUpTo512SectorsThenTruncatedMegabytes) {
  EXPECT_EQ(FormatVolumeSize(GetParam().sectors), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, VolumeSizeTest,
                         ::testing::Values(SizeCase{2, "Total: 2 sector(s), 4 KB\n"},
                                           SizeCase{512, "Total: 512 sector(s), 1024 KB\n"},
                                           SizeCase{513, "Total: 513 sector(s), 1 MB\n"},
                                           SizeCase{333000, "Total: 333000 sector(s), 650 MB\n"},
                                           SizeCase{360000, "Total: 360000 sector(s), 703 MB\n"}));

TEST(CodePage, Windows1252ToUtf8) {
  EXPECT_EQ(Windows1252ToUtf8("Read Me"), "Read Me");
  EXPECT_EQ(Windows1252ToUtf8("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");        // é
  EXPECT_EQ(Windows1252ToUtf8("\x80"), "\xE2\x82\xAC");                  // €
  EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_EQ(Windows1252ToUtf8("\x99"), "\xE2\x84\xA2");                  // ™
}

TEST(CodePage, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(all)), all);
  EXPECT_EQ(Utf8ToWindows1252("\xE4\xB8\xAD"), "?");  // not in the code page
  EXPECT_EQ(Utf8ToWindows1252("\xC3"), "?");          // cut short
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Every byte 0x80-0xFF in both code pages, against the tables Microsoft and
// Apple published (tests/fixtures/codepages, written by Python's codecs).
TEST(CodePage, EveryHighByteAsThePublishedTablesMapIt) {
  std::ifstream table(KESTROW_FIXTURES_DIR "/codepages/codepages.tsv");
  ASSERT_TRUE(table.is_open());
  int rows = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string byteHex, windows, macRoman;
    fields >> byteHex >> windows >> macRoman;
    const std::string byte = FromHex(byteHex);
    // The five bytes Windows-1252 leaves undefined read as the C1 controls of the same value.
    if (windows == "undefined") windows = "c2" + byteHex;
    EXPECT_EQ(DiscTextToUtf8(byte, CodePage::kWindows1252), FromHex(windows)) << byteHex;
    EXPECT_EQ(DiscTextToUtf8(byte, CodePage::kMacRoman), FromHex(macRoman)) << byteHex;
    ++rows;
  }
  EXPECT_EQ(rows, 128);
}

struct DateCase {
  const char* zone;
  std::uint32_t hfs;          // local time of the Mac
  std::uint32_t appleDouble;  // seconds from 2000-01-01 00:00 UTC
};

class AppleDoubleDateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(AppleDoubleDateTest, LocalMacTimeBecomesUtcSince2000) {
  SKIP_WITHOUT_POSIX_ZONES();
  const test::ZoneScope zone(GetParam().zone);
  EXPECT_EQ(HfsDateToAppleDouble(GetParam().hfs), GetParam().appleDouble);
}

// 0xABA9C686 is 1995-04-06 16:25:42 (summer time in both zones), 0xAB3EBEC0
// 1995-01-15 12:00:00, 0xB492F400 2000-01-01 00:00:00.
INSTANTIATE_TEST_SUITE_P(Zones, AppleDoubleDateTest,
                         ::testing::Values(DateCase{"UTC0", 0xABA9C686u, 0xF716D286u},
                                           DateCase{"EST5EDT,M4.1.0,M10.5.0", 0xABA9C686u, 0xF7170AC6u},
                                           DateCase{"CET-1CEST,M3.5.0,M10.5.0/3", 0xABA9C686u, 0xF716B666u},
                                           DateCase{"EST5EDT,M4.1.0,M10.5.0", 0xAB3EBEC0u, 0xF6AC1110u},
                                           DateCase{"CET-1CEST,M3.5.0,M10.5.0/3", 0xAB3EBEC0u, 0xF6ABBCB0u},
                                           DateCase{"UTC0", 0xB492F400u, 0x00000000u},
                                           DateCase{"CET-1CEST,M3.5.0,M10.5.0/3", 0xB492F400u, 0xFFFFF1F0u},
                                           DateCase{"UTC0", 0u, kAppleDoubleUnknownDate}));

TEST(HfsDate, Iso8601) {
  EXPECT_EQ(HfsDateToIso8601(0), "1904-01-01T00:00:00");
  EXPECT_EQ(HfsDateToIso8601(2082844800u), "1970-01-01T00:00:00");
  EXPECT_EQ(HfsDateToIso8601(2082844800u + 951782400u + 3661u), "2000-02-29T01:01:01");
  EXPECT_EQ(HfsDateToIso8601(0xFFFFFFFFu), "2040-02-06T06:28:15");
}

FileEntry Row(std::string path, std::string name, std::uint32_t data, std::uint32_t rsrc) {
  FileEntry e;
  e.path = std::move(path);
  e.name = std::move(name);
  e.dataLogicalLength = data;
  e.rsrcLogicalLength = rsrc;
  return e;
}

TEST(FileListExport, ExactBytes) {
  const FileTable files{Row("Disk:Docs:", "Letter", 1000, 300), Row("Disk:", "Read Me", 0, 0),
                        Row("", "caf\xE9", 1, 0), Row("D:", "big", 0x80000000u, 0x80000001u)};
  EXPECT_EQ(FormatFileListExport(files),
            "Disk:Docs:Letter\t1300\r\nDisk:Read Me\t0\r\ncaf\xE9\t1\r\nD:big\t1\r\n");
  EXPECT_EQ(FormatFileListExport({}), "");
  EXPECT_EQ(FileListSizeText(Row("", "", 0x7FFFFFFFu, 1)), "-2147483648");
}

TEST(FileListExport, WritesTruncatesAndReportsFailures) {
  const auto dir = std::filesystem::temp_directory_path() / ("kestrow-export-" + std::to_string(test::ProcessId()));
  std::filesystem::create_directories(dir);
  const auto path = (dir / "FileList.txt").string();
  { std::ofstream(path) << "old content that is longer than the new one"; }
  EXPECT_EQ(WriteFileListExport({Row("Disk:", "a", 5, 0)}, path), ExportResult::kWritten);
  EXPECT_EQ(test::ReadFile(path), "Disk:a\t5\r\n");
  EXPECT_EQ(WriteFileListExport({}, (dir / "missing" / "x.txt").string()), ExportResult::kOpenFailed);
  if (std::filesystem::exists("/dev/full")) {
    FileTable many(2000, Row("Disk:", "name", 1, 1));
    EXPECT_EQ(WriteFileListExport(many, "/dev/full"), ExportResult::kWriteFailed);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kestrow
