// Salvage of damaged discs: bad sectors placed with ddrescue mapfiles and
// with the fault-injecting transport, on a real HFS volume packed by mkdisc.
// What a recovery that goes on past them must write, and what the damage
// scan must name, is computed here from the disc's own bytes: its trailer,
// "Pack" table and block tables, read by this file's few lines of parsing.
// Also: retries of a flaky sector, a failed allocation inside the job, and
// another disc put in under the same source between listing and recovery.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "AllocationFault.h"
#include "FaultInjectingTransport.h"
#include "HfsTestDisc.h"
#include "KestrowCore.h"
#include "TempDir.h"
#include "drive/Mode1Sector.h"
#include "recovery/DamageScan.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;
using test::HfsDisc;
using test::MacFile;
using test::Pattern;
using test::TempDir;
using Spans = std::vector<ByteSpan>;

// Two megabytes, half noise: several full groups, files that cross groups.
const std::vector<MacFile>& Files() {
  static const std::vector<MacFile> files = {
      {"Letters:one.txt", Pattern(300000, 1)},  {"Letters:two.txt", Pattern(700000, 2)},
      {"Letters:three.txt", Pattern(100, 3)},   {"Photos:four.pict", Pattern(900000, 4)},
      {"Photos:five.pict", Pattern(170000, 5)}, {"six", Pattern(8192, 6)}};
  return files;
}

const HfsDisc& Disc(const std::vector<MacFile>& files = Files()) {
  static std::map<const void*, HfsDisc> discs;
  HfsDisc& disc = discs[&files];
  if (disc.raw.empty()) {
    std::string error;
    if (!test::MakeHfsDisc(files, mkdisc::DiscOptions{}, disc, error)) ADD_FAILURE() << error;
  }
  return disc;
}

const std::string& Contents(const std::string& name) {
  for (const MacFile& f : Files()) {
    if (f.path.substr(f.path.rfind(':') + 1) == name) return f.contents;
  }
  static const std::string none;
  ADD_FAILURE() << name << " is not a test file";
  return none;
}

// ---- The disc as this test reads it ---------------------------------------

std::uint64_t Be(const std::uint8_t* p, int width) {
  std::uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = v << 8 | p[i];
  return v;
}

struct Tables {
  const HfsDisc* disc = nullptr;
  std::uint64_t areaByte = 0;        // disc user byte of image byte 0
  std::uint32_t areaFirst = 0, areaLast = 0;
  std::vector<std::uint64_t> bounds; // "Pack" boundaries, volume bytes
  std::uint32_t base = 0;            // LBA of group 0

