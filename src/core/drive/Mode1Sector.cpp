#include "drive/Mode1Sector.h"

#include <algorithm>
#include <array>
#include <cstddef>

// Folding with carry-less multiplication needs x86-64 and GCC or clang's
// per-function targets; everything else takes the EDC 16 bytes at a time.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KESTROW_EDC_BY_FOLDING 1
#include <immintrin.h>
#endif

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
constexpr std::size_t kEccStart = kHeaderOffset;   // P and Q cover the sector from its header
constexpr std::size_t kHeaderSize = 4;

// Addresses count from the start of the program area, 150 frames (2 s)
// before LBA 0.
constexpr std::uint64_t kLeadInFrames = 150;
constexpr std::uint64_t kFramesPerSecond = 75;
constexpr std::uint64_t kSecondsPerMinute = 60;

constexpr std::uint32_t kEdcPolynomialReflected = 0xD8018001;  // (x^16+x^15+x^2+1)(x^16+x^2+x+1)
constexpr unsigned kGfPolynomial = 0x11D;                       // x^8+x^4+x^3+x^2+1
constexpr std::size_t kEdcSlices = 16;                          // bytes the EDC takes per step

// The parity area, counted from the header: 2064 bytes that P covers, then
// P's 172 parity bytes, which Q also covers, then Q's 104.
//
// The bytes form two interleaved planes of 16-bit words (even and odd
// bytes). A P codeword is a column of one plane: 24 bytes 86 apart, then its
// two parity bytes, 86 apart again. A Q codeword is a diagonal of one plane:
// 43 bytes 88 apart, wrapping within the 2236 bytes, then its two parity
// bytes, 52 apart.
constexpr std::size_t kPCodewords = 86;
constexpr std::size_t kPLength = 26;  // 24 data + 2 parity
constexpr std::size_t kQCodewords = 52;
constexpr std::size_t kQLength = 45;  // 43 data + 2 parity
constexpr std::size_t kPData = kPCodewords * (kPLength - 2);  // 2064
constexpr std::size_t kQData = kQCodewords * (kQLength - 2);  // 2236
static_assert(kPData + 2 * kPCodewords == kQData, "Q covers the P area and P's parity");
static_assert(kEccStart + kQData + 2 * kQCodewords == kSectorSize, "Q's parity ends the sector");

template <std::size_t Codewords, std::size_t Length>
using Positions = std::array<std::array<std::uint16_t, Length>, Codewords>;

constexpr Positions<kPCodewords, kPLength> BuildPPositions() {
  Positions<kPCodewords, kPLength> p{};
  for (std::size_t c = 0; c < kPCodewords; ++c) {
    for (std::size_t i = 0; i < kPLength; ++i) p[c][i] = static_cast<std::uint16_t>(c + i * kPCodewords);
  }
  return p;
}

constexpr Positions<kQCodewords, kQLength> BuildQPositions() {
  Positions<kQCodewords, kQLength> q{};
  for (std::size_t c = 0; c < kQCodewords; ++c) {
    std::size_t index = (c >> 1) * 86 + (c & 1);
    for (std::size_t i = 0; i + 2 < kQLength; ++i) {
      q[c][i] = static_cast<std::uint16_t>(index);
      index += 88;
      if (index >= kQData) index -= kQData;
    }
    q[c][kQLength - 2] = static_cast<std::uint16_t>(kQData + c);
    q[c][kQLength - 1] = static_cast<std::uint16_t>(kQData + kQCodewords + c);
  }
  return q;
}

constexpr auto kPPositions = BuildPPositions();
constexpr auto kQPositions = BuildQPositions();

struct Tables {
  std::array<std::array<std::uint32_t, 256>, kEdcSlices> edc{};
  std::array<std::uint8_t, 256> timesAlpha{};        // x * alpha
  std::array<std::uint8_t, 256> overOnePlusAlpha{};  // x / (1 + alpha)
  std::array<std::uint8_t, 256> log{};               // log_alpha x, for x != 0
};

