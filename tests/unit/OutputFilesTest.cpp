// Output names, folders, the data file and its AppleDouble companion.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <csignal>
#include <cstring>
#include <functional>
#include <set>
#include <tuple>

#include "TempDir.h"
#include "recovery/OutputFiles.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

struct NameCase {
  std::string in;
  std::string out;
};

class SanitizeNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SanitizeNameTest, ReplacesWhatTheFileSystemRefuses) {
  std::string name = GetParam().in;
  SanitizeName(name);
  EXPECT_EQ(name, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Names, SanitizeNameTest,
                         ::testing::Values(NameCase{"a/b:c*d", "a-b-c-d"}, NameCase{"Pics?", "Pics-"},
                                           NameCase{"\\/:*?<>|", "--------"}, NameCase{"plain name", "plain name"},
                                           NameCase{"", "-"}, NameCase{".", "-"}, NameCase{"..", "--"},
                                           NameCase{"...", "..."}, NameCase{".hidden", ".hidden"}));

struct OutputNameCase {
  std::string disc;  // the catalogue's bytes
  CodePage codePage;
  std::string out;   // UTF-8
};

class OutputNameTest : public ::testing::TestWithParam<OutputNameCase> {};

TEST_P(OutputNameTest, ReadInTheCodePageThenSanitized) {
  EXPECT_EQ(OutputName(GetParam().disc, GetParam().codePage), GetParam().out);
}

// Windows refuses '"' in a name as well.
#if defined(_WIN32)
#define QUOTE_OUT "-"
#else
#define QUOTE_OUT "\""
#endif

INSTANTIATE_TEST_SUITE_P(
    Names, OutputNameTest,
    ::testing::Values(OutputNameCase{"caf\xE9\"", CodePage::kWindows1252, "caf\xC3\xA9" QUOTE_OUT},
                      OutputNameCase{"caf\xE9/x", CodePage::kMacRoman, "caf\xC3\x88-x"},
                      OutputNameCase{"Caf\x8E", CodePage::kMacRoman, "Caf\xC3\xA9"},
                      OutputNameCase{"Caf\x8E", CodePage::kWindows1252, "Caf\xC5\xBD"},
                      OutputNameCase{"DART\xAA", CodePage::kMacRoman, "DART\xE2\x84\xA2"},
                      OutputNameCase{"\xF0:\x81", CodePage::kMacRoman, "\xEF\xA3\xBF-\xC3\x85"},
                      OutputNameCase{"..", CodePage::kMacRoman, "--"}, OutputNameCase{"", CodePage::kMacRoman, "-"}));

FileEntry Entry(std::string path, std::string name, const char* type = "TEXT", const char* creator = "ttxt") {
  FileEntry e;
  e.path = std::move(path);
  e.name = std::move(name);
  std::memcpy(e.fileType.data(), type, 4);
  std::memcpy(e.creator.data(), creator, 4);
  return e;
}

TEST(WriteOutputFiles, DataAndHiddenCompanionUnderTheCataloguePath) {
  TempDir dir;
  const std::vector<std::uint8_t> data{'h', 'i', '\n'};
  const OutputResult r = WriteOutputFiles(Entry("Disk:Pics?:", "a/b:c*d"), data, dir.Destination());
  EXPECT_TRUE(r.dataWritten);
  EXPECT_TRUE(r.companionWritten);
  EXPECT_EQ(ReadFile(dir.path() / "Disk" / "Pics-" / "a-b-c-d"), "hi\n");
  const std::string companion = ReadFile(dir.path() / "Disk" / "Pics-" / "._a-b-c-d");
  const std::string expected(
      "\x00\x05\x16\x07\x00\x02\x00\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x02"
      "\x00\x00\x00\x09\x00\x00\x00\x32\x00\x00\x00\x20"
      "\x00\x00\x00\x02\x00\x00\x00\x52\x00\x00\x00\x00"
      "TEXTttxt",
      58);
  ASSERT_EQ(companion.size(), 82u);
  EXPECT_EQ(companion.substr(0, 58), expected);
  EXPECT_EQ(companion.substr(58), std::string(24, '\0'));
}

TEST(WriteOutputFiles, EmptyPathWritesIntoTheDestinationAndEmptyForkGivesEmptyFile) {
  TempDir dir;
  const OutputResult r = WriteOutputFiles(Entry("", "Loose"), std::vector<std::uint8_t>{}, dir.Destination());
  EXPECT_TRUE(r.dataWritten);
  EXPECT_TRUE(fs::exists(dir.path() / "Loose"));
  EXPECT_EQ(fs::file_size(dir.path() / "Loose"), 0u);
  EXPECT_EQ(fs::file_size(dir.path() / "._Loose"), 82u);
}

TEST(WriteOutputFiles, SameFileAgainReplacesItsData) {
  TempDir dir;
  WriteOutputFiles(Entry("V:", "f"), {'l', 'o', 'n', 'g', 'e', 'r'}, dir.Destination());
  WriteOutputFiles(Entry("V:", "f"), {'x'}, dir.Destination());
  EXPECT_EQ(ReadFile(dir.path() / "V" / "f"), "x");
}

TEST(WriteOutputFiles, HostileNamesNeverLeaveTheDestination) {
  TempDir dir;
  const fs::path dest = dir.path() / "dest";
  fs::create_directories(dest);
  const std::string destination = dest.string() + "/";
  // Folder and file names that would climb out of or replace the folder.
  const std::vector<FileEntry> entries = {Entry("..:..:", ".."), Entry(".:", "."), Entry(":", ""),
                                          Entry("V:..:", "x"), Entry("../etc:", "passwd")};
  for (const FileEntry& e : entries) {
    EXPECT_TRUE(WriteOutputFiles(e, {'!'}, destination).dataWritten) << e.path << e.name;
  }
  // Nothing appeared beside the destination folder.
  std::vector<std::string> outside;
  for (const auto& item : fs::directory_iterator(dir.path())) outside.push_back(item.path().filename().string());
  EXPECT_EQ(outside, std::vector<std::string>{"dest"});
  EXPECT_TRUE(fs::exists(dest / "--" / "--" / "--"));
  EXPECT_TRUE(fs::exists(dest / "-" / "-"));
  EXPECT_TRUE(fs::exists(dest / "-" / "._-"));
  EXPECT_TRUE(fs::exists(dest / "V" / "--" / "x"));
  EXPECT_TRUE(fs::exists(dest / "..-etc" / "passwd"));
}

TEST(WriteOutputFiles, FolderPathsLongerThan255BytesAreKeptWhole) {
  TempDir dir;
  std::string path;
  for (int level = 0; level < 12; ++level) path += std::string(30, static_cast<char>('a' + level)) + ":";
  ASSERT_GT(path.size(), 255u);
  EXPECT_TRUE(WriteOutputFiles(Entry(path, "deep"), {'d'}, dir.Destination()).dataWritten);
  fs::path expected = dir.path();
  for (int level = 0; level < 12; ++level) expected /= std::string(30, static_cast<char>('a' + level));
  EXPECT_EQ(ReadFile(expected / "deep"), "d");
}

TEST(WriteOutputFiles, UncreatableDataFileIsReportedAndCompanionStillTried) {
  TempDir dir;
  // A file where the folder should be: the folder cannot be made.
  std::ofstream(dir.path() / "Disk") << "in the way";
  const OutputResult r = WriteOutputFiles(Entry("Disk:", "f"), {'x'}, dir.Destination());
  EXPECT_FALSE(r.dataWritten);
  EXPECT_FALSE(r.companionWritten);
  EXPECT_EQ(r.error, "Not a directory");
  EXPECT_EQ(ReadFile(dir.path() / "Disk"), "in the way");
}

#if !defined(_WIN32)
TEST(WriteOutputFiles, FullDiskDoesNotCountAndLeavesNoTruncatedFile) {
  TempDir dir;
  ASSERT_TRUE(WriteOutputFiles(Entry("V:", "f"), {'o', 'l', 'd'}, dir.Destination()).dataWritten);
  // A file size limit makes writes fail as on a full disk.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::vector<std::uint8_t> big(100000, 0x5A);
  const OutputResult r = WriteOutputFiles(Entry("V:", "big"), big, dir.Destination());
  const OutputResult again = WriteOutputFiles(Entry("V:", "f"), big, dir.Destination());
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(r.dataWritten);
  EXPECT_EQ(r.error, "File too large");
  EXPECT_FALSE(fs::exists(dir.path() / "V" / "big"));
  EXPECT_TRUE(r.companionWritten) << "82 bytes still fit";
  // A file written before stays as it was until a new one is whole.
  EXPECT_FALSE(again.dataWritten);
  EXPECT_EQ(ReadFile(dir.path() / "V" / "f"), "old");
  // Nothing else is left behind: no partial file under any name.
  std::set<std::string> left;
  for (const auto& item : fs::directory_iterator(dir.path() / "V")) left.insert(item.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"._big", "f", "._f"}));
}

