// Mode 1 raw sectors checked against ECMA-130 itself: the EDC by a plain
// bitwise CRC over the product of its two generator factors, and the P and Q
// parity by the syndromes of the code's parity-check matrices, evaluated
// word by word with a shift-and-add GF(2^8) multiply (no tables, no encoder).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "drive/Mode1Sector.h"

namespace kestrow {
namespace {

using Sector = std::array<std::uint8_t, 2352>;

// Carry-less product of two polynomials over GF(2).
std::uint64_t ClMul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  for (int bit = 0; bit < 32; ++bit) {
    if ((b >> bit) & 1) r ^= a << bit;
  }
  return r;
}

std::uint32_t Reflect32(std::uint32_t v) {
  std::uint32_t r = 0;
  for (int bit = 0; bit < 32; ++bit) r |= ((v >> bit) & 1u) << (31 - bit);
  return r;
}

// The EDC polynomial (x^16+x^15+x^2+1)(x^16+x^2+x+1), bits taken LSB first.
std::uint32_t BitwiseEdc(const std::uint8_t* data, std::size_t size) {
  const std::uint64_t product = ClMul(0x18005, 0x10007);
  const std::uint32_t poly = Reflect32(static_cast<std::uint32_t>(product));  // x^32 term implied
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ poly : crc >> 1;
  }
  return crc;
}

// GF(2^8) with x^8+x^4+x^3+x^2+1; alpha = x = 2.
std::uint8_t GfMul(std::uint8_t a, std::uint8_t b) {
  std::uint8_t r = 0;
  while (b != 0) {
    if ((b & 1) != 0) r ^= a;
    a = static_cast<std::uint8_t>((a & 0x80) != 0 ? (a << 1) ^ 0x1D : a << 1);
    b >>= 1;
  }
  return r;
}

std::uint8_t AlphaPow(unsigned n) {
  std::uint8_t r = 1;
  while (n-- > 0) r = GfMul(r, 2);
  return r;
}

// ECMA-130 numbers the 2340 bytes from the header on as 1170 16-bit words;
// each word's two bytes lie in two independent planes.
std::uint8_t Word(const Sector& s, std::size_t n, int plane) { return s[12 + 2 * n + plane]; }

// Syndromes of a codeword v[0..n-1] under H = [1 ... 1; a^(n-1) ... a^0].
bool SyndromesAreZero(const std::vector<std::uint8_t>& v) {
  std::uint8_t s0 = 0;
  std::uint8_t s1 = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    s0 ^= v[i];
    s1 ^= GfMul(AlphaPow(static_cast<unsigned>(v.size() - 1 - i)), v[i]);
  }
  return s0 == 0 && s1 == 0;
}

// P: 43 columns per plane, words Np + 43 Mp for Mp = 0..25 (24 and 25 are parity).
int FailingPCodewords(const Sector& s) {
  int failing = 0;
  for (int plane = 0; plane < 2; ++plane) {
    for (std::size_t np = 0; np < 43; ++np) {
      std::vector<std::uint8_t> v;
      for (std::size_t mp = 0; mp < 26; ++mp) v.push_back(Word(s, np + 43 * mp, plane));
      failing += SyndromesAreZero(v) ? 0 : 1;
    }
  }
  return failing;
}

// Q: 26 diagonals per plane, words (44 Mq + 43 Nq) mod 1118 for Mq = 0..42,
// then the parity words 1118 + Nq and 1144 + Nq.
int FailingQCodewords(const Sector& s) {
  int failing = 0;
  for (int plane = 0; plane < 2; ++plane) {
    for (std::size_t nq = 0; nq < 26; ++nq) {
      std::vector<std::uint8_t> v;
      for (std::size_t mq = 0; mq < 43; ++mq) v.push_back(Word(s, (44 * mq + 43 * nq) % 1118, plane));
      v.push_back(Word(s, 1118 + nq, plane));
      v.push_back(Word(s, 1144 + nq, plane));
      failing += SyndromesAreZero(v) ? 0 : 1;
    }
  }
  return failing;
}

std::vector<std::uint8_t> RandomUserData(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> data(2048);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  return data;
}