constexpr Tables BuildTables() {
  Tables t;
  unsigned power = 1;
  for (unsigned e = 0; e < 255; ++e) {
    t.log[power] = static_cast<std::uint8_t>(e);
    power = (power << 1) ^ ((power & 0x80) != 0 ? kGfPolynomial : 0);
  }
  for (unsigned i = 0; i < 256; ++i) {
    const unsigned doubled = (i << 1) ^ ((i & 0x80) != 0 ? kGfPolynomial : 0);
    t.timesAlpha[i] = static_cast<std::uint8_t>(doubled);
    // i * (1 + alpha) = i ^ doubled, so dividing that by (1 + alpha) gives i.
    t.overOnePlusAlpha[(i ^ doubled) & 0xFF] = static_cast<std::uint8_t>(i);
    std::uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) != 0 ? kEdcPolynomialReflected : 0);
    t.edc[0][i] = crc;
  }
  // edc[k][i]: the CRC of byte i followed by k zero bytes, for taking 16
  // bytes at a time.
  for (std::size_t k = 1; k < kEdcSlices; ++k) {
    for (unsigned i = 0; i < 256; ++i) {
      const std::uint32_t previous = t.edc[k - 1][i];
      t.edc[k][i] = (previous >> 8) ^ t.edc[0][previous & 0xFF];
    }
  }
  return t;
}

constexpr Tables kTables = BuildTables();

std::uint8_t ToBcd(std::uint64_t value) {
  return static_cast<std::uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

std::uint32_t LoadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The EDC register after 16 more bytes.
inline std::uint32_t EdcStep(std::uint32_t crc, const std::uint8_t* p) {
  const auto& t = kTables.edc;
  const std::uint32_t a = crc ^ LoadLe32(p);
  const std::uint32_t b = LoadLe32(p + 4);
  const std::uint32_t c = LoadLe32(p + 8);
  const std::uint32_t d = LoadLe32(p + 12);
  return t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
         t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
         t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
         t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
}

#if defined(KESTROW_EDC_BY_FOLDING)
// The EDC with carry-less multiplication (PCLMULQDQ), where the processor
// has it: the bytes are folded, 64 at a time, into 16 whose EDC is the
// whole run's, as in Intel's "Fast CRC Computation for Generic Polynomials
// Using PCLMULQDQ". Folding 64 bits across d bits multiplies them by
// x^(d+32) mod P (the low half) or x^(d-32) mod P (the high half), taken
// bit-reflected and one bit up for this reflected CRC.
constexpr std::uint64_t FoldConstant(unsigned exponent) {
  std::uint64_t r = 1;  // x^exponent mod P, with P = x^32 + the EDC polynomial
  for (unsigned i = 0; i < exponent; ++i) {
    r <<= 1;
    if ((r >> 32) & 1u) r ^= 0x18001801Bull;
  }
  std::uint64_t reflected = 0;
  for (unsigned bit = 0; bit < 32; ++bit) reflected |= ((r >> bit) & 1u) << (31 - bit);
  return reflected << 1;
}

constexpr std::uint64_t kAcross64Low = FoldConstant(4 * 128 + 32);
constexpr std::uint64_t kAcross64High = FoldConstant(4 * 128 - 32);
constexpr std::uint64_t kAcross16Low = FoldConstant(128 + 32);
constexpr std::uint64_t kAcross16High = FoldConstant(128 - 32);
constexpr std::size_t kFoldMinimum = 80;  // 64 bytes to start from, and the bytes before whole blocks

bool FoldingAvailable() {
  static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  return available;
}

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i constants, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, constants, 0x00),
                                     _mm_clmulepi64_si128(x, constants, 0x11)),
                       next);
}