TEST(WriteOutputFiles, ControlCharactersAndDotsAreKeptAsTheCatalogueHasThem) {
  TempDir dir;
  // Bytes 0x01-0x1F and names of dots are legal names here; nothing of them
  // climbs out of the folder, so they are written as they are.
  const std::vector<std::string> names = {std::string("\x01\x02tab\there\x1b[31m\x1f"), std::string(31, '.'),
                                          "\x7f", "new\nline"};
  for (const std::string& name : names) {
    ASSERT_TRUE(WriteOutputFiles(Entry("V:", name), {'n'}, dir.Destination()).dataWritten);
    EXPECT_EQ(ReadFile(dir.path() / "V" / name), "n");
    EXPECT_TRUE(fs::exists(dir.path() / "V" / ("._" + name)));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}
#endif  // Windows refuses these names: see WindowsOutputTest

TEST(WriteOutputFiles, NamesThatCollideAfterReplacementAreNumberedWithinAJob) {
  TempDir dir;
  OutputNames names;
  // "a/b", "a*b" and "a?b" all become "a-b"; "a-b (2)" then collides too.
  const std::vector<std::pair<std::string, std::string>> written = {
      {"a/b", "a-b"}, {"a*b", "a-b (2)"}, {"a-b (2)", "a-b (2) (2)"}, {"a?b", "a-b (3)"},
      {"r/s.txt", "r-s.txt"}, {"r:s.txt", "r-s (2).txt"}, {".x/", ".x-"}, {".x*", ".x- (2)"}};
  std::uint32_t fileId = 100;
  for (const auto& [name, expected] : written) {
    const std::vector<std::uint8_t> data(name.begin(), name.end());
    FileEntry entry = Entry("V:", name);
    entry.fileId = ++fileId;
    const OutputResult r = WriteOutputFiles(entry, data, dir.Destination(), &names);
    ASSERT_TRUE(r.dataWritten) << name;
    EXPECT_EQ(r.dataPath, dir.Destination() + "V" + PathSeparator() + expected);
    EXPECT_EQ(ReadFile(dir.path() / "V" / expected), name) << "the file written as " << expected;
    EXPECT_TRUE(fs::exists(dir.path() / "V" / ("._" + expected)));
  }
  // The same file selected twice keeps its name; the same name in another
  // folder is no collision.
  FileEntry again = Entry("V:", "a/b");
  again.fileId = 101;
  EXPECT_EQ(WriteOutputFiles(again, {'x'}, dir.Destination(), &names).dataPath,
            dir.Destination() + "V" + PathSeparator() + "a-b");
  EXPECT_EQ(WriteOutputFiles(Entry("W:", "a/b"), {'w'}, dir.Destination(), &names).dataPath,
            dir.Destination() + "W" + PathSeparator() + "a-b");
}

#if !defined(_WIN32)  // Windows takes paths of up to 32,767 characters: see WindowsOutputTest
TEST(WriteOutputFiles, AFolderChainLongerThanTheFileSystemAllowsIsReportedAndStaysInside) {
  TempDir dir;
  const fs::path dest = dir.path() / "dest";
  fs::create_directories(dest);
  std::string path;
  for (int level = 0; level < 200; ++level) path += std::string(31, static_cast<char>('a' + level % 26)) + ":";
  const OutputResult r = WriteOutputFiles(Entry(path, "deep"), {'d'}, dest.string() + "/");
  EXPECT_FALSE(r.dataWritten);
  EXPECT_EQ(r.error, "File name too long");
  std::vector<std::string> beside;
  for (const auto& item : fs::directory_iterator(dir.path())) beside.push_back(item.path().filename().string());
  EXPECT_EQ(beside, std::vector<std::string>{"dest"});
}
#endif

// "._Foo" on the disc beside "Foo": whichever comes first keeps its name, and
// the other moves aside rather than take or give up a companion's name.
TEST(WriteOutputFiles, ADiscFileNamedLikeACompanionKeepsItsBytesAndTheCompanionStays) {
  for (const bool companionLikeFirst : {false, true}) {
    TempDir dir;
    OutputNames names;
    FileEntry foo = Entry("V:", "Foo");
    foo.fileId = 1;
    FileEntry dotted = Entry("V:", "._Foo");
    dotted.fileId = 2;
    const std::vector<std::uint8_t> fooBytes{'f', 'o', 'o'};
    const std::vector<std::uint8_t> dottedBytes{'d', 'o', 't'};
    const auto writeDotted = [&] { return WriteOutputFiles(dotted, dottedBytes, dir.Destination(), &names).dataWritten; };
    if (companionLikeFirst) {
      ASSERT_TRUE(writeDotted());
    }
    const OutputResult fooResult = WriteOutputFiles(foo, fooBytes, dir.Destination(), &names);
    if (!companionLikeFirst) {
      ASSERT_TRUE(writeDotted());
    }
    ASSERT_TRUE(fooResult.dataWritten && fooResult.companionWritten);
    const fs::path folder = dir.path() / "V";
    const std::string fooName = companionLikeFirst ? "Foo (2)" : "Foo";
    EXPECT_EQ(ReadFile(folder / fooName), "foo");
    EXPECT_EQ(ReadFile(folder / ("._" + fooName)).size(), kCompanionSize);
    EXPECT_EQ(ReadFile(folder / (companionLikeFirst ? "._Foo" : "._Foo (2)")), "dot");
  }
}

// Files are written under temporary names that no disc name becomes, and
// what a run cut short left under such names (regular files only) goes when
// a later run writes into the folder.
TEST(WriteOutputFiles, LeftoverTemporariesAreRemovedAndNoDiscNameIsOne) {
#if defined(_WIN32)
  const std::vector<std::string> temporaries = {"KP~00042.TMP", "KP~00043.TMP"};
#else
  const std::vector<std::string> temporaries = {".kestrow-partial-0000abcd", ".kestrow-partial-0000abce"};
#endif
  for (const std::string& name : temporaries) {
    ASSERT_TRUE(IsTemporaryName(name));
    EXPECT_FALSE(IsTemporaryName(OutputName(name, CodePage::kWindows1252))) << name;
    EXPECT_FALSE(IsTemporaryName(OutputName(name, CodePage::kMacRoman))) << name;
  }
  TempDir dir;
  fs::create_directories(dir.path() / "V" / temporaries[1]);  // a folder of that name stays
  std::ofstream(dir.path() / "V" / temporaries[0]) << "left by a run cut short";
  std::ofstream(dir.path() / "V" / "unrelated") << "stays";
  ASSERT_TRUE(WriteOutputFiles(Entry("V:", "f"), {'n'}, dir.Destination()).dataWritten);
  std::set<std::string> left;
  for (const auto& item : fs::directory_iterator(dir.path() / "V")) left.insert(item.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"f", "._f", "unrelated", temporaries[1]}));
}

