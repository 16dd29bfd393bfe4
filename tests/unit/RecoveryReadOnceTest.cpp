// Whole recovery jobs on discs packed by mkdisc: every output byte, the end
// of the job and the files saved must be those of the straightforward worker
// (one sector per command, every group read again for every file), while
// each needed sector is read once, in far fewer commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "DiscBuilder.h"
#include "SingleSectorReference.h"
#include "TempDir.h"
#include "TestDisc.h"
#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "MemoryTransport.h"
#include "text/ByteReader.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kBlock = 8192;
constexpr std::uint32_t kCatalogBlocks = 40;

struct Disc {
  Bytes volume;
  Bytes userData;  // 2,048 bytes per sector, for a MemoryTransport
};

const Disc& PackedDisc(std::size_t blocksPerGroup, unsigned volumeStartOffset, bool uncompressed) {
  static std::map<std::tuple<std::size_t, unsigned, bool>, Disc> discs;
  Disc& disc = discs[{blocksPerGroup, volumeStartOffset, uncompressed}];
  if (!disc.volume.empty()) return disc;
  disc.volume = test::MakePackableVolume(120 * kBlock, kCatalogBlocks);
  mkdisc::DiscOptions options;
  options.blocksPerGroup = blocksPerGroup;
  options.volumeStartOffset = volumeStartOffset;
  options.uncompressed = uncompressed;
  Bytes raw;
  mkdisc::DiscLayout layout;
  std::string error;
  EXPECT_TRUE(mkdisc::BuildDisc(disc.volume, options, raw, layout, error)) << error;
  for (std::size_t s = 0; s < raw.size() / 2352; ++s) {
    disc.userData.insert(disc.userData.end(), raw.begin() + static_cast<std::ptrdiff_t>(s * 2352 + 16),
                         raw.begin() + static_cast<std::ptrdiff_t>(s * 2352 + 16 + 2048));
  }
  return disc;
}

// A file whose data fork is `length` bytes from volume byte 9,728 + 512 x block.
FileEntry File(const std::string& name, std::uint32_t block, std::uint32_t length) {
  FileEntry entry;
  entry.name = name;
  entry.path = "Disc:";
  entry.dataExtents[0].startBlock = block;
  entry.dataLogicalLength = length;
  std::memcpy(entry.fileType.data(), "TEXT", 4);
  std::memcpy(entry.creator.data(), "ttxt", 4);
  return entry;
}

std::vector<FileEntry> ManySmallFiles() {
  std::vector<FileEntry> files;
  std::uint32_t block = 30;
  for (int i = 0; i < 40; ++i) {
    const std::uint32_t length = 1500 + 97 * static_cast<std::uint32_t>(i);
    files.push_back(File("small" + std::to_string(i), block, length));
    block += (length + 511) / 512;
  }
  return files;
}

std::vector<FileEntry> FilesOutOfTableOrder() {
  std::vector<FileEntry> files;
  for (int i = 0; i < 14; ++i) {
    files.push_back(File("scattered" + std::to_string(i), 20 + 130 * static_cast<std::uint32_t>(i),
                         20000 + 3001 * static_cast<std::uint32_t>(i)));
  }
  std::mt19937 rng(3);
  std::shuffle(files.begin(), files.end(), rng);
  return files;
}

std::vector<FileEntry> LargeAndRepeated() {
  return {File("large", 100, 400000), File("inside-large", 400, 9000), File("empty", 50, 0),
          File("large", 100, 400000), File("tail", 1700, 60000), File("first", 0, 5000)};
}

std::vector<FileEntry> PastThePackedData() {
  return {File("first", 0, 5000), File("past-the-data", 5000, 3000), File("tail", 1700, 60000)};
}

// Every file under `root`, by path relative to it, with its contents.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(root)) return tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) tree[fs::relative(item.path(), root).generic_string()] = test::ReadFile(item.path());
  }
  return tree;
}

// Remembers which sectors were asked for.
class SectorLog : public Transport {
 public:
  explicit SectorLog(std::unique_ptr<Transport> inner) : m_inner(std::move(inner)) {}
  bool Open() override { return m_inner->Open(); }
  void Close() override { m_inner->Close(); }
  bool IsOpen() const override { return m_inner->IsOpen(); }
  std::string Path() const override { return m_inner->Path(); }
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override {
    if (cdb.size() >= 12 && cdb[0] == 0xBE) {
      const ByteReader reader(cdb);
      for (std::uint32_t i = 0; i < *reader.be24(6); ++i) m_sectors.insert(*reader.be32(2) + i);
    }
    return m_inner->Execute(cdb, dataIn, timeoutSeconds);
  }
  const std::set<std::uint32_t>& sectors() const { return m_sectors; }

