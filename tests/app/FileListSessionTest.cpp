// The file list session: its rows, count line and options, Save List, and
// the recovery job it drives (refusals, order, the status line, "Done!",
// closing during a job, a job that fails, going on past damage).
#include <gtest/gtest.h>

#include <thread>

#include "AppTestSupport.h"
#include "app/DamageText.h"
#include "app/AppText.h"
#include "app/FileListSession.h"
#include "platform/FileSystem.h"
#include "recovery/DataLocation.h"
#include "recovery/RecoveryJob.h"
#include "text/Messages.h"

using namespace kestrow;
using namespace kestrow::app;
using namespace kestrow::apptest;

namespace {

using Texts = std::vector<std::string>;

FileTable SampleTable() {
  return {Row("Disk:Docs:", "Letter", 1000, 300), Row("Disk:", "Read Me", 0, 0), Row("", "Orphan", 7, 0),
          Row("Disk:", "Caf\xE9", 5, 0)};
}

// A session over `table` whose core is never used.
struct ListFixture {
  explicit ListFixture(FileTable rows) : table(std::move(rows)), session(&table, "memory", shelf.Factory(), host) {
    session.Attach(&view);
  }
  RecordingHost host;
  DiscShelf shelf;
  FileTable table;
  FileListSession session;
  RecordingView view;
};

constexpr char kSource[] = "/dev/sr0";
constexpr int kFiles = 8;

std::string FileName(int i) { return "File " + std::to_string(i); }

// A session over the sample disc, read as Browse File List reads it.
struct JobFixture {
  JobFixture() : files(NumberedFiles(kFiles)) {
    script = shelf.Put(kSource, RecoverableDisc(files));
    const std::unique_ptr<CKestrowCore> reader = shelf.Factory()(kSource);
    VolumeImage image;
    loaded = reader->LoadVolumeImage(image) && reader->ScanCatalog(image, table);
    session = std::make_unique<FileListSession>(&table, kSource, shelf.Factory(), host);
    session->Attach(&view);
    host.folderAnswer = destination.Path();
  }
  ~JobFixture() {
    // A worker held by a failed test is let go before the session waits for it.
    gate.Open();
    session.reset();
    script->beforeRead = nullptr;
  }

  ObservableCore& Core() { return static_cast<ObservableCore&>(session->Core()); }
  void Recover(std::vector<int> rows) {
    view.selected = std::move(rows);
    session->OnRecoverSelectedFiles();
  }
  std::string OutputPath(int i) const { return destination.Path((i % 2 ? "Disk/Docs/" : "Disk/") + FileName(i)); }
  bool Recovered(int i) const {
    const std::optional<std::string> written = ReadWholeFile(OutputPath(i));
    const auto& data = files[static_cast<std::size_t>(i)].data;
    return written && *written == std::string(data.begin(), data.end());
  }
  bool Exists(int i) const { return ReadWholeFile(OutputPath(i)).has_value(); }

  // Holds the worker when it starts reading the groups of file `i`.
  void HoldAtFile(int i) {
    gate.Close();
    ObservableCore* core = &Core();
    const std::string name = FileName(i);
    script->beforeRead = [this, core, name](std::uint32_t) {
      if (core->GetStatus() == name) gate.PassOrWait();
      return false;
    };
  }
  // Ticks the timer until `done` holds (or 10 s pass).
  template <typename Predicate>
  bool TickUntil(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      session->OnTimer();
    }
    return true;
  }

  RecordingHost host;
  DiscShelf shelf;
  std::shared_ptr<DiscScript> script;
  std::vector<DiscFile> files;
  FileTable table;
  bool loaded = false;
  ScratchFolder destination;
  ReadGate gate;
  RecordingView view;
  std::unique_ptr<FileListSession> session;
};

}  // namespace

TEST(FileListSession, RowsFollowTheTable) {
  ListFixture f(SampleTable());
  EXPECT_EQ(f.session.FileCountText(), "Total number of file(s): 4");
  ASSERT_EQ(f.session.RowCount(), 4u);
  const Texts paths = {"Disk:Docs:Letter", "Disk:Read Me", "Orphan", "Disk:Caf\xC3\xA9"};
  const Texts sizes = {"1300", "0", "7", "5"};
  for (std::size_t row = 0; row < 4; ++row) {
    EXPECT_EQ(f.session.PathText(row), paths[row]);
    EXPECT_EQ(f.session.SizeText(row), sizes[row]);
  }
  ListFixture empty({});
  EXPECT_EQ(empty.session.FileCountText(), "Total number of file(s): 0");
  EXPECT_EQ(empty.session.RowCount(), 0u);
}