#if !defined(_WIN32)  // links and named pipes as Linux makes them; see WindowsOutputTest
// What may lie in the destination where a file or folder goes. Nothing there
// is opened or written through; a regular file is replaced by a new one.
struct InTheWayCase {
  const char* what;
  bool atFolder;  // at the place of the file's folder rather than the file
  std::function<void(const fs::path& place, const fs::path& outside)> plant;
  const char* reason;  // empty: the file is written
};

// Writes "new" as V/f (V/W/f when `atFolder`) into `dest` as a job does, on
// the road of a file system without the rename that keeps an existing entry:
// the place is looked at, then replaced. The reason it was not written, or "".
std::string WriteLookingFirst(const fs::path& dest, bool atFolder) {
  std::string error;
  std::unique_ptr<OutputFolder> folder = OutputFolder::Open(dest.string(), error);
  if (folder) folder = folder->OpenSubfolder("V", error);
  if (folder && atFolder) folder = folder->OpenSubfolder("W", error);
  if (!folder) return error;
  folder->LookBeforeRenaming();
  std::string temporary;
  std::unique_ptr<OutputFile> file = folder->CreateTemporary(false, temporary, error);
  const std::uint8_t bytes[] = {'n', 'e', 'w'};
  if (!file || !file->Write(bytes, error) || !file->Close(error)) return "not written: " + error;
  if (folder->MoveIntoPlace(temporary, "f", {}, error)) return "";
  folder->RemoveFile(temporary);
  return error;
}

