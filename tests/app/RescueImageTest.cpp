// Physical Dump's rescue option and images opened with the map beside them:
// start, stop, resume on the same image, then the image read as the damaged
// disc (Browse, Find Damage, Recover) through its map.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "AppTestSupport.h"
#include "app/AppText.h"
#include "app/MainCommands.h"
#include "app/RescueImage.h"
#include "drive/DdrescueMap.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

using namespace kestrow;
using namespace kestrow::app;
using namespace kestrow::apptest;

namespace {

constexpr char kDrive[] = "/dev/sr0";
constexpr std::uint64_t kRaw = format::kRawSectorSize;

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

DdrescueMap LoadMap(const std::string& path) {
  DdrescueMap map;
  std::string reason;
  const std::optional<std::string> text = ReadWholeFile(path);
  EXPECT_TRUE(text && map.Parse(*text, reason)) << path << ": " << reason;
  return map;
}

}  // namespace

TEST(RescueImage, StopsResumesAndThenReadsAsTheDamagedDisc) {
  RecordingHost host;
  DiscShelf shelf;
  MainCommands commands(host, shelf.Factory());
  commands.FillSources({kDrive}, {});
  std::vector<DiscFile> files = {{"", "One", std::vector<std::uint8_t>(3000, 0x11)},
                                 {"Docs", "Two", std::vector<std::uint8_t>(20000, 0x22)}};
  std::vector<std::uint8_t> bytes = RecoverableDisc(files);
  const auto sectors = static_cast<std::uint32_t>(bytes.size() / format::kUserDataSize);
  const auto script = shelf.Put(kDrive, std::move(bytes));
  // The disc's end is gone: the trailer and the two sectors before it.
  for (std::uint32_t lba = sectors - 3; lba < sectors; ++lba) script->badLbas.insert(lba);
  std::vector<std::uint32_t> reads;
  script->beforeRead = [&reads](std::uint32_t lba) {
    reads.push_back(lba);
    return false;
  };

  ScratchFolder dir;
  const std::string image = dir.Path("Rescue.dat");
  const std::string mapPath = dir.Path("Rescue.map");
  host.saveAnswer = image;
  host.rangeAnswer = SectorRange{1, sectors, true};

  // Stop after a few polls: the map is saved, the message says so.
  host.cancelAfterPolls = 3;
  commands.OnPhysicalDump();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_TRUE(StartsWith(host.messages[0].text, msg::kStopped)) << host.messages[0].text;
  EXPECT_NE(host.messages[0].text.find("Rescue.map"), std::string::npos) << host.messages[0].text;
  EXPECT_FALSE(host.progressOpen);
  const DdrescueMap stopped = LoadMap(mapPath);

  // Again on the same image: it goes on, never reading again what the map
  // marks finished, and ends with the bad sectors still bad.
  host.messages.clear();
  host.cancelAfterPolls = -1;
  reads.clear();
  commands.OnPhysicalDump();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_TRUE(StartsWith(host.messages[0].text, msg::kDumpFailed)) << host.messages[0].text;
  EXPECT_NE(host.messages[0].text.find("3 sector(s)"), std::string::npos) << host.messages[0].text;
  // The check of a resumed image reads a sample of the finished sectors
  // once each; the rescue itself reads none of them again.
  std::set<std::uint32_t> finishedBefore;
  for (std::uint32_t lba = 0; lba < sectors; ++lba) {
    if (stopped.IsFinished(lba * kRaw, kRaw)) finishedBefore.insert(lba);
  }
  ASSERT_FALSE(finishedBefore.empty());  // the first run read something before it stopped
  std::map<std::uint32_t, int> rereads;
  for (const std::uint32_t lba : reads) {
    if (finishedBefore.count(lba) > 0) ++rereads[lba];
  }
  for (const auto& [lba, times] : rereads) EXPECT_EQ(times, 1) << "LBA " << lba;
  EXPECT_LT(rereads.size(), finishedBefore.size());
  const DdrescueMap finished = LoadMap(mapPath);
  const std::optional<std::string> written = ReadWholeFile(image);
  ASSERT_TRUE(written);
  ASSERT_EQ(written->size(), sectors * kRaw);
  for (std::uint32_t lba = 0; lba < sectors; ++lba) {
    EXPECT_EQ(finished.IsFinished(lba * kRaw, kRaw), lba < sectors - 3) << lba;
    if (lba >= sectors - 3) continue;
    const std::vector<std::uint8_t> raw = shelf.RawSector(kDrive, static_cast<std::int32_t>(lba));
    EXPECT_TRUE(written->compare(lba * kRaw, kRaw, std::string(raw.begin(), raw.end())) == 0) << lba;
  }

  // The image opened with its map is the damaged disc: Browse finds its end
  // unreadable and offers the packed copy; Find Damage and Recover go on.
  RecordingHost desk;
  MainCommands opened(desk);
  desk.openAnswer = image;
  ASSERT_TRUE(opened.OnOpenImage());
  EXPECT_EQ(opened.Sources().Items().back().shown, "Rescue.dat (with Rescue.map)");
  ScratchFolder out;
  desk.folderAnswer = out.Path();
  desk.yesAnswer = true;
  desk.onFileList = [&](FileListSession& session) {
    RecordingView view;
    session.Attach(&view);
    session.OnFindDamage();
    EXPECT_TRUE(RunTimer(session));
    view.selected = {0, 1};
    session.OnRecoverSelectedFiles();
    EXPECT_TRUE(RunTimer(session));
    session.Attach(nullptr);
  };
  opened.OnBrowseFileList();
  EXPECT_EQ(desk.questions, (std::vector<std::string>{text::kSearchDamagedDiscQuestion}));
  // Find Damage's window, then the recovery's.
  ASSERT_EQ(desk.damageReports.size(), 2u);
  EXPECT_EQ(desk.damageReports[0].unreadableSectors.size(), 1u);
  EXPECT_EQ(ReadWholeFile(out.Path("Disk/One")), std::string(files[0].data.begin(), files[0].data.end()));
  EXPECT_EQ(ReadWholeFile(out.Path("Disk/Docs/Two")), std::string(files[1].data.begin(), files[1].data.end()));
}

