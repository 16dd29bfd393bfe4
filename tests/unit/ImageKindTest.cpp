// Telling raw sectors, user data and cue sheets apart by content and size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/ImageKind.h"
#include "drive/Mode1Sector.h"

namespace kestrow {
namespace {

constexpr std::uint64_t kRaw = 2352;
constexpr std::uint64_t kUser = 2048;

// A head of `sectors` raw sectors, synced at the listed sector numbers only.
std::vector<std::uint8_t> RawHead(std::size_t sectors, std::vector<std::uint32_t> synced) {
  std::vector<std::uint8_t> head(sectors * kRaw, 0);
  const std::vector<std::uint8_t> user(kUser, 0x5A);
  for (const std::uint32_t lba : synced) {
    SynthesizeMode1Sector(lba, user, std::span<std::uint8_t>(head).subspan(lba * kRaw, kRaw));
  }
  return head;
}

std::vector<std::uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

struct KindCase {
  const char* name;
  std::vector<std::uint8_t> head;
  std::uint64_t fileSize;
  ImageKind kind;
};

class ImageRecognition : public ::testing::TestWithParam<KindCase> {};

TEST_P(ImageRecognition, ByContentAndSize) {
  EXPECT_EQ(RecogniseImage(GetParam().head, GetParam().fileSize), GetParam().kind);
}

const std::string kCue = "FILE \"d.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n";

INSTANTIATE_TEST_SUITE_P(
    Images, ImageRecognition,
    ::testing::Values(
        KindCase{"RawSynced", RawHead(3, {0, 1, 2}), 3 * kRaw, ImageKind::kRaw2352},
        KindCase{"RawFirstSectorsUnsynced", RawHead(6, {3, 4, 5}), 6 * kRaw, ImageKind::kRaw2352},
        KindCase{"RawPartialLastSector", RawHead(3, {0, 1, 2}), 3 * kRaw + 1000, ImageKind::kRaw2352},
        KindCase{"SyncedButSizedLikeUserData", RawHead(4, {0}), 4 * kUser, ImageKind::kUserData2048},
        KindCase{"SizeMultipleOfBoth", RawHead(16, {0}), 128 * kRaw, ImageKind::kRaw2352},
        KindCase{"SyncBeyondTheProbedSectors", RawHead(17, {16}), 17 * kRaw, ImageKind::kUserData2048},
        KindCase{"NoSync", RawHead(4, {}), 4 * kUser, ImageKind::kUserData2048},
        KindCase{"NoSyncPartialSector", RawHead(4, {}), 4 * kUser + 5, ImageKind::kUserData2048},
        KindCase{"Empty", {}, 0, ImageKind::kUserData2048},
        KindCase{"CueSheet", Text(kCue), kCue.size(), ImageKind::kCueSheet},
        KindCase{"CueTextButFileLonger", Text(kCue), kCue.size() + 10, ImageKind::kUserData2048},
        KindCase{"TextThatIsNoCue", Text("hello\nworld\n"), 12, ImageKind::kUserData2048}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace kestrow