 private:
  std::unique_ptr<Transport> m_inner;
  std::set<std::uint32_t> m_sectors;
};

struct Faults {
  std::vector<std::uint32_t> failAt;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> shortAt;
};

struct Drive {
  std::unique_ptr<CKestrowCore> core;
  FaultInjectingTransport* faults = nullptr;
  SectorLog* log = nullptr;
};

Drive MakeDrive(const Disc& disc, const Faults& f) {
  Drive drive;
  auto faults = std::make_unique<FaultInjectingTransport>(std::make_unique<MemoryTransport>(disc.userData));
  for (std::uint32_t lba : f.failAt) faults->FailReadAt(lba);
  for (const auto& [lba, bytes] : f.shortAt) faults->ShortTransferAt(lba, bytes);
  drive.faults = faults.get();
  auto log = std::make_unique<SectorLog>(std::move(faults));
  drive.log = log.get();
  drive.core = std::make_unique<CKestrowCore>(std::move(log));
  return drive;
}

// Where a disc's groups are, as the reader finds them.
struct Placement {
  std::vector<std::int32_t> boundaries;
  int base = 0;
  std::uint32_t areaFirstSector = 0;
  std::uint32_t sectorCount = 0;

  int GroupOf(std::int64_t volumeByte) const {
    return FindGroupIndex(boundaries, static_cast<std::int32_t>(volumeByte));
  }
  // A sector in the middle of the group's data.
  std::uint32_t SectorIn(int group) const { return static_cast<std::uint32_t>(base + group * 248 + 123); }
};

Placement Place(const Disc& disc) {
  CKestrowCore core(std::make_unique<MemoryTransport>(disc.userData));
  VolumeImage image;
  TrackTrailer trailer;
  EXPECT_TRUE(core.LoadVolumeImage(image, &trailer));
  Placement p;
  EXPECT_TRUE(ReadPackTable(image, p.boundaries));
  p.sectorCount = static_cast<std::uint32_t>(core.GetSectorCount());
  p.base = GroupBaseSector(static_cast<int>(p.sectorCount), static_cast<int>(image.size()),
                           static_cast<int>(p.boundaries.size()));
  p.areaFirstSector = trailer.volumeStart / 4;
  return p;
}

struct JobRun {
  RecoveryOutcome outcome;
  std::map<std::string, std::string> tree;
};

std::string SimpleDestination(const test::TempDir& dir) {
  const fs::path out = dir.path() / "simple";
  fs::create_directories(out);
  return out.string() + "/";
}

JobRun RunFastJob(Drive& drive, const std::vector<FileEntry>& files, const test::TempDir& dir) {
  const fs::path out = dir.path() / "fast";
  fs::create_directories(out);
  EXPECT_TRUE(drive.core->StartRecovery(files, out.string() + "/"));
  drive.core->WaitForRecovery();
  return {drive.core->GetRecoveryOutcome(), Tree(out)};
}

void ExpectSameEnd(const RecoveryOutcome& got, const reference::JobResult& want) {
  EXPECT_EQ(got.state, want.state);
  if (want.state == RecoveryState::kFailedAtFile) {
    EXPECT_EQ(got.failedFile, want.failedFile);
  }
  EXPECT_EQ(got.written, want.written);
  EXPECT_EQ(got.unwritten, want.unwritten);
  EXPECT_EQ(got.incomplete, want.incomplete);
}

struct LayoutCase {
  const char* name;
  std::size_t blocksPerGroup;
  unsigned volumeStartOffset;
  bool uncompressed;
  std::vector<FileEntry> (*files)();
};

class ReadOnceTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ReadOnceTest, SameFilesAsTheSimpleWorkerWithEachSectorReadOnce) {
  const LayoutCase& c = GetParam();
  const Disc& disc = PackedDisc(c.blocksPerGroup, c.volumeStartOffset, c.uncompressed);
  const std::vector<FileEntry> files = c.files();
  test::TempDir dir;

  Drive fast = MakeDrive(disc, {});
  const JobRun got = RunFastJob(fast, files, dir);
  Drive simple = MakeDrive(disc, {});
  const reference::JobResult want = reference::RunJob(*simple.core, files, SimpleDestination(dir));

