// The check of every raw sector: random damage in each part of a sector is
// mended back to the very bytes that were written, or the sector is refused;
// it is never taken wrong. Sectors that are not Mode 1 / Form 1 data pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "drive/Mode1Sector.h"
#include "drive/SectorCheck.h"

namespace kestrow {
namespace {

using Sector = std::array<std::uint8_t, 2352>;

Sector Mode1(std::uint32_t lba, std::mt19937& rng) {
  std::vector<std::uint8_t> user(2048);
  for (auto& b : user) b = static_cast<std::uint8_t>(rng());
  Sector s{};
  SynthesizeMode1Sector(lba, user, s);
  return s;
}

void PutEdc(Sector& s, std::size_t from, std::size_t at) {
  const std::uint32_t edc = ComputeMode1Edc(std::span<const std::uint8_t>(s).subspan(from, at - from));
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(edc >> (8 * i));
}

// A Mode 2 sector: the subheader twice; Form 1: EDC over bytes 16..2071 and
// parity computed with a zero header; Form 2: 2324 bytes of data and an
// optional EDC over bytes 16..2347.
Sector Mode2(std::uint32_t lba, std::mt19937& rng, int form, bool withEdc = true) {
  Sector s = Mode1(lba, rng);
  s[15] = 2;
  for (std::size_t copy : {16u, 20u}) {
    s[copy] = 0;
    s[copy + 1] = 0;
    s[copy + 2] = form == 2 ? 0x20 : 0x08;
    s[copy + 3] = 0;
  }
  if (form == 1) {
    PutEdc(s, 16, 2072);
    WriteSectorParity(s, true);
    return s;
  }
  for (std::size_t i = 24; i < 2348; ++i) s[i] = static_cast<std::uint8_t>(rng());
  if (withEdc) {
    PutEdc(s, 16, 2348);
  } else {
    std::fill(s.begin() + 2348, s.end(), std::uint8_t{0});
  }
  return s;
}
Sector Form1(std::uint32_t lba, std::mt19937& rng) { return Mode2(lba, rng, 1); }

struct Region {
  std::size_t begin;
  std::size_t end;
};

struct DamageCase {
  const char* name;
  std::vector<Region> regions;  // where the damaged bytes may fall
  int bytes;                    // how many bytes are changed
  bool mendable;                // always mended (else mended exactly or refused)
  bool form1 = false;
};

constexpr Region kSync{0, 12};
constexpr Region kHeader{12, 16};
constexpr Region kUserData{16, 2064};
constexpr Region kEdc{2064, 2068};
constexpr Region kParity{2076, 2352};
constexpr Region kAfterSync{12, 2352};
constexpr int kTrials = 300;

class SectorDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(SectorDamage, MendedExactlyOrRefusedNeverTakenWrong) {
  const DamageCase& c = GetParam();
  std::mt19937 rng(static_cast<unsigned>(c.bytes * 7919 + c.regions.size()));
  int mended = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    const auto lba = static_cast<std::uint32_t>(rng() % 400000);
    const Sector original = c.form1 ? Form1(lba, rng) : Mode1(lba, rng);
    Sector damaged = original;
    std::set<std::size_t> hit;
    while (static_cast<int>(hit.size()) < c.bytes) {
      const Region& r = c.regions[rng() % c.regions.size()];
      const std::size_t at = r.begin + rng() % (r.end - r.begin);
      if (hit.insert(at).second) damaged[at] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    }
    // A drive's data for a dump: every byte must come back.
    Sector whole = damaged;
    const SectorVerdict full = CheckRawSector(lba, whole, ParityUse::kAlsoRewrite);
    // The readers' check: the header and data must come back.
    Sector fast = damaged;
    const SectorVerdict quick = CheckRawSector(lba, fast);
    ASSERT_TRUE(full == SectorVerdict::kRepaired || full == SectorVerdict::kBad) << trial << " verdict " << static_cast<int>(full) << " sub " << int(damaged[18]) << " " << int(damaged[22]);
    if (full == SectorVerdict::kRepaired) {
      ++mended;
      ASSERT_EQ(whole, original) << "taken wrong, trial " << trial;
    }
    ASSERT_NE(quick, SectorVerdict::kAsItComes) << trial;
    if (quick != SectorVerdict::kBad) {
      ASSERT_TRUE(std::equal(original.begin(), original.begin() + 2064, fast.begin())) << "taken wrong, trial " << trial;
    }
  }
  if (c.mendable) {
    EXPECT_EQ(mended, kTrials);
  }
  RecordProperty("mended", mended);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, SectorDamage,
    ::testing::Values(DamageCase{"OneUserByte", {kUserData}, 1, true},
                      DamageCase{"TwoBytesAnywhere", {kAfterSync}, 2, true},
                      DamageCase{"ThreeBytesAnywhere", {kAfterSync}, 3, true},
                      DamageCase{"HeaderBytes", {kHeader}, 3, true},
                      DamageCase{"EdcBytes", {kEdc}, 4, true},
                      DamageCase{"ParityBytes", {kParity}, 3, true},
                      DamageCase{"SyncAndData", {kSync, kUserData}, 3, true},
                      DamageCase{"TwentyBytes", {kAfterSync}, 20, false},
                      DamageCase{"EightyBytes", {kUserData, kParity}, 80, false},
                      DamageCase{"FourHundredBytes", {kAfterSync}, 400, false},
                      DamageCase{"Form1TwoBytes", {Region{16, 2352}}, 2, true, true},
                      DamageCase{"Form1FortyBytes", {Region{16, 2352}}, 40, false, true}),
    [](const auto& p) { return p.param.name; });

struct KindCase {
  const char* name;
  std::uint32_t lba;
  std::function<Sector(std::mt19937&)> make;  // built for LBA 1000
  std::size_t delivered;                      // bytes the drive delivered
  SectorVerdict verdict;
};

Sector Audio(std::mt19937& rng) {
  Sector s{};
  for (auto& b : s) b = static_cast<std::uint8_t>(rng());
  return s;
}

class SectorKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(SectorKinds, Verdict) {
  const KindCase& c = GetParam();
  std::mt19937 rng(5);
  Sector s = c.make(rng);
  const Sector before = s;
  EXPECT_EQ(CheckRawSector(c.lba, std::span<std::uint8_t>(s).first(c.delivered)), c.verdict);
  if (c.verdict == SectorVerdict::kAsItComes || c.verdict == SectorVerdict::kNoEdc) {
    EXPECT_EQ(s, before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SectorKinds,
    ::testing::Values(
        KindCase{"Mode1", 1000, [](auto& r) { return Mode1(1000, r); }, 2352, SectorVerdict::kGood},
        KindCase{"AnotherSectorsAddress", 1001, [](auto& r) { return Mode1(1000, r); }, 2352, SectorVerdict::kBad},
        KindCase{"Form1", 1000, [](auto& r) { return Form1(1000, r); }, 2352, SectorVerdict::kGood},
        KindCase{"Form2", 1000, [](auto& r) { return Mode2(1000, r, 2); }, 2352, SectorVerdict::kGood},
        KindCase{"Form2WithoutItsEdc", 1000, [](auto& r) { return Mode2(1000, r, 2, false); }, 2352,
                 SectorVerdict::kAsItComes},
        KindCase{"Form2Damaged", 1000,
                 [](auto& r) {
                   Sector s = Mode2(1000, r, 2);
                   s[900] ^= 4;
                   return s;
                 },
                 2352, SectorVerdict::kBad},
        KindCase{"Audio", 1000, Audio, 2352, SectorVerdict::kAsItComes},
        KindCase{"Zeros", 1000, [](auto&) { return Sector{}; }, 2352, SectorVerdict::kAsItComes},
        KindCase{"NoEdcOrParity", 1000,
                 [](auto& r) {
                   Sector s = Mode1(1000, r);
                   std::fill(s.begin() + 2064, s.end(), std::uint8_t{0});
                   return s;
                 },
                 2352, SectorVerdict::kNoEdc},
        KindCase{"ShortWithItsEdc", 1000, [](auto& r) { return Mode1(1000, r); }, 2100, SectorVerdict::kGood},
        KindCase{"ShortAndDamaged", 1000,
                 [](auto& r) {
                   Sector s = Mode1(1000, r);
                   s[500] ^= 1;
                   return s;
                 },
                 2100, SectorVerdict::kBad},
        KindCase{"ShortBeforeTheEdc", 1000, [](auto& r) { return Mode1(1000, r); }, 700, SectorVerdict::kAsItComes},
        KindCase{"ShortOfAnotherAddress", 999, [](auto& r) { return Mode1(1000, r); }, 700, SectorVerdict::kBad}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace kestrow