  std::uint8_t UserByte(std::uint64_t discByte) const {
    return disc->raw[discByte / 2048 * 2352 + 16 + discByte % 2048];
  }
  std::uint8_t ImageByte(std::uint64_t k) const { return UserByte(areaByte + k); }
  std::uint32_t GroupLba(std::size_t g, std::uint64_t bufferOffset) const {
    return static_cast<std::uint32_t>(base + 248 * g + 1 + bufferOffset / 2048);
  }
  std::uint64_t GroupValue(std::size_t g, std::uint64_t offset, int width) const {
    std::uint8_t bytes[4];
    for (int i = 0; i < width; ++i) bytes[i] = UserByte(std::uint64_t{GroupLba(g, offset + i)} * 2048 + (offset + i) % 2048);
    return Be(bytes, width);
  }
  // The group that holds volume byte `v`, as the program chooses it.
  std::size_t GroupOf(std::uint64_t v) const {
    for (std::size_t j = 0; j + 1 < bounds.size(); ++j) {
      if (bounds[j] <= v && v < bounds[j + 1]) return j;
    }
    return bounds.size() - 1;
  }
  // Each block of group g: its volume position and the sectors of its stored data.
  std::uint64_t BlockCount(std::size_t g) const { return GroupValue(g, 14, 2); }
  std::set<std::uint32_t> TableSectors(std::size_t g) const {
    std::set<std::uint32_t> lbas;
    for (std::uint64_t x = 0; x < 44 + 8 * BlockCount(g); x += 2048) lbas.insert(GroupLba(g, x));
    lbas.insert(GroupLba(g, 44 + 8 * BlockCount(g) - 1));
    return lbas;
  }
  std::vector<std::pair<std::uint64_t, std::set<std::uint32_t>>> Blocks(std::size_t g) const {
    std::vector<std::pair<std::uint64_t, std::set<std::uint32_t>>> blocks;
    const std::uint64_t m = BlockCount(g);
    for (std::uint64_t j = 0; j < m; ++j) {
      const std::uint64_t begin = GroupValue(g, 44 + 8 * j + 5, 3) - 2048;
      const std::uint64_t end = (j + 1 < m ? GroupValue(g, 44 + 8 * (j + 1) + 5, 3) : GroupValue(g, 16, 4)) - 2048;
      const std::uint64_t stop = end - begin >= 8192 ? begin + 8192 : end;
      std::set<std::uint32_t> lbas;
      for (std::uint64_t x = begin; x < stop; x += 2048) lbas.insert(GroupLba(g, x));
      if (stop > begin) lbas.insert(GroupLba(g, stop - 1));
      blocks.push_back({GroupValue(g, 44 + 8 * j + 1, 3) * 512, lbas});
    }
    return blocks;
  }
  // The volume bytes that sectors `bad` take away: every byte of a group
  // whose table they touch, and every block whose stored data they touch.
  Spans LostVolumeBytes(const std::set<std::uint32_t>& bad) const {
    const auto touches = [&](const std::set<std::uint32_t>& lbas) {
      return std::any_of(lbas.begin(), lbas.end(), [&](std::uint32_t l) { return bad.count(l) != 0; });
    };
    Spans lost;
    for (std::size_t g = 0; g + 1 < bounds.size(); ++g) {
      if (touches(TableSectors(g))) {
        lost.push_back({bounds[g], bounds[g + 1]});
        continue;
      }
      for (const auto& [position, lbas] : Blocks(g)) {
        if (touches(lbas)) lost.push_back({position, position + 8192});
      }
    }
    return lost;
  }
};

Tables ReadTables(const HfsDisc& disc) {
  Tables t;
  t.disc = &disc;
  const std::uint8_t* last = disc.raw.data() + (disc.raw.size() / 2352 - 1) * 2352 + 16;
  const std::uint64_t start = Be(last + 28, 4);
  const std::uint64_t end = Be(last + 33, 3);
  t.areaByte = start * 512;
  t.areaFirst = static_cast<std::uint32_t>(start / 4);
  t.areaLast = static_cast<std::uint32_t>((end - 1) / 4);
  std::uint8_t count[3];
  for (int i = 0; i < 3; ++i) count[i] = t.ImageByte(0xC0D + i);
  for (std::uint64_t k = 0; k < Be(count, 3); ++k) {
    std::uint8_t value[3];
    for (int i = 0; i < 3; ++i) value[i] = t.ImageByte(0xC18 + 8 * k + 1 + i);
    t.bounds.push_back(Be(value, 3) * 512);
  }
  t.base = disc.layout.firstGroupSector;
  return t;
}

// The data fork of `e` in volume bytes, with 512-byte allocation blocks.
ByteSpan Fork(const FileEntry& e) {
  const std::uint64_t start = 9728 + std::uint64_t{e.dataExtents[0].startBlock} * 512;
  return {start, start + e.dataLogicalLength};
}

FileResult Expected(const FileEntry& e, const Spans& lostVolume) {
  const ByteSpan fork = Fork(e);
  Spans lost;
  for (const ByteSpan& s : lostVolume) {
    if (s.end > fork.begin && s.begin < fork.end) {
      lost.push_back({std::max(s.begin, fork.begin) - fork.begin, std::min(s.end, fork.end) - fork.begin});
    }
  }
  lost = MergeSpans(lost);
  if (lost.empty()) return {FileStatus::kWhole, {}, {}, {}};
  const bool all = lost.size() == 1 && lost[0] == ByteSpan{0, e.dataLogicalLength};
  return {all ? FileStatus::kLost : FileStatus::kDamaged, lost, {}, {}};
}