// "Mac Roman names" changes the rows at once; both options are remembered
// for the next session and handed to the job.
TEST(FileListSession, TheOptionsChangeTheNamesAndAreRemembered) {
  RecordingHost host;
  DiscShelf shelf;
  const FileTable table = SampleTable();
  for (const bool on : {true, false}) {
    {
      FileListSession session(&table, "memory", shelf.Factory(), host);
      RecordingView view;
      session.Attach(&view);
      EXPECT_EQ(session.MacRomanNames(), !on);
      session.SetMacRomanNames(on);
      session.SetResourceForksAndDates(on);
      EXPECT_EQ(view.rowChanges, 1);
      EXPECT_EQ(session.PathText(3), on ? "Disk:Caf\xC3\x88" : "Disk:Caf\xC3\xA9");  // 0xE9 in Mac OS Roman: È
      EXPECT_EQ(session.JobOptions().macRoman, on);
      EXPECT_EQ(session.JobOptions().resourceForks, on);
    }
    FileListSession next(&table, "memory", shelf.Factory(), host);
    EXPECT_EQ(next.MacRomanNames(), on);
    EXPECT_EQ(next.ResourceForksAndDates(), on);
    EXPECT_FALSE(next.KeepGoing());  // not remembered
  }
}

TEST(FileListSession, SaveListWritesEveryRowWithCrLf) {
  for (const bool withRows : {true, false}) {
    ListFixture f(withRows ? SampleTable() : FileTable{});
    f.view.selected = {1};  // all rows are written, selected or not
    ScratchFolder dir;
    const std::string path = dir.Path("FileList.txt");
    std::FILE* old = std::fopen(path.c_str(), "wb");  // an existing file is truncated
    ASSERT_TRUE(old);
    std::fputs(std::string(5000, 'x').c_str(), old);
    std::fclose(old);
    f.host.saveAnswer = path;
    f.session.OnSaveList();
    EXPECT_EQ(f.host.saveRequests, Texts{"FileList.txt"});
    EXPECT_TRUE(f.host.messages.empty());
    EXPECT_EQ(ReadWholeFile(path), withRows ? std::string("Disk:Docs:Letter\t1300\r\nDisk:Read Me\t0\r\n"
                                                          "Orphan\t7\r\nDisk:Caf\xE9\t5\r\n")
                                            : std::string());
  }
}

TEST(FileListSession, SaveListCancelledOrUnopenable) {
  ListFixture f(SampleTable());
  f.session.OnSaveList();
  EXPECT_EQ(f.host.saveRequests.size(), 1u);
  EXPECT_TRUE(f.host.messages.empty());
  ScratchFolder dir;
  f.host.saveAnswer = dir.Path("no such folder/FileList.txt");
  f.session.OnSaveList();
  EXPECT_EQ(f.host.Texts(), Texts{msg::kFailedToOpenFile});
  EXPECT_EQ(f.host.messages.front().style, MessageStyle::kOk);
}

TEST(FileListSession, RecoverRefusesWithoutSelectionAndStartsNothingWhenTheBrowserIsCancelled) {
  ListFixture f(SampleTable());
  f.host.folderAnswer = "/tmp";
  f.session.OnRecoverSelectedFiles();
  EXPECT_EQ(f.host.Texts(), Texts{msg::kSelectFiles});
  EXPECT_EQ(f.host.messages.front().style, MessageStyle::kIconInformation);
  EXPECT_TRUE(f.host.folderRequests.empty());

  f.host.messages.clear();
  f.host.folderAnswer.reset();
  f.view.selected = {0};
  f.session.OnRecoverSelectedFiles();
  EXPECT_EQ(f.host.folderRequests, Texts{msg::kSelectFolderTitle});
  EXPECT_TRUE(f.host.messages.empty());
  EXPECT_FALSE(f.session.TimerActive());
  EXPECT_FALSE(f.view.timerRunning);
  EXPECT_TRUE(f.session.Core().GetStatus().empty());
}

