// Volume size text, code page conversion, HFS dates, and the list export bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TempDir.h"
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