// The sectors of the area and of the groups the files use that are in `bad`.
std::vector<SectorSpan> ExpectedUnreadable(const Tables& t, const FileTable& files, const std::set<std::uint32_t>& bad) {
  std::vector<std::int32_t> read;
  for (std::uint32_t lba : bad) {
    bool used = lba >= t.areaFirst && lba <= t.areaLast;
    for (const FileEntry& e : files) {
      if (e.dataLogicalLength == 0) continue;
      for (std::size_t g = t.GroupOf(Fork(e).begin); g <= t.GroupOf(Fork(e).end); ++g) {
        used = used || (lba > t.base + 248 * g && lba < t.base + 248 * (g + 1));
      }
    }
    if (used) read.push_back(static_cast<std::int32_t>(lba));
  }
  return ToSectorSpans(read);
}

// The image offset of a catalogue record's name, found by its bytes.
std::uint64_t RecordNameOffset(const Tables& t, const std::string& name) {
  const std::uint64_t size = (std::uint64_t{t.areaLast} + 1) * 2048 - t.areaByte;
  for (std::uint64_t k = 0x6200; k + name.size() < size; ++k) {
    if (t.ImageByte(k) != name.size()) continue;
    std::size_t i = 0;
    while (i < name.size() && t.ImageByte(k + 1 + i) == static_cast<std::uint8_t>(name[i])) ++i;
    if (i == name.size()) return k + 1;
  }
  ADD_FAILURE() << "no catalogue record named " << name;
  return 0;
}

fs::path OutputPath(const fs::path& dest, const FileEntry& e) {
  fs::path p = dest;
  std::string path = e.path;
  for (std::size_t colon; (colon = path.find(':')) != std::string::npos; path.erase(0, colon + 1)) {
    p /= path.substr(0, colon);
  }
  return p / e.name;
}

std::string ZeroedRanges(std::string bytes, const Spans& lost) {
  for (const ByteSpan& s : lost) std::fill(bytes.begin() + s.begin, bytes.begin() + s.end, '\0');
  return bytes;
}

// ---- The damage cases ------------------------------------------------------

struct DamageCase {
  const char* what;
  std::function<std::set<std::uint32_t>(const Tables&, const FileTable&)> bad;
};

std::size_t IndexOfName(const FileTable& files, const std::string& name) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].name == name) return i;
  }
  ADD_FAILURE() << name;
  return 0;
}

// A sector holding the stored data of a block of `name` in the middle of its fork.
std::uint32_t DataSectorOf(const Tables& t, const FileTable& files, const std::string& name) {
  const ByteSpan fork = Fork(files[IndexOfName(files, name)]);
  const std::uint64_t middle = (fork.begin + fork.end) / 2;
  const std::size_t g = t.GroupOf(middle);
  for (const auto& [position, lbas] : t.Blocks(g)) {
    if (position <= middle && middle < position + 8192) return *lbas.rbegin();
  }
  ADD_FAILURE() << "no block holds the middle of " << name;
  return 0;
}

const std::vector<DamageCase>& DamageCases() {
  static const std::vector<DamageCase> cases = {
      {"a sector of a group's data", [](const Tables& t, const FileTable& f) {
         return std::set<std::uint32_t>{DataSectorOf(t, f, "four.pict")};
       }},
      {"a sector of a group's table", [](const Tables& t, const FileTable& f) {
         // The last sector of a table of several, whose entries are not the files'.
         const std::set<std::uint32_t> table = t.TableSectors(t.GroupOf(Fork(f[IndexOfName(f, "five.pict")]).begin));
         if (table.size() < 2) ADD_FAILURE() << "the group's table fits one sector";
         return std::set<std::uint32_t>{*table.rbegin()};
       }},
      {"the last block of a group", [](const Tables& t, const FileTable&) {
         return std::set<std::uint32_t>{*t.Blocks(1).back().second.begin()};
       }},
      {"sectors spanning two groups", [](const Tables& t, const FileTable&) {
         return std::set<std::uint32_t>{t.base + 248 * 1 + 247, t.base + 248 * 2, t.base + 248 * 2 + 1};
       }},
      {"a sector of the volume area's catalogue", [](const Tables& t, const FileTable&) {
         const std::uint64_t name = RecordNameOffset(t, "five.pict");
         return std::set<std::uint32_t>{static_cast<std::uint32_t>((t.areaByte + name) / 2048)};
       }},
  };
  return cases;
}

