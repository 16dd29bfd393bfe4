// Disc image files answering READ CAPACITY and READ CD like a drive: raw and
// user-data images, cue sheets and ddrescue mapfiles, through the real
// command path (scsi::ReadCapacity, scsi::ReadRawSector, READ CD of several).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "drive/DiscImageTransport.h"
#include "drive/Mode1Sector.h"
#include "drive/ScsiCommands.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRaw = 2352;
constexpr std::size_t kUser = 2048;
constexpr std::uint32_t kSectors = 5;

Bytes UserData(std::uint32_t sectors) {
  Bytes data(sectors * kUser);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i / kUser * 31 + i * 7);
  return data;
}

Bytes RawImage(const Bytes& user) {
  Bytes raw(user.size() / kUser * kRaw);
  for (std::size_t s = 0; s < user.size() / kUser; ++s) {
    SynthesizeMode1Sector(static_cast<std::uint32_t>(s), std::span<const std::uint8_t>(user).subspan(s * kUser, kUser),
                          std::span<std::uint8_t>(raw).subspan(s * kRaw, kRaw));
  }
  return raw;
}

std::string Cue(const std::string& file, const char* mode) {
  return "REM made by a test\r\nFILE \"" + file + "\" BINARY\r\n  TRACK 01 " + mode +
         "\r\n    INDEX 01 00:00:00\r\n";
}

class ImageFolder {
 public:
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const fs::path path = m_dir.path() / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string Write(const std::string& name, const std::string& text) const {
    return Write(name, Bytes(text.begin(), text.end()));
  }
  std::string Path(const std::string& name) const { return (m_dir.path() / name).string(); }

 private:
  test::TempDir m_dir;
};

// Sector `lba` as READ CD returns it, or empty when the read fails.
Bytes ReadSector(Transport& t, std::uint32_t lba) {
  Bytes sector(kRaw);
  const std::int32_t n = scsi::ReadRawSector(t, static_cast<std::int32_t>(lba), sector);
  if (n < 0) return {};
  EXPECT_EQ(n, static_cast<std::int32_t>(kRaw));
  return sector;
}

Bytes RawSectors(const Bytes& raw, std::uint32_t first, std::uint32_t count) {
  return Bytes(raw.begin() + first * kRaw, raw.begin() + (first + count) * kRaw);
}

struct FormCase {
  const char* name;
  const char* open;     // the file given to the transport
  ImageKind kind;
  std::uint32_t sectorSize;
};

class SameDisc : public ::testing::TestWithParam<FormCase> {
 protected:
  void SetUp() override {
    m_folder.Write("disc.bin", m_raw);
    m_folder.Write("disc.iso", m_user);
    m_folder.Write("bin.cue", Cue("disc.bin", "MODE1/2352"));
    m_folder.Write("iso.cue", Cue("disc.iso", "mode1/2048"));
    m_folder.Write("sub/up.cue", Cue("../disc.bin", "MODE1/2352"));
  }
  ImageFolder m_folder;
  Bytes m_user = UserData(kSectors);
  Bytes m_raw = RawImage(m_user);
};

TEST_P(SameDisc, GivesIdenticalRawSectors) {
  DiscImageTransport t(m_folder.Path(GetParam().open));
  ASSERT_TRUE(t.Open()) << t.OpenFailureDetail();
  EXPECT_EQ(t.Kind(), GetParam().kind);
  EXPECT_EQ(t.SectorSize(), GetParam().sectorSize);
  EXPECT_EQ(scsi::ReadCapacity(t), static_cast<std::int32_t>(kSectors));
  for (std::uint32_t lba = 0; lba < kSectors; ++lba) EXPECT_EQ(ReadSector(t, lba), RawSectors(m_raw, lba, 1)) << lba;
  EXPECT_TRUE(ReadSector(t, kSectors).empty());

  Bytes three(3 * kRaw);
  CommandResult r = t.Execute(scsi::BuildReadCd12(1, 3), three, scsi::kTimeoutSeconds);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.transferred, 3 * kRaw);
  EXPECT_EQ(three, RawSectors(m_raw, 1, 3));
  r = t.Execute(scsi::BuildReadCd12(3, 3), three, scsi::kTimeoutSeconds);  // runs past the end
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.transferred, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SameDisc,
    ::testing::Values(FormCase{"Raw", "disc.bin", ImageKind::kRaw2352, 2352},
                      FormCase{"UserData", "disc.iso", ImageKind::kUserData2048, 2048},
                      FormCase{"CueToRaw", "bin.cue", ImageKind::kCueSheet, 2352},
                      FormCase{"CueToUserData", "iso.cue", ImageKind::kCueSheet, 2048},
                      FormCase{"CueInSubfolder", "sub/up.cue", ImageKind::kCueSheet, 2352}),
    [](const auto& p) { return p.param.name; });