TEST(FileListSession, RowsSevenTwoFiveRecoverTwoFiveSevenAndSayDoneOnce) {
  JobFixture f;
  ASSERT_TRUE(f.loaded);
  ASSERT_EQ(f.table.size(), std::size_t(kFiles));
  f.session->SetResourceForksAndDates(true);
  f.Recover({2, 5, 7});
  // The job's own copy of the selection, in row order, and the options.
  std::vector<std::string> names;
  for (const FileEntry& entry : g_vecRecoverFiles) names.push_back(entry.name);
  EXPECT_EQ(names, (Texts{"File 2", "File 5", "File 7"}));
  EXPECT_EQ(g_strDestFolder, JobDestination(f.destination.Path()));
  EXPECT_TRUE(g_recoveryOptions.resourceForks && !g_recoveryOptions.macRoman);
  EXPECT_TRUE(f.view.timerRunning);
  EXPECT_TRUE(f.view.progressShown);
  ASSERT_TRUE(RunTimer(*f.session));
  for (int tick = 0; tick < 3; ++tick) f.session->OnTimer();  // more ticks: still once
  EXPECT_EQ(f.host.Texts(), Texts{msg::kDone});
  EXPECT_EQ(f.host.messages.front().style, MessageStyle::kIconInformation);
  EXPECT_FALSE(f.view.timerRunning);
  EXPECT_FALSE(f.view.progressShown);
  EXPECT_TRUE(f.session->JobStatus().empty());
  for (int i = 0; i < kFiles; ++i) EXPECT_EQ(f.Recovered(i), i == 2 || i == 5 || i == 7) << i;
  // The full companion: four entries, the Mac name among them.
  const std::optional<std::string> companion = ReadWholeFile(f.destination.Path("Disk/._File 2"));
  ASSERT_TRUE(companion && companion->size() > 82);
  EXPECT_EQ(companion->substr(24, 2), std::string("\0\x04", 2));
}

TEST(FileListSession, TheStatusLineShowsTheFileInHandAndASecondStartIsRefused) {
  JobFixture f;
  f.HoldAtFile(3);
  f.Recover({1, 3});
  // File 1 is written on the job's writer thread meanwhile.
  ASSERT_TRUE(
      f.TickUntil([&] { return f.gate.HasWaiter() && f.session->JobStatus() == FileName(3) && f.Recovered(1); }));
  EXPECT_FALSE(f.Exists(3));
  f.session->OnRecoverSelectedFiles();
  EXPECT_EQ(f.host.Texts(), Texts{msg::kStillSaving});
  EXPECT_EQ(f.host.folderRequests.size(), 1u);
  f.gate.Open();
  ASSERT_TRUE(RunTimer(*f.session));
  EXPECT_EQ(f.host.Count(msg::kDone), 1);
  EXPECT_TRUE(f.Recovered(3));
}

TEST(FileListSession, ClosingDuringAJobStopsWithinTheFileInHand) {
  JobFixture f;
  f.HoldAtFile(1);
  f.Recover({0, 1, 2, 3, 4});
  ASSERT_TRUE(f.TickUntil([&] { return f.gate.HasWaiter(); }));
  // The worker goes on with file 1 only once the stop has been asked for.
  ObservableCore* core = &f.Core();
  std::thread release([&f, core] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!core->StopRequested() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    f.gate.Open();
  });
  f.session->StopBeforeClosing();
  release.join();
  EXPECT_EQ(f.host.Texts(), Texts{msg::kSavingTerminated});
  EXPECT_EQ(f.host.messages.front().style, MessageStyle::kOk);
  EXPECT_FALSE(f.view.timerRunning);
  EXPECT_EQ(f.Core().GetRecoveryOutcome().state, RecoveryState::kStopped);
  EXPECT_TRUE(f.Recovered(0));
  // The file in hand stops within its read and is not written.
  for (int i = 1; i <= 4; ++i) EXPECT_FALSE(f.Exists(i));
  // Closing once more, with nothing running, says nothing.
  f.session->StopBeforeClosing();
  EXPECT_EQ(f.host.messages.size(), 1u);
}

TEST(FileListSession, AFailedJobSaysSoAndAllowsANewStart) {
  for (const bool cannotOpen : {true, false}) {
    std::atomic<bool> failing{true};  // outlives the fixture and its worker
    JobFixture f;
    ObservableCore* core = &f.Core();
    if (cannotOpen) {
      f.script->opensAllowed = f.script->opens.load();
    } else {
      f.script->beforeRead = [core, &failing](std::uint32_t) { return failing && core->GetStatus() == "File 2"; };
    }
    f.Recover({0, 1, 2, 3});
    ASSERT_TRUE(RunTimer(*f.session));
    // A job that stopped at an unreadable sector says how to go on past it.
    EXPECT_EQ(f.host.Texts(), Texts{cannotOpen ? std::string(msg::kDumpFailed)
                                               : std::string(msg::kDumpFailed) + "\n\n" + text::kStoppedAtSectorAdvice})
        << cannotOpen;
    EXPECT_EQ(f.host.messages.front().style, MessageStyle::kOk);
    EXPECT_TRUE(f.session->JobStatus().empty());
    EXPECT_FALSE(f.session->IsJobRunning());
    EXPECT_EQ(f.Recovered(0), !cannotOpen);
    EXPECT_EQ(f.Recovered(1), !cannotOpen);
    EXPECT_FALSE(f.Exists(2));
    EXPECT_FALSE(f.Exists(3));

    // The next start is not refused, and it runs to its end.
    f.script->opensAllowed = -1;
    failing = false;
    f.session->OnRecoverSelectedFiles();
    ASSERT_TRUE(RunTimer(*f.session));
    EXPECT_EQ(f.host.Count(msg::kDone), 1);
    EXPECT_EQ(f.host.Count(msg::kStillSaving), 0);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(f.Recovered(i));
  }
}

