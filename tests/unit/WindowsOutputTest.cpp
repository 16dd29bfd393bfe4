// Recovered files on Windows: names Windows refuses, paths beyond 260
// characters, the hidden companion, names that differ only in case. Every
// file stays inside the destination folder.
#if defined(_WIN32)
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>

#include "TempDir.h"
#include "platform/FileSystem.h"
#include "recovery/OutputFiles.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

FileEntry Entry(std::string path, std::string name, std::uint32_t fileId = 1, const char* type = "TEXT") {
  FileEntry e;
  e.path = std::move(path);
  e.name = std::move(name);
  e.fileId = fileId;
  std::memcpy(e.fileType.data(), type, 4);
  std::memcpy(e.creator.data(), "ttxt", 4);
  return e;
}

// Read through the extended-length form, so that long paths can be read back.
std::string Contents(const fs::path& path) {
  std::FILE* file = OpenFile(Utf8FromPath(path), "rb");
  if (file == nullptr) return "(missing)";
  std::string text;
  char chunk[256];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
  std::fclose(file);
  return text;
}

bool IsHidden(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(WindowsPath(Utf8FromPath(path)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
}

// Every file under `folder`, by its path relative to it with '/', in UTF-8.
std::vector<std::string> FilesUnder(const fs::path& folder) {
  const std::wstring root = WindowsPath(Utf8FromPath(folder));
  std::vector<std::string> files;
  test::WalkTree(root, [&](const std::wstring& path, bool isFolder) {
    if (isFolder) return;
    std::string relative = Utf8FromPath(fs::path(path.substr(root.size() + 1)));
    std::replace(relative.begin(), relative.end(), '\\', '/');
    files.push_back(relative);
  });
  std::sort(files.begin(), files.end());
  return files;
}

struct RefusedCase {
  std::string path;  // catalogue path and name, Windows-1252 bytes
  std::string name;
  std::string written;  // where the data file must be, UTF-8, under the destination
};

TEST(WindowsOutput, RefusedNamesAreWrittenUnderSafeNamesInsideTheDestination) {
  TempDir dir;
  const fs::path dest = dir.path() / "dest";
  fs::create_directories(dest);
  const std::vector<RefusedCase> cases = {
      {"Disk:CON:", "aux.txt", "Disk/CON-/aux-.txt"},
      {"Disk:Lpt1 :", "com9", "Disk/Lpt1-/com9-"},
      {"Disk:trailing. :", "name.", "Disk/trailing--/name-"},
      {"Disk:", "say \"hi\"", "Disk/say -hi-"},
      {"Disk:", "bell\x07tab\t", "Disk/bell-tab-"},
      {"..:..:", "..", "--/--/--"},
      {"Disk:", "LETTER~1.TXT", "Disk/LETTER-1.TXT"},
      {"Disk:", "caf\xE9 \x80", "Disk/caf\xC3\xA9 \xE2\x82\xAC"},  // Windows-1252 e-acute and euro sign
  };
  std::vector<std::string> expected;
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.written);
    const OutputResult r = WriteOutputFiles(Entry(c.path, c.name), {'o', 'k'}, Utf8FromPath(dest) + "\\");
    EXPECT_TRUE(r.dataWritten) << r.error;
    EXPECT_TRUE(r.companionWritten);
    const fs::path data = dest / PathFromUtf8(c.written);
    EXPECT_EQ(Contents(data), "ok");
    EXPECT_TRUE(IsHidden(data.parent_path() / PathFromUtf8("._" + Utf8FromPath(data.filename()))));
    expected.push_back(c.written);
    const std::size_t slash = c.written.rfind('/');
    expected.push_back(c.written.substr(0, slash + 1) + "._" + c.written.substr(slash + 1));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesUnder(dest), expected);
  EXPECT_EQ(FilesUnder(dir.path()).size(), expected.size()) << "a file was written beside the destination";
}

TEST(WindowsOutput, PathsBeyond260CharactersAreWrittenWhole) {
  TempDir dir;
  std::string path = "Disk:";
  for (int level = 0; level < 100; ++level) path += std::string(30, static_cast<char>('a' + level % 26)) + ":";
  const OutputResult r = WriteOutputFiles(Entry(path, "deep"), {'d'}, dir.Destination());
  ASSERT_TRUE(r.dataWritten) << r.error;
  EXPECT_GT(r.dataPath.size(), 3000u);
  EXPECT_EQ(WindowsPath(r.dataPath).rfind(L"\\\\?\\", 0), 0u) << "the system gets the extended-length form";
  EXPECT_EQ(Contents(PathFromUtf8(r.dataPath)), "d");
  EXPECT_EQ(FilesUnder(dir.path()).size(), 2u);
}

TEST(WindowsOutput, TheHiddenCompanionIsReplacedByALaterRecovery) {
  TempDir dir;
  WriteOutputFiles(Entry("V:", "f", 1, "TEXT"), {'1'}, dir.Destination());
  const fs::path companion = dir.path() / "V" / "._f";
  ASSERT_TRUE(IsHidden(companion));
  const OutputResult again = WriteOutputFiles(Entry("V:", "f", 1, "PICT"), {'2'}, dir.Destination());
  EXPECT_TRUE(again.companionWritten);
  EXPECT_EQ(Contents(companion).substr(50, 4), "PICT");
  EXPECT_TRUE(IsHidden(companion));
  EXPECT_EQ(Contents(dir.path() / "V" / "f"), "2");
}

TEST(WindowsOutput, NamesThatDifferOnlyInCaseAreNumberedNotReplaced) {
  TempDir dir;
  OutputNames names;
  // Windows-1252 0xC9 and 0xE9 are E-acute and e-acute.
  const std::vector<std::pair<std::string, std::string>> written = {
      {"Readme", "Readme"}, {"README", "README (2)"}, {"caf\xE9", "caf\xC3\xA9"}, {"CAF\xC9", "CAF\xC3\x89 (2)"}};
  std::uint32_t fileId = 10;
  for (const auto& [name, expected] : written) {
    const OutputResult r = WriteOutputFiles(Entry("V:", name, ++fileId), std::vector<std::uint8_t>(name.begin(), name.end()),
                                            dir.Destination(), &names);
    EXPECT_TRUE(r.dataWritten) << expected;
    EXPECT_EQ(Contents(dir.path() / "V" / PathFromUtf8(expected)), name) << expected;
  }
  EXPECT_EQ(FilesUnder(dir.path()).size(), 2 * written.size());
}

}  // namespace
}  // namespace kestrow
#endif