// Each place, with the rename that keeps an existing entry (false) and by
// looking first (true).
class InTheWayTest : public ::testing::TestWithParam<std::tuple<InTheWayCase, bool>> {};

TEST_P(InTheWayTest, NothingOutsideTheDestinationChanges) {
  const auto& [c, lookFirst] = GetParam();
  TempDir dir;
  const fs::path dest = dir.path() / "dest";
  const fs::path outside = dir.path() / "outside";
  fs::create_directories(dest / "V");
  fs::create_directories(outside);
  std::ofstream(outside / "f") << "keep";
  c.plant(c.atFolder ? dest / "V" / "W" : dest / "V" / "f", outside);

  OutputResult r;
  if (lookFirst) {
    r.error = WriteLookingFirst(dest, c.atFolder);
    r.dataWritten = r.error.empty();
  } else {
    r = WriteOutputFiles(Entry(c.atFolder ? "V:W:" : "V:", "f"), {'n', 'e', 'w'}, dest.string() + "/");
  }
  EXPECT_EQ(r.dataWritten, *c.reason == '\0');
  EXPECT_EQ(r.error, c.reason);
  // No temporary file is left beside what was or was not written.
  for (const auto& item : fs::recursive_directory_iterator(dest)) {
    EXPECT_FALSE(IsTemporaryName(item.path().filename().string())) << item.path();
  }
  if (r.dataWritten) {
    EXPECT_EQ(ReadFile(dest / "V" / "f"), "new");
  }
  EXPECT_EQ(ReadFile(outside / "f"), "keep");
  std::vector<std::string> outsideNames;
  for (const auto& item : fs::directory_iterator(outside)) outsideNames.push_back(item.path().filename().string());
  EXPECT_EQ(outsideNames, std::vector<std::string>{"f"});
}