TEST(FileListSession, GoingOnPastDamageSavesTheOthersAndReportsWhatWasLost) {
  std::atomic<bool> failing{true};  // outlives the fixture and its worker
  JobFixture f;
  ObservableCore* core = &f.Core();
  f.script->beforeRead = [core, &failing](std::uint32_t) { return failing && core->GetStatus() == "File 3"; };
  f.session->SetKeepGoing(true);
  f.Recover({0, 1, 2, 3, 4, 5});
  ASSERT_TRUE(RunTimer(*f.session));
  EXPECT_EQ(f.host.Texts(), Texts{msg::kDone});
  ASSERT_EQ(f.host.damageReports.size(), 1u);
  const DamageReport& report = f.host.damageReports.front();
  ASSERT_EQ(report.files.size(), 6u);
  EXPECT_EQ(report.files[3].path, "Disk:Docs:File 3");
  EXPECT_EQ(report.files[3].status, FileStatus::kLost);
  for (int i = 0; i <= 5; ++i) EXPECT_EQ(f.Recovered(i), i != 3) << i;
  EXPECT_FALSE(f.Exists(3));
  failing = false;
}

TEST(FileListSession, FindDamageMarksTheRowsTheUnreadableSectorsHit) {
  JobFixture f;
  // The first data sector of the group that holds file 5's data: its block table.
  {
    const std::unique_ptr<CKestrowCore> reader = f.shelf.Factory()(kSource);
    VolumeImage image;
    std::vector<std::int32_t> boundaries;
    MasterDirectoryBlock mdb;
    const std::int32_t sectors = reader->GetSectorCount();
    ASSERT_TRUE(reader->LoadVolumeImage(image) && reader->ReadPackTable(image, boundaries) &&
                reader->ReadMasterDirectoryBlock(image, mdb));
    const ByteRange range = ForkByteRange(f.table[5], static_cast<std::int32_t>(mdb.drAlBlkSiz()));
    const int base = GroupBaseSector(sectors, static_cast<int>(image.size()), static_cast<int>(boundaries.size()));
    f.script->badLbas.insert(static_cast<std::uint32_t>(base + 248 * FindGroupIndex(boundaries, range.start) + 1));
  }
  f.session->OnFindDamage();
  EXPECT_TRUE(f.session->IsScanRunning());
  EXPECT_FALSE(f.view.commandsEnabled);
  f.session->OnRecoverSelectedFiles();  // refused silently while the scan reads
  EXPECT_TRUE(f.host.folderRequests.empty());
  ASSERT_TRUE(RunTimer(*f.session));
  EXPECT_FALSE(f.session->IsScanRunning());
  EXPECT_TRUE(f.view.commandsEnabled);
  // The damage window, not a message box.
  EXPECT_TRUE(f.host.messages.empty());
  ASSERT_EQ(f.host.damageReports.size(), 1u);
  const std::string summary = DamageSummary(f.host.damageReports[0]);
  EXPECT_NE(summary.find("1 unreadable sector(s)"), std::string::npos) << summary;
  EXPECT_NE(summary.find("0 file(s) damaged, 1 lost."), std::string::npos) << summary;
  EXPECT_TRUE(f.session->HasDamageColumn());
  EXPECT_EQ(f.view.columnsAdded, 1);
  for (std::size_t row = 0; row < kFiles; ++row) EXPECT_EQ(f.session->DamageText(row), row == 5 ? "lost" : "");
}

// Thousands of scattered bad sectors keep the summary to a line or two.
TEST(FileListSession, DamageSummaryNamesTheFirstRunsAndCountsTheRest) {
  DamageReport report;
  for (std::int32_t k = 0; k < 1495; ++k) report.unreadableSectors.push_back({1000 + 3 * k, 1000 + 3 * k});
  const std::string summary = DamageSummary(report);
  EXPECT_EQ(summary.rfind("1495 unreadable sector(s): 1000, 1003, ", 0), 0u) << summary;
  EXPECT_NE(summary.find("and " + std::to_string(1495 - kSummarySpans) + " more"), std::string::npos) << summary;
  EXPECT_LT(summary.size(), 200u) << summary;
}