struct Source {
  const char* what;
  bool mapfile;
};

class SalvageRecovery : public ::testing::TestWithParam<std::tuple<std::size_t, Source>> {
 protected:
  // A core over the disc with `bad` unreadable, and the folder its image lives in.
  std::unique_ptr<CKestrowCore> MakeCore(const std::set<std::uint32_t>& bad) {
    const HfsDisc& disc = Disc();
    if (!std::get<1>(GetParam()).mapfile) {
      auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(disc.raw));
      for (std::uint32_t lba : bad) faults->FailReadAt(lba);
      return std::make_unique<CKestrowCore>(std::move(faults));
    }
    const fs::path image = m_dir.path() / "disc.bin";
    const fs::path map = m_dir.path() / "disc.map";
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(disc.raw.data()),
                                                 static_cast<std::streamsize>(disc.raw.size()));
    std::ofstream out(map);
    out << "# Mapfile. Created by GNU ddrescue version 1.27\n0x00000000     +               1\n";
    std::uint64_t at = 0;
    const std::uint64_t sectors = disc.raw.size() / 2352;
    for (std::uint32_t lba : bad) {
      if (lba > at) out << "0x" << std::hex << at * 2352 << "  0x" << (lba - at) * 2352 << "  +\n";
      out << "0x" << std::hex << lba * 2352ull << "  0x" << 2352 << "  -\n";
      at = lba + 1;
    }
    if (at < sectors) out << "0x" << std::hex << at * 2352 << "  0x" << (sectors - at) * 2352 << "  +\n";
    out.close();
    return std::make_unique<CKestrowCore>(image.string(), map.string());
  }

  TempDir m_dir;
};

