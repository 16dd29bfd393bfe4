// The main dialog's commands: the source list, the drive-selection step,
// and the four commands with every message they can end in.
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/AppText.h"
#include "app/MainCommands.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"
#include "volume/VolumeImage.h"

using namespace kestrow;
using namespace kestrow::app;
using namespace kestrow::apptest;

namespace {

constexpr char kDrive[] = "/dev/sr0";

enum class Command { kCheckFormat, kBrowse, kVolumeSize, kDump };
constexpr Command kCommands[] = {Command::kCheckFormat, Command::kBrowse, Command::kVolumeSize, Command::kDump};

struct MainFixture {
  explicit MainFixture(std::vector<std::string> drives = {kDrive}) : commands(host, shelf.Factory()) {
    commands.FillSources(drives, {});
  }
  void Run(Command command) {
    switch (command) {
      case Command::kCheckFormat: return commands.OnCheckFormat();
      case Command::kBrowse: return commands.OnBrowseFileList();
      case Command::kVolumeSize: return commands.OnGetVolumeSize();
      case Command::kDump: return commands.OnPhysicalDump();
    }
  }
  // Whatever a command asked of the user besides messages.
  bool AskedNothingElse() const {
    return host.saveRequests.empty() && host.fileLists == 0 && host.rangeRequests.empty() && host.busyDepth == 0;
  }

  RecordingHost host;
  DiscShelf shelf;
  MainCommands commands;
};

using Texts = std::vector<std::string>;

}  // namespace

TEST(MainCommands, NoDriveIsToldAtStartAndByEveryCommand) {
  MainFixture f(std::vector<std::string>{});
  f.commands.WarnWhenNoDrive();
  EXPECT_EQ(f.host.Texts(), Texts{msg::kNoDrive});
  EXPECT_EQ(f.host.messages.front().style, MessageStyle::kOk);
  for (const Command command : kCommands) {
    f.host.messages.clear();
    f.Run(command);
    EXPECT_EQ(f.host.Texts(), Texts{msg::kNoDrive});
  }
  EXPECT_TRUE(f.AskedNothingElse());
}

TEST(MainCommands, DrivesComeFirstAndTheFirstImageIsSelected) {
  ScratchFolder dir;
  RecordingHost host;
  MainCommands commands(host);
  commands.FillSources({"/dev/sr0", "/dev/sr1"}, {dir.Path("a.bin"), dir.Path("b.iso"), dir.Path("a.bin")});
  const auto& items = commands.Sources().Items();
  ASSERT_EQ(items.size(), 4u);  // a.bin once
  EXPECT_EQ(items[0].shown, "/dev/sr0");
  EXPECT_EQ(items[2].shown, "a.bin");
  EXPECT_EQ(items[2].source, dir.Path("a.bin"));
  EXPECT_EQ(commands.Sources().Selected(), 2u);
  commands.WarnWhenNoDrive();
  EXPECT_TRUE(host.messages.empty());

  // Open Image... adds an image once and selects it; cancelled, it changes nothing.
  host.openAnswer = dir.Path("b.iso");
  EXPECT_TRUE(commands.OnOpenImage());
  EXPECT_EQ(items.size(), 4u);
  EXPECT_EQ(commands.Sources().Selected(), 3u);
  host.openAnswer = dir.Path("c.bin");
  EXPECT_TRUE(commands.OnOpenImage());
  EXPECT_EQ(commands.Sources().Selected(), 4u);
  host.openAnswer.reset();
  EXPECT_FALSE(commands.OnOpenImage());
  EXPECT_EQ(commands.Sources().Selected(), 4u);
}

TEST(MainCommands, TheCommandsReadTheSelectedSource) {
  MainFixture f({"/dev/sr0", "/dev/sr1"});
  f.shelf.Put("/dev/sr1", PlainDisc(600));
  f.commands.Sources().Select(1);
  f.commands.OnGetVolumeSize();
  EXPECT_EQ(f.host.Texts(), Texts{"Total: 600 sector(s), 1 MB\n"});
  EXPECT_EQ(f.host.messages.front().style, MessageStyle::kIconInformation);
}