TEST(DiscImageTransport, RawImageGivesStoredBytesAsTheyAre) {
  ImageFolder folder;
  Bytes raw = RawImage(UserData(3));
  for (std::size_t i = kRaw + 2064; i < 2 * kRaw; ++i) raw[i] = 0x42;  // sector 1: EDC/ECC spoilt
  DiscImageTransport t(folder.Write("odd.bin", raw));
  ASSERT_TRUE(t.Open());
  EXPECT_EQ(ReadSector(t, 1), RawSectors(raw, 1, 1));
}

struct PartialCase {
  const char* name;
  Bytes image;
  std::int32_t sectors;
};

class PartialLastSector : public ::testing::TestWithParam<PartialCase> {};

TEST_P(PartialLastSector, IsNotCounted) {
  ImageFolder folder;
  DiscImageTransport t(folder.Write("image", GetParam().image));
  ASSERT_TRUE(t.Open());
  const std::int32_t sectors = GetParam().sectors;
  EXPECT_EQ(scsi::ReadCapacity(t), sectors);
  EXPECT_FALSE(ReadSector(t, static_cast<std::uint32_t>(sectors) - 1).empty());
  EXPECT_TRUE(ReadSector(t, static_cast<std::uint32_t>(sectors)).empty());
}

Bytes WithTail(Bytes bytes, std::size_t extra) {
  bytes.resize(bytes.size() + extra, 0x77);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(Images, PartialLastSector,
                         ::testing::Values(PartialCase{"UserData", WithTail(UserData(5), 100), 5},
                                           PartialCase{"Raw", WithTail(RawImage(UserData(3)), 1000), 3}),
                         [](const auto& p) { return p.param.name; });

struct MapCase {
  const char* name;
  const char* image;  // "disc.iso" or "bin.cue"
  std::string map;
  std::vector<bool> readable;  // per sector
};

class Mapfile : public ::testing::TestWithParam<MapCase> {};

TEST_P(Mapfile, SectorsReadOnlyWhereFinished) {
  ImageFolder folder;
  const Bytes user = UserData(kSectors);
  const Bytes raw = RawImage(user);
  folder.Write("disc.iso", user);
  folder.Write("disc.bin", raw);
  folder.Write("bin.cue", Cue("disc.bin", "MODE1/2352"));
  DiscImageTransport t(folder.Path(GetParam().image), folder.Write("disc.map", GetParam().map));
  ASSERT_TRUE(t.Open()) << t.OpenFailureDetail();
  EXPECT_TRUE(t.HasMapfile());
  EXPECT_EQ(scsi::ReadCapacity(t), static_cast<std::int32_t>(kSectors));
  for (std::uint32_t lba = 0; lba < kSectors; ++lba) {
    const Bytes sector = ReadSector(t, lba);
    if (GetParam().readable[lba]) {
      EXPECT_EQ(sector, RawSectors(raw, lba, 1)) << lba;
    } else {
      EXPECT_TRUE(sector.empty()) << lba;
    }
  }
  // A READ CD of two sectors succeeds only when both can be read.
  Bytes two(2 * kRaw);
  for (std::uint32_t lba = 0; lba + 1 < kSectors; ++lba) {
    const CommandResult r = t.Execute(scsi::BuildReadCd12(lba, 2), two, scsi::kTimeoutSeconds);
    ASSERT_EQ(r.ok, GetParam().readable[lba] && GetParam().readable[lba + 1]) << lba;
    if (r.ok) {
      EXPECT_EQ(two, RawSectors(raw, lba, 2)) << lba;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Maps, Mapfile,
    ::testing::Values(
        MapCase{"BadSector2", "disc.iso", "0x2800 +\n0x0 0x1000 +\n0x1000 0x800 -\n0x1800 0x1000 +\n",
                {true, true, false, true, true}},
        MapCase{"HalfReadSector3", "disc.iso", "0 ?\n0 6400 +\n6400 512 *\n6912 3328 +\n",
                {true, true, true, false, true}},
        MapCase{"MapEndsEarly", "disc.iso", "0 +\n0 0x2000 +\n", {true, true, true, true, false}},
        MapCase{"RawThroughCue", "bin.cue", "0 /\n0 4704 +\n4704 2352 /\n7056 4704 +\n",
                {true, true, false, true, true}},
        MapCase{"RawBlocksNotOnSectorEdges", "bin.cue", "0 +\n0 3000 +\n3000 3000 +\n6000 100 -\n6100 9999 +\n",
                {true, true, false, true, true}}),
    [](const auto& p) { return p.param.name; });

struct OpenFailureCase {
  const char* name;
  const char* image;
  const char* mapfile;  // "" for none
  std::string detail;   // the whole detail; "{dir}" stands for the folder
};

class OpenFailure : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailure, ClosesAndSaysWhy) {
  ImageFolder folder;
  folder.Write("disc.iso", UserData(kSectors));
  folder.Write("mode2.cue", Cue("disc.iso", "MODE2/2352"));
  folder.Write("lost.cue", Cue("gone.bin", "MODE1/2352"));
  folder.Write("twofiles.cue", Cue("disc.iso", "MODE1/2048") + "FILE \"b.bin\" BINARY\n");
  folder.Write("badsyntax.cue", "FILE \"disc.iso\" BINARY\nTRACK 1 MODE1/2048\nINDEX 01 1:2\n");
  folder.Write("bad.map", "0 +\n0 0x2800 +\n0x2800 0x10 !\n");
  fs::create_directories(folder.Path("folder"));
  const std::string map = *GetParam().mapfile != '\0' ? folder.Path(GetParam().mapfile) : std::string();
  std::string detail = GetParam().detail;
  if (const auto at = detail.find("{dir}"); at != std::string::npos) {
    detail.replace(at, 5, folder.Path(""));
  }
  DiscImageTransport failing(folder.Path(GetParam().image), map);
  EXPECT_FALSE(failing.Open());
  EXPECT_EQ(failing.OpenFailureDetail(), detail);
  EXPECT_FALSE(failing.IsOpen());
  EXPECT_EQ(scsi::ReadCapacity(failing), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, OpenFailure,
    ::testing::Values(
        OpenFailureCase{"MissingImage", "nothing.iso", "", "No such file or directory"},
        OpenFailureCase{"Folder", "folder", "", "Is a directory"},
        OpenFailureCase{"Mode2Cue", "mode2.cue", "", "cue sheet: MODE2/2352 tracks are not supported"},
        OpenFailureCase{"CueDataMissing", "lost.cue", "", "cue sheet data file {dir}gone.bin: No such file or directory"},
        OpenFailureCase{"CueTwoFiles", "twofiles.cue", "", "cue sheet: more than one FILE"},
        OpenFailureCase{"CueSyntax", "badsyntax.cue", "", "cue sheet line 3: index position is not mm:ss:ff"},
        OpenFailureCase{"MapfileMissing", "disc.iso", "none.map", "mapfile: No such file or directory"},
        OpenFailureCase{"MapfileMalformed", "disc.iso", "bad.map", "mapfile line 3: status is not one of ?*/-+"}),
    [](const auto& p) { return p.param.name; });

TEST(DiscImageTransport, FileThatShrankFailsTheLostSectors) {
  ImageFolder folder;
  const std::string iso = folder.Write("disc.iso", UserData(kSectors));
  DiscImageTransport t(iso);
  ASSERT_TRUE(t.Open());
  fs::resize_file(iso, 2 * kUser + kUser / 2);
  EXPECT_EQ(scsi::ReadCapacity(t), static_cast<std::int32_t>(kSectors));  // as opened
  EXPECT_FALSE(ReadSector(t, 1).empty());
  EXPECT_TRUE(ReadSector(t, 2).empty());  // half there: no garbage
  EXPECT_TRUE(ReadSector(t, 4).empty());
}

// Several sectors of a raw image come in one read; one cut off fails the
// whole command, as it fails on its own.
TEST(DiscImageTransport, RawImageThatShrankFailsRunsThatReachTheCut) {
  ImageFolder folder;
  const Bytes raw = RawImage(UserData(kSectors));
  const std::string bin = folder.Write("disc.bin", raw);
  DiscImageTransport t(bin);
  ASSERT_TRUE(t.Open());
  fs::resize_file(bin, 3 * kRaw + 100);
  Bytes three(3 * kRaw);
  CommandResult r = t.Execute(scsi::BuildReadCd12(0, 3), three, scsi::kTimeoutSeconds);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(three, RawSectors(raw, 0, 3));
  r = t.Execute(scsi::BuildReadCd12(1, 3), three, scsi::kTimeoutSeconds);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.transferred, 0u);
  EXPECT_TRUE(ReadSector(t, 3).empty());
}

TEST(DiscImageTransport, ReopenSeesTheFileAnew) {
  ImageFolder folder;
  const std::string iso = folder.Write("disc.iso", UserData(kSectors));
  DiscImageTransport t(iso);
  ASSERT_TRUE(t.Open());
  folder.Write("disc.iso", UserData(kSectors + 2));
  ASSERT_TRUE(t.Open());
  EXPECT_EQ(scsi::ReadCapacity(t), static_cast<std::int32_t>(kSectors + 2));
  fs::remove(iso);
  EXPECT_FALSE(t.Open());  // and a failed open leaves nothing open
  EXPECT_FALSE(t.IsOpen());
  EXPECT_TRUE(ReadSector(t, 0).empty());
}

}  // namespace
}  // namespace kestrow