// `size` is a multiple of 16, at least 64; `crc` the register before them.
__attribute__((target("pclmul,sse2"))) std::uint32_t EdcByFolding(const std::uint8_t* p, std::size_t size,
                                                                   std::uint32_t crc) {
  const auto load = [](const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  const __m128i across64 =
      _mm_set_epi64x(static_cast<long long>(kAcross64High), static_cast<long long>(kAcross64Low));
  const __m128i across16 =
      _mm_set_epi64x(static_cast<long long>(kAcross16High), static_cast<long long>(kAcross16Low));
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16);
  __m128i x2 = load(p + 32);
  __m128i x3 = load(p + 48);
  for (p += 64, size -= 64; size >= 64; p += 64, size -= 64) {
    x0 = Fold(x0, across64, load(p));
    x1 = Fold(x1, across64, load(p + 16));
    x2 = Fold(x2, across64, load(p + 32));
    x3 = Fold(x3, across64, load(p + 48));
  }
  __m128i x = Fold(Fold(Fold(x0, across16, x1), across16, x2), across16, x3);
  for (; size >= 16; p += 16, size -= 16) x = Fold(x, across16, load(p));
  alignas(16) std::uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  return EdcStep(0, rest);
}
#endif

void WriteLe32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// For a codeword d[0..k-1] followed by parity p0, p1, the check equations
// are  sum d + p0 + p1 = 0  and  sum d[i] a^(k+1-i) + a p0 + p1 = 0.
// With A = sum d and B = sum d[i] a^(k+1-i):  p0 = (A + B) / (1 + a), p1 = A + p0.
template <std::size_t Codewords, std::size_t Length>
void EncodeCodewords(std::uint8_t* area, const Positions<Codewords, Length>& positions) {
  for (const auto& codeword : positions) {
    std::uint8_t sum = 0;       // A
    std::uint8_t weighted = 0;  // B / a, by Horner's rule
    for (std::size_t i = 0; i + 2 < Length; ++i) {
      const std::uint8_t byte = area[codeword[i]];
      sum ^= byte;
      weighted = kTables.timesAlpha[weighted ^ byte];
    }
    const std::uint8_t p0 = kTables.overOnePlusAlpha[kTables.timesAlpha[weighted] ^ sum];
    area[codeword[Length - 2]] = p0;
    area[codeword[Length - 1]] = static_cast<std::uint8_t>(p0 ^ sum);
  }
}

struct PassResult {
  int corrected = 0;
  int failing = 0;  // codewords left with non-zero syndromes
};

// One pass over the codewords: the syndromes S0 = sum v[j] and
// S1 = sum v[j] a^(n-1-j) of a codeword with one wrong byte at j are
// S0 = e and S1 = e a^(n-1-j), so S1 / S0 names the byte and S0 mends it.
template <std::size_t Codewords, std::size_t Length>
PassResult CorrectCodewords(std::uint8_t* area, const Positions<Codewords, Length>& positions) {
  PassResult result;
  for (const auto& codeword : positions) {
    std::uint8_t s0 = 0;
    std::uint8_t s1 = 0;
    for (const std::uint16_t at : codeword) {
      s0 ^= area[at];
      s1 = static_cast<std::uint8_t>(kTables.timesAlpha[s1] ^ area[at]);
    }
    if (s0 == 0 && s1 == 0) continue;
    if (s0 != 0 && s1 != 0) {
      const unsigned distance = (kTables.log[s1] + 255u - kTables.log[s0]) % 255u;  // n-1-j
      if (distance < Length) {
        area[codeword[Length - 1 - distance]] ^= s0;
        ++result.corrected;
        continue;
      }
    }
    ++result.failing;
  }
  return result;
}

// Runs `work` on the parity area with the header read as zero when asked,
// putting the header back afterwards.
template <typename Work>
auto WithHeaderAs(std::span<std::uint8_t> raw, bool zeroHeader, Work work) {
  std::array<std::uint8_t, kHeaderSize> header{};
  std::copy_n(raw.begin() + kHeaderOffset, kHeaderSize, header.begin());
  if (zeroHeader) std::fill_n(raw.begin() + kHeaderOffset, kHeaderSize, std::uint8_t{0});
  const auto result = work(raw.data() + kEccStart);
  if (zeroHeader) std::copy(header.begin(), header.end(), raw.begin() + kHeaderOffset);
  return result;
}

// Each round corrects something or the repair ends; a round without
// corrections and without failing codewords means the sector is consistent.
constexpr int kMaxRounds = 16;

}  // namespace