TEST(MainCommands, ADriveThatCannotBeOpenedOrADiscOfOneSectorIsRefusedByEveryCommand) {
  for (const int sectors : {0, 1}) {
    for (const Command command : kCommands) {
      MainFixture f;
      if (sectors > 0) f.shelf.Put(kDrive, PlainDisc(static_cast<std::uint32_t>(sectors), "Trkb"));
      f.Run(command);
      ASSERT_EQ(f.host.messages.size(), 1u);
      // A drive the system would not open (no disc in the shelf's drive) says why after the message.
      const std::string& text = f.host.messages.front().text;
      EXPECT_EQ(text.substr(0, text.find('\n')), msg::kNoValidDisc) << sectors << " sectors, command " << int(command);
      EXPECT_EQ(text.find("refused to open the drive") != std::string::npos, sectors == 0) << text;
      EXPECT_EQ(f.host.messages.front().style, MessageStyle::kOk);
      EXPECT_TRUE(f.AskedNothingElse());
    }
  }
}

TEST(MainCommands, CheckFormat) {
  struct Case {
    const char* name;
    std::uint32_t sectors;
    std::string signature;
    int runOut;          // sectors after the trailer's
    bool runOutUnreadable;
    bool lastSectorBad;
    bool burned;
  };
  const Case cases[] = {
      {"signature", 40, "Trkb", 0, false, false, true},
      {"two sectors, checked at LBA 1", 2, "Trkb", 0, false, false, true},
      {"capitals", 40, "TRKB", 0, false, false, false},
      {"fourth byte differs", 40, "Trkc", 0, false, false, false},
      {"no signature", 40, "", 0, false, false, false},
      {"last sector unreadable", 40, "Trkb", 0, false, true, false},
      // A disc written track-at-once: up to 16 run-out sectors are looked past.
      {"two unreadable run-out sectors", 31, "Trkb", 2, true, false, true},
      {"16 empty run-out sectors", 31, "Trkb", 16, false, false, true},
      {"17 empty run-out sectors", 31, "Trkb", 17, false, false, false},
  };
  for (const Case& c : cases) {
    MainFixture f;
    std::vector<std::uint8_t> disc = PlainDisc(c.sectors, c.signature);
    disc.resize(disc.size() + static_cast<std::size_t>(c.runOut) * format::kUserDataSize, 0);
    const auto script = f.shelf.Put(kDrive, std::move(disc));
    if (c.lastSectorBad) script->badLbas.insert(c.sectors - 1);
    for (int i = 0; c.runOutUnreadable && i < c.runOut; ++i) script->badLbas.insert(c.sectors + static_cast<std::uint32_t>(i));
    f.commands.OnCheckFormat();
    // An unreadable end is said after the answer, with the advice to browse.
    const std::string answer = c.burned ? msg::kBurnedByKestrow : msg::kNotBurnedByKestrow;
    EXPECT_EQ(f.host.Texts(), Texts{c.lastSectorBad ? answer + "\n\n" + text::kEndUnreadableAdvice : answer}) << c.name;
    EXPECT_EQ(f.host.messages.front().style, c.burned ? MessageStyle::kIconInformation : MessageStyle::kOk);
    EXPECT_EQ(f.host.busyDepth, 0);
  }
}

TEST(MainCommands, VolumeSize) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {2, "Total: 2 sector(s), 4 KB\n"}, {512, "Total: 512 sector(s), 1024 KB\n"}, {513, "Total: 513 sector(s), 1 MB\n"}};
  for (const auto& [sectors, text] : cases) {
    MainFixture f;
    f.shelf.Put(kDrive, PlainDisc(sectors));
    f.commands.OnGetVolumeSize();
    EXPECT_EQ(f.host.Texts(), Texts{text});
  }
}