INSTANTIATE_TEST_SUITE_P(
    Places, InTheWayTest,
    ::testing::Combine(::testing::Values(
        InTheWayCase{"LinkToAFile", false, [](auto& p, auto& o) { fs::create_symlink(o / "f", p); },
                     "a symbolic link is in its place"},
        InTheWayCase{"DanglingLink", false, [](auto& p, auto& o) { fs::create_symlink(o / "new", p); },
                     "a symbolic link is in its place"},
        InTheWayCase{"NamedPipe", false, [](auto& p, auto&) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
                     "a named pipe is in its place"},
        InTheWayCase{"Folder", false, [](auto& p, auto&) { fs::create_directory(p); }, "Is a directory"},
        InTheWayCase{"OldFile", false, [](auto& p, auto&) { std::ofstream(p) << "old content"; }, ""},
        InTheWayCase{"HardLinkToAFile", false, [](auto& p, auto& o) { fs::create_hard_link(o / "f", p); }, ""},
        InTheWayCase{"LinkToAFolder", true, [](auto& p, auto& o) { fs::create_directory_symlink(o, p); },
                     "a symbolic link is in its place"},
        InTheWayCase{"NamedPipeForAFolder", true, [](auto& p, auto&) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
                     "a named pipe is in its place"},
        InTheWayCase{"FileForAFolder", true, [](auto& p, auto&) { std::ofstream(p) << "x"; }, "Not a directory"},
        // Left alone for every user: root, whom permissions do not stop, too.
        InTheWayCase{"ReadOnlyFile", false,
                     [](auto& p, auto&) {
                       std::ofstream(p) << "read-only";
                       fs::permissions(p, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
                     },
                     "Permission denied"}),
                       ::testing::Bool()),
    [](const auto& testCase) {
      return std::string(std::get<0>(testCase.param).what) + (std::get<1>(testCase.param) ? "LookingFirst" : "");
    });
#endif

}  // namespace
}  // namespace kestrow
