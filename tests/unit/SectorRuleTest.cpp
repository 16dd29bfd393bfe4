// Only the sector asked for is data: what a reader of user data and a dump
// each do with every kind of sector a source may hand back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "TempDir.h"
#include "drive/EmulatedDrive.h"
#include "drive/Mode1Sector.h"
#include "drive/SectorReader.h"

namespace kestrow {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Sector = std::vector<std::uint8_t>;

constexpr std::uint32_t kSectors = 40;
constexpr std::uint32_t kForged = 20;

Bytes UserBytes(std::uint32_t lba) {
  Bytes user(2048);
  for (std::size_t i = 0; i < user.size(); ++i) user[i] = static_cast<std::uint8_t>(lba * 7 + i % 253);
  return user;
}

Sector Mode1(std::uint32_t lba) {
  Sector raw(2352);
  SynthesizeMode1Sector(lba, UserBytes(lba), raw);
  return raw;
}

void PutEdc(Sector& raw, std::size_t from, std::size_t at) {
  const std::uint32_t edc = ComputeMode1Edc(std::span<const std::uint8_t>(raw).subspan(from, at - from));
  for (int i = 0; i < 4; ++i) raw[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(edc >> (8 * i));
}

// Mode 2 around the sector's user data at byte 24; Form 1 with EDC and parity.
Sector Mode2(std::uint32_t lba, bool form2) {
  Sector raw = Mode1(lba);
  std::fill(raw.begin() + 16, raw.end(), std::uint8_t{0});
  raw[15] = 2;
  raw[18] = raw[22] = form2 ? 0x28 : 0x08;
  const Bytes user = UserBytes(lba);
  std::copy(user.begin(), user.end(), raw.begin() + 24);
  PutEdc(raw, 16, form2 ? 2348 : 2072);
  if (!form2) WriteSectorParity(raw, true);
  return raw;
}

Sector Forged(const std::string& kind) {
  if (kind == "zero") return Sector(2352, 0);
  if (kind == "other") return Mode1(kForged + 5);  // another address, intact
  if (kind == "otherBrokenSync") {
    Sector raw = Mode1(kForged + 5);
    std::fill(raw.begin() + 1, raw.begin() + 7, std::uint8_t{0x5A});
    return raw;
  }
  if (kind == "form1") return Mode2(kForged, false);
  if (kind == "form2") return Mode2(kForged, true);
  if (kind == "audio") {
    Sector raw(2352);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return raw;
  }
  if (kind == "noEdc") {
    Sector raw = Mode1(kForged);
    std::fill(raw.begin() + 2064, raw.end(), std::uint8_t{0});
    return raw;
  }
  return Mode1(kForged);
}

// Raw sectors as a source hands them over, with or without EDC.
class RawDisc : public EmulatedDrive {
 public:
  RawDisc(std::vector<Sector> sectors, bool carriesEdc) : m_sectors(std::move(sectors)), m_carriesEdc(carriesEdc) {}
  bool Open() override { return m_open = true; }
  void Close() override { m_open = false; }
  bool IsOpen() const override { return m_open; }
  std::string Path() const override { return "raw"; }
  bool SectorsCarryEdc() const override { return m_carriesEdc; }

 protected:
  std::uint32_t SectorCount() const override { return static_cast<std::uint32_t>(m_sectors.size()); }
  bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) override {
    std::copy(m_sectors[lba].begin(), m_sectors[lba].end(), raw.begin());
    return true;
  }

 private:
  std::vector<Sector> m_sectors;
  bool m_carriesEdc;
  bool m_open = false;
};

class WholeRange : public DumpCallbacks {
 public:
  bool ChooseSectorRange(std::uint32_t, std::uint32_t& start, std::uint32_t& end) override {
    start = kForged - 3;  // 1-based: LBAs kForged - 4 to kForged + 6
    end = kForged + 7;
    return true;
  }
  void ShowProgress(int, int) override {}
};

struct RuleCase {
  const char* name;
  const char* kind;           // what sector kForged holds
  bool sourceCarriesEdc;
  std::uint32_t shortBytes;   // 0, or a GOOD transfer that moves this much of the sector
  bool data;                  // a reader of user data takes it (with the sector's own user data)
  bool dumped;                // a dump writes it as it came
  std::uint64_t zeroSectors;  // what the job's end reports
};

class SectorRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(SectorRuleTest, ReaderAndDumpTakeOnlyWhatTheyMay) {
  const RuleCase& c = GetParam();
  const auto makeDrive = [&] {
    std::vector<Sector> sectors;
    for (std::uint32_t lba = 0; lba < kSectors; ++lba) sectors.push_back(lba == kForged ? Forged(c.kind) : Mode1(lba));
    auto faults = std::make_unique<FaultInjectingTransport>(std::make_unique<RawDisc>(sectors, c.sourceCarriesEdc));
    if (c.shortBytes > 0) faults->ShortTransferAt(kForged, c.shortBytes);
    return faults;
  };