  ExpectSameEnd(got.outcome, want);
  EXPECT_EQ(got.outcome.state, RecoveryState::kFinished);
  EXPECT_TRUE(got.tree == Tree(dir.path() / "simple")) << "the output files differ from the simple worker's";
  // And they hold the volume's own bytes, wherever the packed data reaches.
  for (const FileEntry& f : files) {
    const std::size_t start = 9728 + std::size_t{f.dataExtents[0].startBlock} * 512;
    if (start + f.dataLogicalLength > disc.volume.size()) continue;
    const std::string expected(disc.volume.begin() + static_cast<std::ptrdiff_t>(start),
                               disc.volume.begin() + static_cast<std::ptrdiff_t>(start + f.dataLogicalLength));
    EXPECT_TRUE(got.tree.at("Disc/" + f.name) == expected) << f.name;
  }

  // The simple worker asks for exactly the sectors needed, some many times.
  const std::set<std::uint32_t>& needed = simple.log->sectors();
  EXPECT_EQ(fast.log->sectors(), needed);
  // A file placed past the packed data reads the group where the volume
  // area lies (as the simple worker does), so those sectors come twice.
  const bool pastThePackedData = std::any_of(files.begin(), files.end(), [&](const FileEntry& f) {
    return 9728 + std::size_t{f.dataExtents[0].startBlock} * 512 + f.dataLogicalLength > disc.volume.size();
  });
  const std::uint64_t requested = fast.faults->counters().sectorsRequested;
  if (pastThePackedData) {
    EXPECT_LE(requested, needed.size() + 247);
  } else {
    EXPECT_EQ(requested, needed.size()) << "a sector was read twice";
  }
  const std::uint64_t commands = fast.faults->counters().readCdCommands;
  EXPECT_LE(commands * 20, needed.size()) << commands << " READ CD commands for " << needed.size() << " sectors";
  EXPECT_EQ(fast.core->GetReadStatistics().sectorsRead, requested);
  EXPECT_EQ(fast.core->GetReadStatistics().readCdCommands, commands);

  // A drive that takes 0.5 ms per command and moves 7 MB/s is kept busy
  // within 1.2 times the time of streaming the needed sectors once.
  const double streaming = static_cast<double>(needed.size()) * 2352 / 7e6;
  const double spent = static_cast<double>(commands) * 0.0005 +
                       static_cast<double>(fast.faults->counters().sectorsRequested) * 2352 / 7e6;
  EXPECT_LE(spent, 1.2 * streaming);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ReadOnceTest,
    ::testing::Values(LayoutCase{"SmallGroupsManySmallFiles", 3, 1, false, ManySmallFiles},
                      LayoutCase{"FullGroupsManySmallFiles", 0, 0, false, ManySmallFiles},
                      LayoutCase{"SmallGroupsOutOfOrder", 3, 2, false, FilesOutOfTableOrder},
                      LayoutCase{"PlainBlocksOutOfOrder", 5, 3, true, FilesOutOfTableOrder},
                      LayoutCase{"SmallGroupsLargeAndRepeated", 3, 0, false, LargeAndRepeated},
                      LayoutCase{"FullGroupsLargeAndRepeated", 0, 1, false, LargeAndRepeated},
                      LayoutCase{"SmallGroupsPastThePackedData", 3, 1, false, PastThePackedData}),
    [](const auto& param) { return param.param.name; });

// ---------------------------------------------------------------------------
// Faults: the job ends where the simple worker ends, with the same files.

enum class Where {
  kAreaMiddle,           // a sector of the volume area
  kTrailer,              // the disc's last sector
  kFirstFilesGroup,      // the group the first file reads first
  kGroupFirstNeededBy5,  // a group that file 5 is the first to need
  kGroupOnlyAFileAfterFailureNeeds,
};

struct FaultCase {
  const char* name;
  Where where;
  std::uint32_t shortBytes;  // 0: the read fails; otherwise the bytes it delivers
  RecoveryState state;
  std::size_t failedFile;
};

class ReadOnceFaultTest : public ::testing::TestWithParam<FaultCase> {};