Sector Synthesize(std::uint32_t lba, const std::vector<std::uint8_t>& user) {
  Sector s;
  s.fill(0xA5);  // every byte must be written
  SynthesizeMode1Sector(lba, user, s);
  return s;
}

TEST(Mode1Edc, PolynomialAndCheckValue) {
  EXPECT_EQ(ClMul(0x18005, 0x10007), 0x18001801Bu);
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(BitwiseEdc(check, sizeof check), 0x6EC2EDC4u);  // CRC-32/CD-ROM-EDC check value
  EXPECT_EQ(ComputeMode1Edc(check), 0x6EC2EDC4u);
}

// Every length takes the same EDC, whichever way it is computed (16 bytes at
// a time, or folded with carry-less multiplication where the processor can).
TEST(Mode1Edc, AnyLengthMatchesTheBitwiseCrc) {
  std::mt19937 rng(21);
  for (const std::size_t size : {0u, 15u, 16u, 64u, 79u, 80u, 81u, 2056u, 2064u, 2332u, 4097u}) {
    std::vector<std::uint8_t> data(size);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    EXPECT_EQ(ComputeMode1Edc(data), BitwiseEdc(data.data(), data.size())) << size;
  }
}

struct HeaderCase {
  std::uint32_t lba;
  std::array<std::uint8_t, 3> msf;  // BCD
};

class Mode1Header : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Mode1Header, AddressIsLbaPlus150InBcd) {
  const Sector s = Synthesize(GetParam().lba, RandomUserData(3));
  EXPECT_EQ(s[12], GetParam().msf[0]);
  EXPECT_EQ(s[13], GetParam().msf[1]);
  EXPECT_EQ(s[14], GetParam().msf[2]);
  EXPECT_EQ(s[15], 1);
}

INSTANTIATE_TEST_SUITE_P(Addresses, Mode1Header,
                         ::testing::Values(HeaderCase{0, {0x00, 0x02, 0x00}},
                                           HeaderCase{75, {0x00, 0x03, 0x00}},
                                           HeaderCase{4349, {0x00, 0x59, 0x74}},
                                           HeaderCase{4350, {0x01, 0x00, 0x00}},
                                           HeaderCase{449849, {0x99, 0x59, 0x74}}));

TEST(Mode1Sector, LayoutAroundTheUserData) {
  const auto user = RandomUserData(11);
  const Sector s = Synthesize(16, user);
  EXPECT_TRUE(HasSyncPattern(s));
  const std::array<std::uint8_t, 12> sync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  EXPECT_TRUE(std::equal(sync.begin(), sync.end(), s.begin()));
  EXPECT_TRUE(std::equal(user.begin(), user.end(), s.begin() + 16));
  const std::uint32_t edc = BitwiseEdc(s.data(), 2064);
  EXPECT_EQ(s[2064] | s[2065] << 8 | s[2066] << 16 | static_cast<std::uint32_t>(s[2067]) << 24, edc);
  for (std::size_t i = 2068; i < 2076; ++i) EXPECT_EQ(s[i], 0) << i;
}

TEST(Mode1Sector, PAndQCodewordsHaveZeroSyndromes) {
  const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> cases = {
      {0, std::vector<std::uint8_t>(2048, 0x00)},
      {1, std::vector<std::uint8_t>(2048, 0xFF)},
      {1234, RandomUserData(5)},
      {449849, RandomUserData(6)},
  };
  for (const auto& [lba, user] : cases) {
    const Sector s = Synthesize(lba, user);
    EXPECT_EQ(FailingPCodewords(s), 0) << lba;
    EXPECT_EQ(FailingQCodewords(s), 0) << lba;
  }
}

TEST(Mode1Sector, SyndromeCheckSeesOneChangedByte) {
  Sector s = Synthesize(200, RandomUserData(7));
  s[16 + 1000] ^= 0x01;  // one byte: one P column and one Q diagonal of its plane
  EXPECT_EQ(FailingPCodewords(s), 1);
  EXPECT_EQ(FailingQCodewords(s), 1);
}

}  // namespace
}  // namespace kestrow