TEST_P(SalvageRecovery, KeepGoingWritesWhatCanBeReadAndTheScanNamesWhatWasLost) {
  const DamageCase& damage = DamageCases()[std::get<0>(GetParam())];
  const HfsDisc& disc = Disc();
  const Tables tables = ReadTables(disc);
  FileTable whole;
  {
    CKestrowCore undamaged(test::MakeDiscFromRaw(disc.raw));
    VolumeImage image;
    ASSERT_TRUE(undamaged.LoadVolumeImage(image) && undamaged.ScanCatalog(image, whole));
    ASSERT_EQ(whole.size(), Files().size());
    ASSERT_GE(tables.bounds.size(), 4u) << "the cases need three groups";
  }
  const std::set<std::uint32_t> bad = damage.bad(tables, whole);
  const Spans lostVolume = tables.LostVolumeBytes(bad);
  SCOPED_TRACE(damage.what);

  // Listing as `recover --keep-going` does: what a lost catalogue node
  // listed is missing; nothing else is.
  std::unique_ptr<CKestrowCore> core = MakeCore(bad);
  VolumeImage image;
  VolumeAreaRead area;
  FileTable listed;
  std::size_t lostNodes = 0;
  MasterDirectoryBlock mdb;
  ASSERT_TRUE(core->LoadVolumeImage(image, area, ReadPolicy{0, true}));
  ASSERT_TRUE(core->ScanCatalog(image, listed, area.unreadableBytes, lostNodes));
  ASSERT_TRUE(core->ReadMasterDirectoryBlock(image, mdb));
  std::set<std::string> missing;
  for (const FileEntry& e : whole) {
    const std::uint64_t record = tables.areaByte + RecordNameOffset(tables, e.name);
    if (bad.count(static_cast<std::uint32_t>(record / 2048)) != 0) missing.insert(e.name);
  }
  std::set<std::string> names;
  for (const FileEntry& e : listed) names.insert(e.name);
  EXPECT_EQ(names.size() + missing.size(), whole.size());
  for (const std::string& name : missing) EXPECT_EQ(names.count(name), 0u) << name;
  EXPECT_EQ(lostNodes > 0, std::any_of(bad.begin(), bad.end(), [&](std::uint32_t l) {
              return l >= tables.areaFirst && l <= tables.areaLast;
            }));

  RecoveryOptions options;
  options.keepGoing = true;
  options.listedVolume = ListedVolume{mdb.VolumeName(), mdb.drCrDate()};
  fs::create_directories(m_dir.path() / "out");
  ASSERT_TRUE(core->StartRecovery(listed, m_dir.Destination() + "out/", options));
  core->WaitForRecovery();
  const RecoveryOutcome outcome = core->GetRecoveryOutcome();
  ASSERT_EQ(outcome.state, RecoveryState::kFinished);
  EXPECT_EQ(outcome.unreadableSectors, ExpectedUnreadable(tables, listed, bad));
  // The job fills what the volume area lost from the packed copy of the
  // catalogue, which these cases leave whole.
  EXPECT_EQ(outcome.lostCatalogNodes, 0u);
  EXPECT_EQ(outcome.salvage.source, lostNodes > 0 ? MetadataSource::kBoth : MetadataSource::kVolumeArea);
  std::size_t hit = 0;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const FileEntry& e = listed[i];
    const FileResult want = Expected(e, lostVolume);
    hit += want.status != FileStatus::kWhole;
    EXPECT_EQ(outcome.files[i].status, want.status) << e.name;
    EXPECT_EQ(outcome.files[i].lostRanges, want.lostRanges) << e.name;
    const fs::path out = OutputPath(m_dir.path() / "out", e);
    if (want.status == FileStatus::kLost) {
      EXPECT_FALSE(fs::exists(out)) << e.name;
    } else {
      EXPECT_TRUE(test::ReadFile(out) == ZeroedRanges(Contents(e.name), want.lostRanges)) << e.name;
    }
  }
  EXPECT_GT(hit + missing.size(), 0u) << "the damage hit nothing: the case tests nothing";
  // The "Pack" table placed the groups; those whose block table was hit are named.
  std::vector<int> tablesLost;
  for (std::size_t g = 0; g + 1 < tables.bounds.size(); ++g) {
    const std::set<std::uint32_t> sectors = tables.TableSectors(g);
    if (std::any_of(sectors.begin(), sectors.end(), [&](std::uint32_t l) { return bad.count(l) != 0; })) {
      tablesLost.push_back(static_cast<int>(g));
    }
  }
  EXPECT_FALSE(outcome.salvage.groupsSearched);
  EXPECT_EQ(outcome.salvage.groupsLost, tablesLost);

  DamageScan scan;
  ASSERT_TRUE(core->ScanDamage(scan, ReadPolicy{}));
  EXPECT_EQ(scan.fromMapfile, std::get<1>(GetParam()).mapfile);
  EXPECT_EQ(scan.unreadableSectors, ExpectedUnreadable(tables, listed, bad));
  ASSERT_EQ(scan.files.size(), listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(scan.results[i].status, outcome.files[i].status) << listed[i].name;
    EXPECT_EQ(scan.results[i].lostRanges, outcome.files[i].lostRanges) << listed[i].name;
  }
  EXPECT_EQ(scan.salvage.groupsLost, tablesLost);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, SalvageRecovery,
    ::testing::Combine(::testing::Range<std::size_t>(0, 5),
                       ::testing::Values(Source{"FaultInjection", false}, Source{"Mapfile", true})),
    [](const auto& param) {
      return "Case" + std::to_string(std::get<0>(param.param)) + std::get<1>(param.param).what;
    });