  // Read for user data, in a run of several sectors and then on its own.
  const auto drive = makeDrive();
  SectorReader reader(*drive);
  ASSERT_TRUE(reader.Open());
  Bytes got;
  std::vector<std::int32_t> unreadable;
  const bool whole = reader.ReadSectorRun(
      10, 20,
      [&](std::int32_t lba, std::span<const std::uint8_t> raw) {
        if (lba == static_cast<std::int32_t>(kForged)) {
          const auto user = UserDataOf(raw);
          got.assign(user.begin(), user.end());
        }
        return true;
      },
      ReadPolicy{1, true}, [&](std::int32_t lba) { unreadable.push_back(lba); });
  EXPECT_EQ(whole, c.data);
  if (c.data) {
    EXPECT_TRUE(got == UserBytes(kForged)) << "the sector's user data was not what was written";
  } else {
    EXPECT_TRUE(got.empty()) << "a sector that is not data reached the reader";
    EXPECT_EQ(unreadable, std::vector<std::int32_t>{static_cast<std::int32_t>(kForged)});
  }
  EXPECT_EQ(reader.GetStatistics().zeroSectors, c.zeroSectors);

  // A dump keeps whole sectors as the drive gave them.
  test::TempDir dir;
  const std::string path = (dir.path() / "dump.bin").string();
  CKestrowCore dumper(makeDrive());
  WholeRange range;
  EXPECT_EQ(dumper.DumpSectors(path, range), c.dumped);
  const std::string file = test::ReadFile(path);
  const std::size_t before = 4 * 2352;  // the sectors ahead of the forged one
  ASSERT_GE(file.size(), before);
  if (c.dumped) {
    ASSERT_EQ(file.size(), 11u * 2352);
    const Sector forged = Forged(c.kind);
    EXPECT_TRUE(std::equal(forged.begin(), forged.end(), reinterpret_cast<const std::uint8_t*>(file.data()) + before))
        << "the dump did not write the sector as it came";
  } else {
    EXPECT_EQ(file.size(), before) << "the dump wrote what it could not vouch for";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SectorRuleTest,
    ::testing::Values(RuleCase{"Mode1", "mode1", true, 0, true, true, 0},
                      RuleCase{"AllZero", "zero", true, 0, false, true, 1},
                      RuleCase{"AnotherAddress", "other", true, 0, false, false, 0},
                      RuleCase{"AnotherSectorWithBrokenSync", "otherBrokenSync", true, 0, false, true, 0},
                      RuleCase{"Mode2Form1FromByte24", "form1", true, 0, true, true, 0},
                      RuleCase{"Mode2Form2", "form2", true, 0, false, true, 0},
                      RuleCase{"Audio", "audio", true, 0, false, true, 0},
                      RuleCase{"NoEdcOnAnEdcSource", "noEdc", true, 0, false, true, 0},
                      RuleCase{"NoEdcOnANoEdcSource", "noEdc", false, 0, true, true, 0},
                      RuleCase{"ShortTransfer", "mode1", true, 2000, false, false, 0}),
    [](const auto& param) { return param.param.name; });

}  // namespace
}  // namespace kestrow
