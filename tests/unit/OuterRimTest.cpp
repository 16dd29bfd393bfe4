// A disc whose outer rim is gone: its groups found by their block tables
// (against decoys and unreadable tables), and its volume loaded from the
// packed copy of its metadata, on real HFS volumes packed by mkdisc, with
// damage from the fault-injecting transport. What the groups hold is read
// here from the disc's own bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FaultInjectingTransport.h"
#include "HfsTestDisc.h"
#include "KestrowCore.h"
#include "TempDir.h"
#include "drive/SectorReader.h"
#include "recovery/GroupSearch.h"
#include "recovery/RecoveryRun.h"
#include "recovery/SalvagedVolume.h"
#include "volume/CatalogScan.h"

namespace kestrow {
namespace {

using test::HfsDisc;
using test::MacFile;

std::string Noise(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  std::uint32_t x = seed * 2654435761u + 7;
  for (char& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  return s;
}

const std::vector<MacFile>& Files() {
  static const std::vector<MacFile> files = {
      {"Letters:one", Noise(400000, 1)}, {"Letters:two", std::string(300000, 'x')}, {"three", Noise(900000, 3)}};
  return files;
}

// Many small groups, so that several can be lost and found.
const HfsDisc& Disc() {
  static HfsDisc disc;
  if (disc.raw.empty()) {
    std::string error;
    mkdisc::DiscOptions options;
    options.blocksPerGroup = 400;
    if (!test::MakeHfsDisc(Files(), options, disc, error)) ADD_FAILURE() << error;
  }
  return disc;
}

std::uint32_t Lba(std::size_t group, std::size_t sector) {
  return Disc().layout.firstGroupSector + static_cast<std::uint32_t>(248 * group + sector);
}

// Volume byte of group g's first block, from its table on the disc.
std::int64_t FirstByte(std::size_t g) {
  const std::uint8_t* user = Disc().raw.data() + std::size_t{Lba(g, 1)} * 2352 + 16;
  return (std::int64_t{user[45]} << 16 | user[46] << 8 | user[47]) * 512;
}

struct SearchCase {
  const char* name;
  std::vector<std::size_t> unreadableTables;  // groups whose table sector fails
  // Decoys: (LBA, group whose table is copied there); a pair 248 apart whose
  // second does not go on from the first, or a single one.
  std::vector<std::pair<std::uint32_t, std::size_t>> decoys;
  std::vector<int> lost;
};

TEST(OuterRimGroupSearch, FindsEveryGroupPastDecoysAndUnreadableTables) {
  const HfsDisc& disc = Disc();
  const auto groups = static_cast<int>(disc.layout.groupCount);
  ASSERT_GE(groups, 5);
  const std::uint32_t base = disc.layout.firstGroupSector;
  const SearchCase cases[] = {
      {"healthy", {}, {}, {}},
      {"decoys in the leading sectors", {}, {{2, 1}, {2 + 248, 1}, {9, 3}}, {}},
      {"group 0's table unreadable, decoys in its data", {0}, {{Lba(0, 5), 1}, {Lba(1, 5), 1}, {Lba(0, 9), 2}}, {0}},
      {"a middle group's table unreadable", {3}, {{Lba(3, 20), 2}}, {3}},
      {"two tables in a row unreadable", {1, 2}, {}, {1, 2}},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> user = test::UserData(disc.raw);
    for (const auto& [lba, group] : c.decoys) {
      std::memcpy(&user[std::size_t{lba} * 2048], &user[std::size_t{Lba(group, 1)} * 2048], 2048);
    }
    auto faults = std::make_unique<FaultInjectingTransport>(std::make_unique<MemoryTransport>(user));
    for (std::size_t g : c.unreadableTables) faults->FailReadAt(Lba(g, 1));
    FaultInjectingTransport& counted = *faults;
    CKestrowCore core(std::move(faults));
    ASSERT_TRUE(core.OpenDevice());
    counted.ResetCounters();
    const GroupSearch found = core.SearchGroups(core.ReadCapacity(), ReadPolicy{});
    core.CloseDevice();

    EXPECT_EQ(found.base, static_cast<std::int32_t>(base));
    EXPECT_EQ(found.lost, c.lost);
    ASSERT_EQ(found.boundaries.size(), static_cast<std::size_t>(groups) + 1);
    EXPECT_EQ(found.found.size() + found.lost.size(), static_cast<std::size_t>(groups));
    for (const int g : found.found) EXPECT_EQ(found.boundaries[g], FirstByte(static_cast<std::size_t>(g))) << g;
    // Rising, so that a lost group's span takes nothing of a group found.
    EXPECT_TRUE(std::is_sorted(found.boundaries.begin(), found.boundaries.end(), std::less_equal<>()));
    if (c.unreadableTables.empty() && c.decoys.empty()) {
      // Long runs before the first two tables, then one sector per group.
      const unsigned bound = (base + 2 * 248) / 27 + 2 + static_cast<unsigned>(groups) + 4;
      EXPECT_LE(counted.counters().readCdCommands, bound);
    }
  }
}

struct RimCase {
  const char* name;
  std::uint32_t firstBad, lastBad;  // LBAs the transport fails
  MetadataSource source;
  bool searched;
  int lostTable = -1;  // a group whose table sector fails too: its files' bytes are lost
};

TEST(OuterRimSalvage, ListsAndRecoversFromThePackedCopy) {
  const HfsDisc& disc = Disc();
  const std::uint32_t last = disc.layout.sectorCount - 1;
  const std::uint32_t area = disc.layout.volumeStart / 4;
  // The catalogue lies at volume bytes from 9,728 + 512: in the area's 6th sector on.
  const RimCase cases[] = {
      {"trailer only", last, last, MetadataSource::kPackedCopy, true},
      {"trailer and volume area", area, last, MetadataSource::kPackedCopy, true},
      {"the \"Pack\" table only", area + 1, area + 1, MetadataSource::kVolumeArea, true},
      {"catalogue sectors of the area", area + 12, area + 14, MetadataSource::kBoth, false},
      {"the volume area and a group's table", area, last, MetadataSource::kPackedCopy, true, 2},
  };
  FileTable expected;
  {
    CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
    VolumeImage image;
    ASSERT_TRUE(core.LoadVolumeImage(image));
    ASSERT_TRUE(core.ScanCatalog(image, expected));
  }
  for (const RimCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto damaged = [&] {
      auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(disc.raw));
      for (std::uint32_t lba = c.firstBad; lba <= c.lastBad; ++lba) faults->FailReadAt(lba);
      if (c.lostTable >= 0) faults->FailReadAt(Lba(static_cast<std::size_t>(c.lostTable), 1));
      return faults;
    };
    CKestrowCore core(damaged());
    SalvagedVolume volume;
    ASSERT_TRUE(core.LoadSalvagedVolume(volume, ReadPolicy{0, true})) << volume.failure;
    EXPECT_EQ(volume.source, c.source);
    EXPECT_EQ(volume.GroupsFoundBySearch(), c.searched);
    if (c.lastBad == last) {  // every sector the trailer search could not read is reported
      const std::uint32_t searchedFrom = last - static_cast<std::uint32_t>(kTrailerSearchSectors);
      for (std::uint32_t lba = std::max(c.firstBad, searchedFrom); lba <= last; ++lba) {
        EXPECT_TRUE(std::binary_search(volume.unreadable.begin(), volume.unreadable.end(), std::int32_t(lba))) << lba;
      }
    }
    FileTable files;
    std::size_t lostNodes = 0;
    ASSERT_TRUE(core.ScanCatalog(volume.image, files, volume.unreadableBytes, lostNodes));
    EXPECT_EQ(lostNodes, 0u);
    EXPECT_EQ(files, expected);

    // The job of the desktop application's "Go on past damaged sectors" takes the same road.
    test::TempDir dir;
    CKestrowCore job(damaged());
    RecoveryOptions options;
    options.keepGoing = true;
    ASSERT_TRUE(job.StartRecovery(files, dir.Destination(), options));
    job.WaitForRecovery();
    const RecoveryOutcome outcome = job.GetRecoveryOutcome();
    ASSERT_EQ(outcome.state, RecoveryState::kFinished) << outcome.failure;
    EXPECT_EQ(outcome.salvage.source, c.source);
    if (c.lostTable >= 0) {
      EXPECT_EQ(outcome.salvage.groupsLost, std::vector<int>{c.lostTable});
    }
    std::size_t hits = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string shown = files[i].path + files[i].name;  // "Disc:Letters:one"
      // The fork's volume bytes (512-byte allocation blocks from 9,728).
      const std::int64_t begin = 9728 + std::int64_t{files[i].dataExtents[0].startBlock} * 512;
      const std::int64_t end = begin + files[i].dataLogicalLength;
      const bool hit = c.lostTable >= 0 && begin < FirstByte(static_cast<std::size_t>(c.lostTable) + 1) &&
                       end > FirstByte(static_cast<std::size_t>(c.lostTable));
      if (hit) {
        ++hits;
        EXPECT_NE(outcome.files[i].status, FileStatus::kWhole) << shown;
        continue;
      }
      EXPECT_EQ(outcome.files[i].status, FileStatus::kWhole) << shown;
      std::string path = shown;
      std::replace(path.begin(), path.end(), ':', '/');
      std::ifstream in(dir.Destination() + path, std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      const auto wanted = std::find_if(Files().begin(), Files().end(), [&](const MacFile& f) {
        return "Disc:" + f.path == shown;
      });
      ASSERT_NE(wanted, Files().end()) << shown;
      EXPECT_TRUE(bytes == wanted->contents) << shown;
    }
    EXPECT_EQ(hits > 0, c.lostTable >= 0) << "a lost group that holds no file tests nothing";
  }
}

// A job never sends a READ CD over a sector that stayed unreadable: every
// other sector of the volume area is bad, so the packed copy fills many
// holes from group 0, whose sector 5 is bad too; listing then recovering on
// the same core (as `recover` does) reads each bad sector once in a run of
// sectors and 1 + retries times alone, and no more.
TEST(OuterRimSalvage, EachBadSectorIsReadOnlyItsRetriesPerJob) {
  const HfsDisc& disc = Disc();
  const std::uint32_t area = disc.layout.volumeStart / 4;
  const std::int32_t retries = 2;
  auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(disc.raw));
  std::set<std::uint32_t> bad = {Lba(0, 5)};
  for (std::uint32_t lba = area; lba < area + 40; lba += 2) bad.insert(lba);
  for (const std::uint32_t lba : bad) faults->FailReadAt(lba);
  std::map<std::uint32_t, int> commands;  // per bad sector
  faults->OnReadCd([&](std::uint32_t lba, std::uint32_t count, bool) {
    for (auto at = bad.lower_bound(lba); at != bad.end() && *at < lba + count; ++at) ++commands[*at];
  });
  CKestrowCore core(std::move(faults));
  SalvagedVolume volume;
  ASSERT_TRUE(core.LoadSalvagedVolume(volume, ReadPolicy{retries, true})) << volume.failure;
  EXPECT_EQ(volume.source, MetadataSource::kBoth);
  FileTable files;
  std::size_t lostNodes = 0;
  core.ScanCatalog(volume.image, files, volume.unreadableBytes, lostNodes);
  ASSERT_FALSE(files.empty());
  test::TempDir dir;
  RecoveryOptions options;
  options.keepGoing = true;
  options.retries = retries;
  ASSERT_TRUE(core.StartRecovery(files, dir.Destination(), options));
  core.WaitForRecovery();
  ASSERT_EQ(core.GetRecoveryOutcome().state, RecoveryState::kFinished);
  for (const std::uint32_t lba : bad) {
    EXPECT_GE(commands[lba], 1) << lba;
    EXPECT_LE(commands[lba], 2 + retries) << lba;
  }
}

// A stop (Ctrl-C, the desktop's close) that comes while a read of a bad
// sector hangs ends the job before its next READ CD: the file in hand (the
// job's first, which needs every group) is not written, not even with zeros.
TEST(OuterRimSalvage, AStopDuringAReadEndsTheJobBeforeTheNextOne) {
  const HfsDisc& disc = Disc();
  FileTable files;
  {
    CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
    VolumeImage image;
    ASSERT_TRUE(core.LoadVolumeImage(image));
    ASSERT_TRUE(core.ScanCatalog(image, files));
  }
  for (const bool keepGoing : {false, true}) {
    SCOPED_TRACE(keepGoing);
    auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(disc.raw));
    const std::uint32_t bad = Lba(1, 3);
    faults->FailReadAt(bad);
    std::atomic<bool> stop{false};
    int readsAfterStop = 0;
    faults->OnReadCd([&](std::uint32_t lba, std::uint32_t count, bool) {
      if (stop) ++readsAfterStop;
      if (lba <= bad && bad < lba + count) stop = true;  // while it hangs, the user presses Ctrl-C
    });
    SectorReader reader(*faults);
    reader.SetStopFlags(&stop, nullptr);
    test::TempDir dir;
    RecoveryOptions options;
    options.keepGoing = keepGoing;
    options.retries = 3;
    JobStatus status;
    status.Update([&](RecoveryOutcome& o) { o.files.resize(files.size()); });
    RecoveryRun run(reader, files, dir.Destination(), options, stop, status);
    run.Run();
    const RecoveryOutcome outcome = status.Outcome();
    EXPECT_EQ(outcome.state, RecoveryState::kStopped);
    EXPECT_EQ(readsAfterStop, 0);
    EXPECT_FALSE(stop);  // acknowledged
    ASSERT_LT(outcome.currentFile, files.size());
    EXPECT_EQ(outcome.files[outcome.currentFile].status, FileStatus::kNotWritten);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Destination()));  // nothing of it, not even a temporary file
    for (std::size_t i = 0; i < outcome.currentFile; ++i) EXPECT_EQ(outcome.files[i].status, FileStatus::kWhole);
    EXPECT_EQ(outcome.written, outcome.currentFile);
  }
}

}  // namespace
}  // namespace kestrow