TEST(SalvageRecoveryRetries, AFlakySectorIsReadOnlyWithEnoughRetries) {
  const HfsDisc& disc = Disc();
  const Tables tables = ReadTables(disc);
  FileTable files;
  {
    CKestrowCore reader(test::MakeDiscFromRaw(disc.raw));
    VolumeImage image;
    ASSERT_TRUE(reader.LoadVolumeImage(image) && reader.ScanCatalog(image, files));
  }
  const std::uint32_t flaky = DataSectorOf(tables, files, "two.txt");
  const std::size_t two = IndexOfName(files, "two.txt");
  const Spans lostIfUnread = Expected(files[two], tables.LostVolumeBytes({flaky})).lostRanges;
  ASSERT_FALSE(lostIfUnread.empty());
  for (const auto& [retries, status] : {std::pair{2, FileStatus::kWhole}, std::pair{1, FileStatus::kDamaged}}) {
    auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(disc.raw));
    faults->FlakyAt(flaky, 2);  // fails twice, then reads
    CKestrowCore core(std::move(faults));
    TempDir dest;
    RecoveryOptions options;
    options.keepGoing = true;
    options.retries = retries;
    ASSERT_TRUE(core.StartRecovery(files, dest.Destination(), options));
    core.WaitForRecovery();
    const RecoveryOutcome o = core.GetRecoveryOutcome();
    EXPECT_EQ(o.files[two].status, status) << "--retries " << retries;
    EXPECT_EQ(o.files[two].lostRanges, status == FileStatus::kWhole ? Spans{} : lostIfUnread);
    EXPECT_EQ(o.Clean(), status == FileStatus::kWhole);
  }
}

TEST(SalvageRecoveryJob, AFailedAllocationEndsTheJobWithItsReasonAndKeepsTheFilesBefore) {
  const HfsDisc& disc = Disc();
  FileTable files;
  {
    CKestrowCore reader(test::MakeDiscFromRaw(disc.raw));
    VolumeImage image;
    ASSERT_TRUE(reader.LoadVolumeImage(image) && reader.ScanCatalog(image, files));
  }
  TempDir dest;
  CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
  // The second group buffer the job allocates is refused.
  test::FailAllocation(format::kGroupBufferSize, 2);
  ASSERT_TRUE(core.StartRecovery(files, dest.Destination()));
  core.WaitForRecovery();
  test::StopFailingAllocations();
  const RecoveryOutcome o = core.GetRecoveryOutcome();
  ASSERT_EQ(o.state, RecoveryState::kAborted);
  EXPECT_NE(o.failure.find("memory"), std::string::npos) << o.failure;
  EXPECT_GT(o.failedFile, 0u);
  EXPECT_FALSE(o.Clean());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const fs::path out = OutputPath(dest.path(), files[i]);
    if (i < o.failedFile) {
      EXPECT_TRUE(test::ReadFile(out) == Contents(files[i].name)) << files[i].name;
    } else {
      EXPECT_FALSE(fs::exists(out)) << out;
    }
  }
}

// A run that goes on past failures hands over every other sector, in order,
// and names each failed one once, at its place in the run.
TEST(SalvageSectorRun, KeepGoingHandsOverEveryReadableSectorAndNamesTheRest) {
  const std::set<std::uint32_t> bad = {0, 26, 27, 28, 53, 79};
  auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(Disc().raw));
  for (std::uint32_t lba : bad) faults->FailReadAt(lba);
  SectorReader reader(*faults);
  ASSERT_TRUE(reader.Open());
  std::vector<std::int32_t> seen;
  const bool whole = reader.ReadSectorRun(
      0, 80,
      [&](std::int32_t lba, std::span<const std::uint8_t> raw) {
        seen.push_back(lba);
        return raw.size() == 2352;
      },
      ReadPolicy{1, true}, [&](std::int32_t lba) { seen.push_back(-lba - 1); });
  EXPECT_FALSE(whole);
  std::vector<std::int32_t> expected;
  for (std::int32_t lba = 0; lba < 80; ++lba) expected.push_back(bad.count(lba) ? -lba - 1 : lba);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(reader.GetStatistics().sectorsGivenUp, bad.size());
}