TEST(MainCommands, BrowseFailures) {
  struct Case {
    const char* name;
    int disc;  // 0 plain, 1 signature only, 2 no MDB, 3 trailer unreadable, 4 volume area unreadable
    bool searchAnswer;
    const char* text;
  };
  const Case cases[] = {
      {"no signature", 0, true, msg::kNotBurnedByKestrow},
      {"signature, empty volume area", 1, true, msg::kUnknownFormat},
      {"no master directory block", 2, true, msg::kUnknownFormat},
      {"last sector unreadable, search declined", 3, false, msg::kNotBurnedByKestrow},
      {"last sector unreadable, no packed data", 3, true, msg::kNotBurnedByKestrow},
      // The trailer was read: the disc is ours, and what failed is a read.
      {"volume area unreadable, search declined", 4, false, msg::kDumpFailed},
  };
  for (const Case& c : cases) {
    MainFixture f;
    std::vector<std::uint8_t> bytes = c.disc == 0   ? PlainDisc(64)
                                      : c.disc == 1 ? PlainDisc(64, "Trkb")
                                      : c.disc == 2 ? DiscWithoutMdb()
                                                    : BrowsableDisc();
    const auto sectors = static_cast<std::uint32_t>(bytes.size() / format::kUserDataSize);
    // A sector of the volume area, which the trailer places.
    const auto trailer =
        ParseTrackTrailer(std::span<const std::uint8_t>(bytes).subspan((sectors - 1) * format::kUserDataSize));
    const std::uint32_t areaSector = trailer ? trailer->volumeStart / 4 + 1 : 0;
    const auto script = f.shelf.Put(kDrive, std::move(bytes));
    if (c.disc == 3) script->badLbas.insert(sectors - 1);
    if (c.disc == 4) script->badLbas.insert(areaSector);
    f.host.yesAnswer = c.searchAnswer;
    f.commands.OnBrowseFileList();
    // Only a disc whose end could not be read offers the search.
    EXPECT_EQ(f.host.questions.size(), c.disc >= 3 ? 1u : 0u) << c.name;
    EXPECT_EQ(f.host.Texts(), Texts{c.text}) << c.name;
    EXPECT_EQ(f.host.messages.front().style, MessageStyle::kOk);
    EXPECT_EQ(f.host.fileLists, 0);
  }
}

TEST(MainCommands, BrowseShowsEveryFileInCatalogueOrder) {
  MainFixture f;
  f.shelf.Put(kDrive, BrowsableDisc());
  Texts rows;
  std::string count;
  f.host.onFileList = [&](FileListSession& session) {
    for (std::size_t r = 0; r < session.RowCount(); ++r) rows.push_back(session.PathText(r) + "|" + session.SizeText(r));
    count = session.FileCountText();
  };
  f.commands.OnBrowseFileList();
  EXPECT_TRUE(f.host.messages.empty());
  EXPECT_EQ(f.host.fileLists, 1);
  EXPECT_EQ(count, "Total number of file(s): 3");
  EXPECT_EQ(rows, (Texts{"Disk:Docs:Letter|1300", "Disk:Read Me|0", "Disk:Caf\xC3\xA9|5"}));
}

// The trailer and the volume area gone: the list comes from the packed copy
// of the volume, and the session's job goes on past the damage.
TEST(MainCommands, BrowseAndRecoverADiscWhoseEndIsGone) {
  MainFixture f;
  std::vector<DiscFile> files = {{"", "One", std::vector<std::uint8_t>(3000, 0x11)},
                                 {"Docs", "Two", std::vector<std::uint8_t>(20000, 0x22)}};
  for (std::size_t k = 0; k < files[1].data.size(); ++k) files[1].data[k] = static_cast<std::uint8_t>(k % 253);
  std::vector<std::uint8_t> bytes = RecoverableDisc(files);
  const auto sectors = static_cast<std::uint32_t>(bytes.size() / format::kUserDataSize);
  const auto script = f.shelf.Put(kDrive, std::move(bytes));
  for (std::uint32_t lba = sectors - 3; lba < sectors; ++lba) script->badLbas.insert(lba);
  ScratchFolder out;
  f.host.folderAnswer = out.Path();
  f.host.yesAnswer = true;
  Texts rows;
  bool keptGoing = false;
  f.host.onFileList = [&](FileListSession& session) {
    RecordingView view;
    session.Attach(&view);
    for (std::size_t r = 0; r < session.RowCount(); ++r) rows.push_back(session.PathText(r));
    keptGoing = session.KeepGoing();
    session.OnFindDamage();
    EXPECT_FALSE(view.commandsEnabled);
    EXPECT_TRUE(RunTimer(session));
    EXPECT_TRUE(view.commandsEnabled);
    view.selected = {0, 1};
    session.OnRecoverSelectedFiles();
    EXPECT_TRUE(RunTimer(session));
    session.Attach(nullptr);
  };
  f.commands.OnBrowseFileList();
  EXPECT_EQ(f.host.questions.size(), 1u);
  EXPECT_EQ(rows, (Texts{"Disk:One", "Disk:Docs:Two"}));
  EXPECT_TRUE(keptGoing);
  // Find Damage goes on past the same damage: its window names the sectors, no file is hit.
  ASSERT_EQ(f.host.damageReports.size(), 2u);  // Find Damage's, then the recovery's
  EXPECT_EQ(f.host.damageReports[0].unreadableSectors.size(), 1u);
  EXPECT_EQ(f.host.Texts(), Texts{msg::kDone});
  EXPECT_EQ(ReadWholeFile(out.Path("Disk/One")), std::string(files[0].data.begin(), files[0].data.end()));
  EXPECT_EQ(ReadWholeFile(out.Path("Disk/Docs/Two")), std::string(files[1].data.begin(), files[1].data.end()));
}

