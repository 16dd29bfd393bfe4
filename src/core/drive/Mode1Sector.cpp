#include "drive/Mode1Sector.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace kestrow {
namespace {

// Layout of a Mode 1 sector.
constexpr std::size_t kSectorSize = 2352;
constexpr std::size_t kSyncSize = 12;
constexpr std::size_t kHeaderOffset = 12;
constexpr std::size_t kUserDataOffset = 16;
constexpr std::size_t kUserDataSize = 2048;
constexpr std::size_t kEdcOffset = 2064;
constexpr std::size_t kIntermediateOffset = 2068;  // 8 zero bytes
constexpr std::size_t kIntermediateSize = 8;
constexpr std::size_t kPParityOffset = 0x81C;      // 172 bytes
constexpr std::size_t kQParityOffset = 0x8C8;      // 104 bytes
constexpr std::size_t kEccStart = kHeaderOffset;   // P and Q cover the sector from its header

// Addresses count from the start of the program area, 150 frames (2 s)
// before LBA 0.
constexpr std::uint64_t kLeadInFrames = 150;
constexpr std::uint64_t kFramesPerSecond = 75;
constexpr std::uint64_t kSecondsPerMinute = 60;

constexpr std::uint32_t kEdcPolynomialReflected = 0xD8018001;  // (x^16+x^15+x^2+1)(x^16+x^2+x+1)
constexpr unsigned kGfPolynomial = 0x11D;                       // x^8+x^4+x^3+x^2+1

// One Reed-Solomon product code pass (P or Q). The bytes from offset 12 are
// two interleaved planes of 16-bit words (even and odd bytes); each codeword
// takes `length` bytes of one plane, stepping `step` bytes and wrapping at
// `span` bytes, and gets two parity bytes: one at `parity + codeword`, the
// other `codewords` bytes further on.
struct ParityLayout {
  std::size_t codewords;  // 86 for P (43 columns x 2 planes), 52 for Q (26 diagonals x 2)
  std::size_t length;     // data bytes per codeword: 24 for P, 43 for Q
  std::size_t firstStep;  // bytes between the first data bytes of neighbouring codewords of a plane
  std::size_t step;       // bytes between neighbouring data bytes of one codeword
  std::size_t parity;     // offset of the parity bytes in the sector
};

constexpr ParityLayout kPLayout{86, 24, 2, 86, kPParityOffset};
constexpr ParityLayout kQLayout{52, 43, 86, 88, kQParityOffset};

struct Tables {
  std::array<std::uint32_t, 256> edc{};
  std::array<std::uint8_t, 256> timesAlpha{};         // x * alpha
  std::array<std::uint8_t, 256> overOnePlusAlpha{};   // x / (1 + alpha)
};

constexpr Tables BuildTables() {
  Tables t;
  for (unsigned i = 0; i < 256; ++i) {
    const unsigned doubled = (i << 1) ^ ((i & 0x80) != 0 ? kGfPolynomial : 0);
    t.timesAlpha[i] = static_cast<std::uint8_t>(doubled);
    // i * (1 + alpha) = i ^ doubled, so dividing that by (1 + alpha) gives i.
    t.overOnePlusAlpha[(i ^ doubled) & 0xFF] = static_cast<std::uint8_t>(i);
    std::uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) != 0 ? kEdcPolynomialReflected : 0);
    t.edc[i] = crc;
  }
  return t;
}

constexpr Tables kTables = BuildTables();

std::uint8_t ToBcd(std::uint64_t value) {
  return static_cast<std::uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

void WriteSync(std::span<std::uint8_t> raw) {
  raw[0] = 0x00;
  std::fill(raw.begin() + 1, raw.begin() + 11, std::uint8_t{0xFF});
  raw[11] = 0x00;
}

// Minutes beyond 99 wrap: the field holds two BCD digits.
void WriteHeader(std::uint32_t lba, std::span<std::uint8_t> raw) {
  const std::uint64_t frame = std::uint64_t{lba} + kLeadInFrames;
  const std::uint64_t framesPerMinute = kFramesPerSecond * kSecondsPerMinute;
  raw[kHeaderOffset + 0] = ToBcd(frame / framesPerMinute);
  raw[kHeaderOffset + 1] = ToBcd(frame / kFramesPerSecond % kSecondsPerMinute);
  raw[kHeaderOffset + 2] = ToBcd(frame % kFramesPerSecond);
  raw[kHeaderOffset + 3] = 1;  // mode 1
}

void WriteLe32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// For a codeword d[0..k-1] followed by parity p0, p1, the check equations
// are  sum d + p0 + p1 = 0  and  sum d[i] a^(k+1-i) + a p0 + p1 = 0.
// With A = sum d and B = sum d[i] a^(k+1-i):  p0 = (A + B) / (1 + a), p1 = A + p0.
void WriteParity(std::span<std::uint8_t> raw, const ParityLayout& layout) {
  std::uint8_t* const area = raw.data() + kEccStart;
  const std::size_t wrap = layout.codewords * layout.length;
  for (std::size_t codeword = 0; codeword < layout.codewords; ++codeword) {
    std::size_t index = (codeword >> 1) * layout.firstStep + (codeword & 1);
    std::uint8_t sum = 0;      // A
    std::uint8_t weighted = 0; // B / a, by Horner's rule
    for (std::size_t i = 0; i < layout.length; ++i) {
      const std::uint8_t byte = area[index];
      sum ^= byte;
      weighted = kTables.timesAlpha[weighted ^ byte];
      index += layout.step;
      if (index >= wrap) index -= wrap;
    }
    const std::uint8_t p0 = kTables.overOnePlusAlpha[kTables.timesAlpha[weighted] ^ sum];
    raw[layout.parity + codeword] = p0;
    raw[layout.parity + layout.codewords + codeword] = static_cast<std::uint8_t>(p0 ^ sum);
  }
}

}  // namespace

std::uint32_t ComputeMode1Edc(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0;
  for (const std::uint8_t byte : bytes) crc = (crc >> 8) ^ kTables.edc[(crc ^ byte) & 0xFF];
  return crc;
}

bool HasSyncPattern(std::span<const std::uint8_t> raw) {
  if (raw.size() < kSyncSize) return false;
  if (raw[0] != 0x00 || raw[11] != 0x00) return false;
  return std::all_of(raw.begin() + 1, raw.begin() + 11, [](std::uint8_t b) { return b == 0xFF; });
}

// A `raw` shorter than a sector is left untouched; user data shorter than
// 2048 bytes is padded with zeros.
void SynthesizeMode1Sector(std::uint32_t lba, std::span<const std::uint8_t> userData,
                           std::span<std::uint8_t> raw) {
  if (raw.size() < kSectorSize) return;
  WriteSync(raw);
  WriteHeader(lba, raw);
  const std::size_t copied = std::min(userData.size(), kUserDataSize);
  std::copy_n(userData.begin(), copied, raw.begin() + kUserDataOffset);
  std::fill(raw.begin() + kUserDataOffset + copied, raw.begin() + kUserDataOffset + kUserDataSize,
            std::uint8_t{0});
  WriteLe32(raw.data() + kEdcOffset, ComputeMode1Edc(raw.first(kEdcOffset)));
  std::fill_n(raw.begin() + kIntermediateOffset, kIntermediateSize, std::uint8_t{0});
  WriteParity(raw, kPLayout);  // P first: the Q diagonals run through the P parity
  WriteParity(raw, kQLayout);
}

}  // namespace kestrow