TEST(FileListSession, FilesThatCannotBeWrittenAreCountedAfterDone) {
  JobFixture f;
  // A plain file where the folder Docs should be: no file of it can be written.
  std::filesystem::create_directories(PathFromUtf8(f.destination.Path("Disk")));
  std::FILE* blocker = std::fopen(f.destination.Path("Disk/Docs").c_str(), "wb");
  ASSERT_TRUE(blocker);
  std::fclose(blocker);
  f.Recover({0, 1, 2, 3, 5});
  ASSERT_TRUE(RunTimer(*f.session));
  EXPECT_EQ(f.host.Texts(), (Texts{msg::kDone, "3 file(s) could not be written."}));
  EXPECT_EQ(f.host.messages.back().style, MessageStyle::kOk);
  EXPECT_TRUE(f.Recovered(0));
  EXPECT_TRUE(f.Recovered(2));
}

// Save Volume Image...: the image holds every file's bytes where the volume
// has them; a bad sector leaves no image, or with "Go on past damaged
// sectors" zeros there and the damage window.
TEST(FileListSession, SaveVolumeImageWritesTheVolumeOrSaysWhatWasLost) {
  struct Case {
    const char* name;
    bool badSector;
    bool keepGoing;
    bool written;
  };
  for (const Case& c : {Case{"clean", false, false, true}, Case{"bad sector", true, false, false},
                        Case{"bad sector, keep going", true, true, true}}) {
    SCOPED_TRACE(c.name);
    JobFixture f;
    const std::unique_ptr<CKestrowCore> reader = f.shelf.Factory()(kSource);
    VolumeImage image;
    std::vector<std::int32_t> boundaries;
    MasterDirectoryBlock mdb;
    ASSERT_TRUE(reader->LoadVolumeImage(image) && reader->ReadPackTable(image, boundaries) &&
                reader->ReadMasterDirectoryBlock(image, mdb));
    const auto range = [&](int i) {
      return ForkByteRange(f.table[static_cast<std::size_t>(i)], static_cast<std::int32_t>(mdb.drAlBlkSiz()));
    };
    if (c.badSector) {
      const int base = GroupBaseSector(reader->GetSectorCount(), static_cast<int>(image.size()),
                                       static_cast<int>(boundaries.size()));
      f.script->badLbas.insert(static_cast<std::uint32_t>(base + 248 * FindGroupIndex(boundaries, range(5).start) + 1));
    }
    f.session->SetListedVolume(ListedVolume{mdb.VolumeName(), mdb.drCrDate()});  // as Browse File List does
    const std::string path = f.destination.Path("Disk.hfs");
    f.host.saveAnswer = path;
    f.session->SetKeepGoing(c.keepGoing);
    f.session->OnSaveVolumeImage();
    EXPECT_EQ(f.host.saveRequests, Texts{"Volume.hfs"});  // the test disc's volume has no name
    EXPECT_TRUE(f.session->IsImageRunning());
    EXPECT_FALSE(f.view.commandsEnabled);
    ASSERT_TRUE(RunTimer(*f.session));
    EXPECT_TRUE(f.view.commandsEnabled);
    const std::optional<std::string> written = ReadWholeFile(path);
    ASSERT_EQ(written.has_value(), c.written);
    EXPECT_EQ(f.host.Count(msg::kDone), c.written ? 1 : 0);
    EXPECT_EQ(f.host.damageReports.size(), c.keepGoing ? 1u : 0u);
    if (!written) continue;
    for (int i = 0; i < kFiles; ++i) {
      const auto& data = f.files[static_cast<std::size_t>(i)].data;
      const std::string bytes = written->substr(static_cast<std::size_t>(range(i).start), data.size());
      const bool lost = c.badSector && i == 5;
      EXPECT_EQ(bytes == std::string(data.begin(), data.end()), !lost) << i;
      if (lost) {
        EXPECT_EQ(bytes, std::string(data.size(), '\0'));
      }
    }
    if (c.keepGoing) {
      const DamageReport& report = f.host.damageReports.front();
      ASSERT_TRUE(report.volumeImage.has_value());
      EXPECT_FALSE(report.volumeImage->lostRanges.empty());
      ASSERT_FALSE(report.files.empty());
      EXPECT_EQ(report.files.front().path, "Disk:Docs:File 5");
    }
  }
}