TEST(MainCommands, PhysicalDump) {
  struct Case {
    const char* name;
    std::optional<SectorRange> range;  // nothing: the range dialog is cancelled
    int badLba;                        // -1: none
    int firstLba;                      // of the sectors expected in the file
    int count;                         // -1: no file at all
    bool completed;
  };
  const Case cases[] = {
      {"defaults: the whole disc", SectorRange{1, 20}, -1, 0, 20, true},
      {"10 to 12", SectorRange{10, 12}, -1, 9, 3, true},
      {"one sector", SectorRange{7, 7}, -1, 6, 1, true},
      {"range cancelled", std::nullopt, -1, 0, -1, false},
      {"third sector unreadable", SectorRange{10, 14}, 11, 9, 2, false},
      {"first sector unreadable", SectorRange{10, 14}, 9, 9, 0, false},
  };
  for (const Case& c : cases) {
    MainFixture f;
    const auto script = f.shelf.Put(kDrive, PlainDisc(20));
    if (c.badLba >= 0) script->badLbas.insert(static_cast<std::uint32_t>(c.badLba));
    ScratchFolder dir;
    f.host.saveAnswer = dir.Path("DiscImage.dat");
    f.host.rangeAnswer = c.range;
    f.commands.OnPhysicalDump();
    EXPECT_EQ(f.host.saveRequests, Texts{"DiscImage.dat"});
    EXPECT_EQ(f.host.rangeRequests, Texts{"1-20"}) << c.name;
    // A read that failed is followed by the advice to use the rescue option.
    const std::string failed = c.badLba >= 0 ? std::string(msg::kDumpFailed) + "\n\n" + text::kDumpStoppedAdvice
                                             : std::string(msg::kDumpFailed);
    EXPECT_EQ(f.host.Texts(), Texts{c.completed ? msg::kCompleted : failed}) << c.name;
    EXPECT_EQ(f.host.messages.front().style, c.completed ? MessageStyle::kIconInformation : MessageStyle::kOk);
    EXPECT_FALSE(f.host.progressOpen);  // gone before the message
    const std::optional<std::string> written = ReadWholeFile(*f.host.saveAnswer);
    if (c.count < 0) {
      EXPECT_FALSE(written) << c.name;
      continue;
    }
    ASSERT_TRUE(written) << c.name;
    std::string expected;
    for (int i = 0; i < c.count; ++i) {
      const std::vector<std::uint8_t> raw = f.shelf.RawSector(kDrive, c.firstLba + i);
      expected.append(raw.begin(), raw.end());
    }
    EXPECT_TRUE(*written == expected) << c.name;
    if (c.range && c.count > 0) {
      EXPECT_EQ(f.host.progressTexts.front(), "Reading 0/" + std::to_string(c.range->end - c.range->start + 1) + "...");
    }
  }
}

// A write that fails is no damaged CD.
TEST(MainCommands, DumpOntoAFullDiskSaysTheWriteFailed) {
  MainFixture f;
  f.shelf.Put(kDrive, PlainDisc(20));
  f.host.saveAnswer = "/dev/full";
  f.host.rangeAnswer = SectorRange{1, 20};
  f.commands.OnPhysicalDump();
  EXPECT_EQ(f.host.Texts(), Texts{msg::kImageWriteFailed});
}

TEST(MainCommands, DumpWithoutAFileNameDoesNothing) {
  MainFixture f;
  f.shelf.Put(kDrive, PlainDisc(20));
  f.commands.OnPhysicalDump();
  EXPECT_EQ(f.host.saveRequests, Texts{"DiscImage.dat"});
  EXPECT_TRUE(f.host.messages.empty());
  EXPECT_TRUE(f.host.rangeRequests.empty());
}