std::uint32_t FaultSector(Where where, const Placement& p, const std::vector<FileEntry>& files) {
  const auto groupsOf = [&](const FileEntry& f) {
    const std::int64_t start = 9728 + std::int64_t{f.dataExtents[0].startBlock} * 512;
    std::set<int> groups;
    for (int g = p.GroupOf(start); g <= p.GroupOf(start + f.dataLogicalLength); ++g) groups.insert(g);
    return groups;
  };
  switch (where) {
    case Where::kAreaMiddle: return p.areaFirstSector + 5;
    case Where::kTrailer: return p.sectorCount - 1;
    case Where::kFirstFilesGroup: return p.SectorIn(*groupsOf(files[0]).begin());
    case Where::kGroupFirstNeededBy5:
    case Where::kGroupOnlyAFileAfterFailureNeeds: {
      std::set<int> before;
      for (std::size_t i = 0; i < 5; ++i) {
        const auto groups = groupsOf(files[i]);
        before.insert(groups.begin(), groups.end());
      }
      const std::size_t owner = where == Where::kGroupFirstNeededBy5 ? 5 : 9;
      for (std::size_t i = 5; i < owner; ++i) {
        const auto groups = groupsOf(files[i]);
        before.insert(groups.begin(), groups.end());
      }
      for (int g : groupsOf(files[owner])) {
        if (before.count(g) == 0) return p.SectorIn(g);
      }
      ADD_FAILURE() << "file " << owner << " needs no group of its own";
      return 0;
    }
  }
  return 0;
}

TEST_P(ReadOnceFaultTest, EndsLikeTheSimpleWorker) {
  const FaultCase& c = GetParam();
  const Disc& disc = PackedDisc(3, 1, false);
  const Placement placement = Place(disc);
  // Files 0..4 share groups, file 5 opens a new one, files 6..9 come back
  // to earlier groups and then move on.
  std::vector<FileEntry> files = ManySmallFiles();
  files.resize(5);
  files.push_back(File("opens-a-group", 620, 12000));
  files.push_back(File("back-to-the-start", 30, 1500));
  files.push_back(File("back-again", 33, 2000));
  files.push_back(File("opens-a-group", 620, 12000));
  files.push_back(File("further-on", 1200, 30000));
  const std::uint32_t lba = FaultSector(c.where, placement, files);
  Faults faults;
  if (c.shortBytes == 0) {
    faults.failAt.push_back(lba);
  } else {
    faults.shortAt.push_back({lba, c.shortBytes});
  }
  if (c.where == Where::kGroupOnlyAFileAfterFailureNeeds) {
    faults.failAt.push_back(FaultSector(Where::kGroupFirstNeededBy5, placement, files));
  }
  test::TempDir dir;
  Drive fast = MakeDrive(disc, faults);
  const JobRun got = RunFastJob(fast, files, dir);
  Drive simple = MakeDrive(disc, faults);
  const reference::JobResult want = reference::RunJob(*simple.core, files, SimpleDestination(dir));

  ExpectSameEnd(got.outcome, want);
  EXPECT_EQ(got.outcome.state, c.state);
  if (c.state == RecoveryState::kFailedAtFile) {
    EXPECT_EQ(got.outcome.failedFile, c.failedFile);
  }
  EXPECT_TRUE(got.tree == Tree(dir.path() / "simple")) << "the saved files differ from the simple worker's";
  EXPECT_FALSE(fast.core->IsDeviceOpen());
  if (c.state == RecoveryState::kFailedAtFile) {
    EXPECT_EQ(fast.core->GetStatus(), files[c.failedFile].name);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReadOnceFaultTest,
    ::testing::Values(
        FaultCase{"UnreadableVolumeArea", Where::kAreaMiddle, 0, RecoveryState::kFailedEarly, 0},
        FaultCase{"ShortVolumeAreaSector", Where::kAreaMiddle, 250, RecoveryState::kFailedEarly, 0},
        FaultCase{"UnreadableTrailer", Where::kTrailer, 0, RecoveryState::kFailedEarly, 0},
        FaultCase{"UnreadableFirstGroup", Where::kFirstFilesGroup, 0, RecoveryState::kFailedAtFile, 0},
        FaultCase{"UnreadableGroupOfTheSixthFile", Where::kGroupFirstNeededBy5, 0, RecoveryState::kFailedAtFile, 5},
        FaultCase{"ShortGroupSector", Where::kGroupFirstNeededBy5, 1000, RecoveryState::kFailedAtFile, 5},
        // Its user data came, its ECC did not: a sector not delivered whole is a failed read.
        FaultCase{"SectorShortOnlyOfItsEcc", Where::kGroupFirstNeededBy5, 2100, RecoveryState::kFailedAtFile, 5},
        FaultCase{"SecondFaultNeverReached", Where::kGroupOnlyAFileAfterFailureNeeds, 0,
                  RecoveryState::kFailedAtFile, 5}),
    [](const auto& param) { return param.param.name; });

}  // namespace
}  // namespace kestrow