// The sector that failed the volume area, in words, from the drive's failures.
TEST(SalvageDiagnosis, TheVolumeAreaSaysWhichSectorFailed) {
  const HfsDisc& disc = Disc();
  const Tables t = ReadTables(disc);
  const std::uint32_t last = static_cast<std::uint32_t>(disc.raw.size() / 2352 - 1);
  const std::uint32_t middle = (t.areaFirst + t.areaLast) / 2;
  const std::string area = " of the volume area (LBAs " + std::to_string(t.areaFirst) + " to " + std::to_string(t.areaLast) + ")";
  const struct {
    std::vector<std::uint32_t> bad;
    std::string said;
  } cases[] = {
      {{middle}, "LBA " + std::to_string(middle) + area + " could not be read"},
      {{last}, "the last sector (LBA " + std::to_string(last) + ") could not be read, and no \"Trkb\" trailer is in the 16 sectors before it"},
  };
  for (const auto& c : cases) {
    auto faults = std::make_unique<FaultInjectingTransport>(test::MakeDiscFromRaw(disc.raw));
    for (std::uint32_t lba : c.bad) faults->FailReadAt(lba);
    CKestrowCore core(std::move(faults));
    VolumeImage image;
    VolumeAreaRead read;
    EXPECT_FALSE(core.LoadVolumeImage(image, read));
    EXPECT_EQ(DescribeVolumeAreaFailure(read), c.said);
  }
}

const std::vector<MacFile>& OtherFiles() {
  static const std::vector<MacFile> files = {{"Letters:one.txt", Pattern(5000, 9)}, {"seven", Pattern(100, 7)}};
  return files;
}

TEST(SalvageRecoveryJob, AnotherDiscUnderTheSameSourceWritesNothing) {
  const HfsDisc& listedDisc = Disc();
  // The same volume with one file's record changed (its length one byte
  // longer), and another volume altogether.
  HfsDisc changed = listedDisc;
  const Tables tables = ReadTables(changed);
  const std::uint64_t name = tables.areaByte + RecordNameOffset(tables, "one.txt");
  const std::uint64_t key = name - 7;
  const std::uint64_t keyLength = tables.UserByte(key);
  const std::uint64_t length = key + keyLength + 1 + (keyLength % 2 == 0 ? 1 : 0) + 26 + 3;
  {
    // The sector is rebuilt whole, sync to ECC, as a disc with that record would hold it.
    const std::uint64_t lba = length / 2048;
    std::uint8_t* raw = changed.raw.data() + lba * 2352;
    std::vector<std::uint8_t> user(raw + 16, raw + 16 + 2048);
    user[length % 2048] ^= 1;
    SynthesizeMode1Sector(static_cast<std::uint32_t>(lba), user, std::span<std::uint8_t>(raw, 2352));
  }
  for (const HfsDisc* swapped : std::vector<const HfsDisc*>{&changed, &Disc(OtherFiles())}) {
    TempDir dir;
    const fs::path image = dir.path() / "disc.bin";
    const auto put = [&](const HfsDisc& d) {
      std::ofstream(image, std::ios::binary | std::ios::trunc)
          .write(reinterpret_cast<const char*>(d.raw.data()), static_cast<std::streamsize>(d.raw.size()));
    };
    put(listedDisc);
    FileTable files;
    MasterDirectoryBlock mdb;
    {
      CKestrowCore reader(image.string());
      VolumeImage volume;
      ASSERT_TRUE(reader.LoadVolumeImage(volume) && reader.ScanCatalog(volume, files) &&
                  reader.ReadMasterDirectoryBlock(volume, mdb));
    }
    put(*swapped);
    CKestrowCore core(image.string());
    RecoveryOptions options;
    options.listedVolume = ListedVolume{mdb.VolumeName(), mdb.drCrDate()};
    fs::create_directories(dir.path() / "out");
    ASSERT_TRUE(core.StartRecovery(files, dir.Destination() + "out/", options));
    core.WaitForRecovery();
    EXPECT_EQ(core.GetRecoveryOutcome().state, RecoveryState::kDifferentDisc);
    EXPECT_TRUE(fs::is_empty(dir.path() / "out"));
  }
}

}  // namespace
}  // namespace kestrow