std::array<std::uint8_t, 3> SectorAddress(std::uint32_t lba) {
  const std::uint64_t frame = std::uint64_t{lba} + kLeadInFrames;
  const std::uint64_t framesPerMinute = kFramesPerSecond * kSecondsPerMinute;
  // Minutes beyond 99 wrap: the field holds two BCD digits.
  return {ToBcd(frame / framesPerMinute), ToBcd(frame / kFramesPerSecond % kSecondsPerMinute),
          ToBcd(frame % kFramesPerSecond)};
}

std::uint32_t ComputeMode1Edc(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  std::uint32_t crc = 0;
#if defined(KESTROW_EDC_BY_FOLDING)
  if (left >= kFoldMinimum && FoldingAvailable()) {
    // The bytes before a whole number of 16-byte blocks by table, the
    // blocks by folding.
    for (; left % kEdcSlices != 0; --left, ++p) crc = (crc >> 8) ^ kTables.edc[0][(crc ^ *p) & 0xFF];
    return EdcByFolding(p, left, crc);
  }
#endif
  for (; left >= kEdcSlices; left -= kEdcSlices, p += kEdcSlices) crc = EdcStep(crc, p);
  for (; left > 0; --left, ++p) crc = (crc >> 8) ^ kTables.edc[0][(crc ^ *p) & 0xFF];
  return crc;
}

bool HasSyncPattern(std::span<const std::uint8_t> raw) {
  return raw.size() >= kSyncSize && SyncPatternDistance(raw) == 0;
}

int SyncPatternDistance(std::span<const std::uint8_t> raw) {
  int distance = 0;
  for (std::size_t i = 0; i < kSyncSize && i < raw.size(); ++i) {
    const std::uint8_t expected = (i == 0 || i == kSyncSize - 1) ? 0x00 : 0xFF;
    if (raw[i] != expected) ++distance;
  }
  return distance + static_cast<int>(kSyncSize - std::min(kSyncSize, raw.size()));
}

void WriteSyncPattern(std::span<std::uint8_t> raw) {
  if (raw.size() < kSyncSize) return;
  raw[0] = 0x00;
  std::fill(raw.begin() + 1, raw.begin() + 11, std::uint8_t{0xFF});
  raw[11] = 0x00;
}

void WriteSectorParity(std::span<std::uint8_t> raw, bool zeroHeader) {
  if (raw.size() < kSectorSize) return;
  WithHeaderAs(raw, zeroHeader, [](std::uint8_t* area) {
    EncodeCodewords(area, kPPositions);  // P first: the Q diagonals run through the P parity
    EncodeCodewords(area, kQPositions);
    return true;
  });
}

bool CorrectWithParity(std::span<std::uint8_t> raw, bool zeroHeader) {
  if (raw.size() < kSectorSize) return false;
  return WithHeaderAs(raw, zeroHeader, [](std::uint8_t* area) {
    for (int round = 0; round < kMaxRounds; ++round) {
      const PassResult p = CorrectCodewords(area, kPPositions);
      const PassResult q = CorrectCodewords(area, kQPositions);
      if (p.corrected + q.corrected == 0) return p.failing + q.failing == 0;
    }
    return false;
  });
}

// A `raw` shorter than a sector is left untouched; user data shorter than
// 2048 bytes is padded with zeros.
void SynthesizeMode1Sector(std::uint32_t lba, std::span<const std::uint8_t> userData,
                           std::span<std::uint8_t> raw) {
  if (raw.size() < kSectorSize) return;
  WriteSyncPattern(raw);
  const auto address = SectorAddress(lba);
  std::copy(address.begin(), address.end(), raw.begin() + kHeaderOffset);
  raw[kHeaderOffset + 3] = 1;  // mode 1
  const std::size_t copied = std::min(userData.size(), kUserDataSize);
  std::copy_n(userData.begin(), copied, raw.begin() + kUserDataOffset);
  std::fill(raw.begin() + kUserDataOffset + copied, raw.begin() + kUserDataOffset + kUserDataSize,
            std::uint8_t{0});
  WriteLe32(raw.data() + kEdcOffset, ComputeMode1Edc(raw.first(kEdcOffset)));
  std::fill_n(raw.begin() + kIntermediateOffset, kIntermediateSize, std::uint8_t{0});
  WriteSectorParity(raw, false);
}

}  // namespace kestrow