// An image whose name is its own map's ("x.map") has nowhere to keep the map.
TEST(RescueImage, RefusesAnImageThatWouldBeItsOwnMap) {
  RecordingHost host;
  DiscShelf shelf;
  MainCommands commands(host, shelf.Factory());
  commands.FillSources({kDrive}, {});
  shelf.Put(kDrive, PlainDisc(20));
  ScratchFolder dir;
  host.saveAnswer = dir.Path("Rescue.map");
  host.rangeAnswer = SectorRange{1, 20, true};
  commands.OnPhysicalDump();
  EXPECT_EQ(host.Texts(), std::vector<std::string>{msg::kOutputIsSource});
  EXPECT_FALSE(ReadWholeFile(dir.Path("Rescue.map")));
}

// The status lines, however rarely the dump gives them.
TEST(RescueImage, StatusText) {
  RescueStatus status;
  status.stage = RescueStage::kScraping;
  status.pass = 1;
  status.forward = false;
  status.position = 1234;
  status.rescued = 1'500'000;
  status.rangeBytes = 3'000'000;
  status.bad = 4704;
  status.badAreas = 2;
  status.readErrors = 7;
  status.sinceLastGoodRead = std::chrono::seconds(65);
  const std::string text = FormatRescueStatus(status);
  for (const char* part : {"Scraping, pass 1 (backwards), at LBA 1234", "Rescued 1.5 MB (50.00%)", "bad 4.7 kB in 2 area(s)",
                           "7 read error(s)", "remaining unknown", "Last good read 0:01:05 ago"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
}

// The status may come from another thread: it is shown on the window's own.
TEST(RescueImage, StatusFromAnotherThreadWaitsForTheWindowsThread) {
  RecordingHost host;
  HostRescueCallbacks face(host, SectorRange{1, 2, true});
  face.ProgressStarted();
  std::thread([&face] { face.ShowRescueStatus(RescueStatus{}); }).join();
  EXPECT_TRUE(host.rescueStatusTexts.empty());
  EXPECT_FALSE(face.CancelRequested());
  ASSERT_EQ(host.rescueStatusTexts.size(), 1u);
  EXPECT_TRUE(StartsWith(host.rescueStatusTexts[0], "Copying, pass 1 (forwards)"));
  face.ShowRescueStatus(RescueStatus{});
  EXPECT_EQ(host.rescueStatusTexts.size(), 2u);
  face.ProgressFinished();
  EXPECT_FALSE(host.progressOpen);
}

// A map beside an image that cannot be read refuses the image, saying why:
// its holes are never read as data.
TEST(RescueImage, AnUnreadableMapBesideTheImageIsRefused) {
  ScratchFolder dir;
  const std::vector<std::uint8_t> disc = PlainDisc(20, "Trkb");
  std::ofstream(dir.Path("disc.iso"), std::ios::binary).write(reinterpret_cast<const char*>(disc.data()),
                                                              static_cast<std::streamsize>(disc.size()));
  std::ofstream(dir.Path("disc.map")) << "not a map\n";
  RecordingHost host;
  MainCommands commands(host);
  commands.FillSources({}, {dir.Path("disc.iso")});
  EXPECT_EQ(commands.Sources().Items().front().shown, "disc.iso (with disc.map)");
  commands.OnCheckFormat();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_TRUE(StartsWith(host.messages[0].text, msg::kNoValidDisc)) << host.messages[0].text;
  EXPECT_NE(host.messages[0].text.find("mapfile"), std::string::npos) << host.messages[0].text;
}
