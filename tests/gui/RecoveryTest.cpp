// Recovery from the file list dialog: the selection, the job with its
// status line and "Done!", a job that fails, and closing during a job.
#include <QCheckBox>
#include <QDir>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <thread>

#include <QCheckBox>
#include <QProgressBar>
#include <QTreeWidget>

#include "GuiTestSupport.h"
#include "filelist/DamageReportDlg.h"
#include "filelist/FileListDlg.h"
#include "filelist/FileListModel.h"
#include "recovery/DataLocation.h"
#include "recovery/RecoveryJob.h"
#include "text/Messages.h"

using namespace kestrow;
using namespace kestrow::gui;
using namespace kestrow::guitest;

namespace {

constexpr char kSource[] = "/dev/sr0";
constexpr int kFiles = 8;

// File i: "File i", in Disk:Docs: for odd i and in Disk: for even i, with
// contents of its own spanning one to four 8 KiB blocks.
std::vector<DiscFile> SampleFiles() {
  std::vector<DiscFile> files;
  for (int i = 0; i < kFiles; ++i) {
    DiscFile file{i % 2 ? "Docs" : "", "File " + std::to_string(i), {}};
    file.data.resize(static_cast<std::size_t>(3000 + 7000 * (i % 4)));
    for (std::size_t k = 0; k < file.data.size(); ++k) file.data[k] = static_cast<std::uint8_t>((k * 7 + i * 13) % 251);
    files.push_back(std::move(file));
  }
  return files;
}

QString FileName(int i) { return QStringLiteral("File %1").arg(i); }

// The list dialog over the sample disc, read as "Browse File List..." reads it.
struct RecoveryFixture {
  RecoveryFixture() : files(SampleFiles()) {
    script = shelf.Put(kSource, RecoverableDisc(files));
    const std::unique_ptr<CKestrowCore> reader = shelf.Factory()(kSource);
    VolumeImage image;
    loaded = reader->LoadVolumeImage(image) && reader->ScanCatalog(image, table);
    dialog = std::make_unique<CFileListDlg>(&table, kSource, shelf.Factory());
    host.folderAnswer = destination.path();
  }
  ~RecoveryFixture() {
    // A worker held by a failed test is let go before the dialog waits for it.
    gate.Open();
    dialog.reset();
    script->beforeRead = nullptr;
  }

  ObservableCore& Core() { return static_cast<ObservableCore&>(dialog->Core()); }

  void Select(std::initializer_list<int> rows) {
    QTreeView* list = dialog->FileList();
    list->selectionModel()->clearSelection();
    for (const int row : rows) {
      list->selectionModel()->select(list->model()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }

  // Where file i is written, and whether it holds its data.
  QString OutputPath(int i) const {
    const QString folder = i % 2 ? QStringLiteral("Disk/Docs/") : QStringLiteral("Disk/");
    return destination.filePath(folder + FileName(i));
  }
  bool Recovered(int i) const {
    const std::optional<std::string> written = ReadWholeFile(OutputPath(i));
    const auto& data = files[static_cast<std::size_t>(i)].data;
    return written && *written == std::string(data.begin(), data.end());
  }
  bool Exists(int i) const { return QFile::exists(OutputPath(i)); }

  // Holds the worker when it starts reading the groups of file `i`.
  void HoldAtFile(int i) {
    gate.Close();
    ObservableCore* core = &Core();
    const std::string name = FileName(i).toStdString();
    script->beforeRead = [this, core, name](std::uint32_t) {
      if (core->GetStatus() == name) gate.PassOrWait();
      return false;
    };
  }

  RecordingHost host;
  DiscShelf shelf;
  std::shared_ptr<DiscScript> script;
  std::vector<DiscFile> files;
  FileTable table;
  bool loaded = false;
  QTemporaryDir destination;
  ReadGate gate;
  std::unique_ptr<CFileListDlg> dialog;
};

QString Text(const char* text) { return QString::fromUtf8(text); }

// The first data sector of the group that holds file i's data (its block table).
std::uint32_t TableSectorOf(const FileTable& table, DiscShelf& shelf, int i) {
  const std::unique_ptr<CKestrowCore> reader = shelf.Factory()(kSource);
  VolumeImage image;
  std::vector<std::int32_t> boundaries;
  MasterDirectoryBlock mdb;
  const std::int32_t sectors = reader->GetSectorCount();
  if (!reader->LoadVolumeImage(image) || !reader->ReadPackTable(image, boundaries) ||
      !reader->ReadMasterDirectoryBlock(image, mdb)) {
    return 0;
  }
  const ByteRange range = ForkByteRange(table[static_cast<std::size_t>(i)], static_cast<std::int32_t>(mdb.drAlBlkSiz()));
  const int base = GroupBaseSector(sectors, static_cast<int>(image.size()), static_cast<int>(boundaries.size()));
  return static_cast<std::uint32_t>(base + 248 * FindGroupIndex(boundaries, range.start) + 1);
}

}  // namespace

class RecoveryTest : public QObject {
  Q_OBJECT

 private slots:
  void rowsSevenTwoFiveRecoverTwoFiveSevenAndSayDoneOnce() {
    RecoveryFixture f;
    QVERIFY(f.loaded);
    QCOMPARE(f.table.size(), std::size_t(kFiles));
    f.Select({7, 2, 5});
    f.dialog->OnRecoverSelectedFiles();
    QCOMPARE(f.host.folderRequests, QStringList{Text(msg::kSelectFolderTitle)});
    // The job's own copy of the selection, in row order.
    std::vector<std::string> names;
    for (const FileEntry& entry : g_vecRecoverFiles) names.push_back(entry.name);
    QCOMPARE(names, (std::vector<std::string>{"File 2", "File 5", "File 7"}));
    QCOMPARE(g_strDestFolder, QFile::encodeName(f.destination.path() + QLatin1Char('/')).toStdString());
    QVERIFY(f.dialog->JobTimer().isActive());

    QTRY_COMPARE_WITH_TIMEOUT(f.host.Count(msg::kDone), 1, 10000);
    QTest::qWait(600);  // three more ticks: still once
    QCOMPARE(f.host.Texts(), QStringList{Text(msg::kDone)});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kIconInformation);
    QVERIFY(!f.dialog->JobTimer().isActive());
    QVERIFY(f.dialog->JobStatus().isEmpty());
    for (int i = 0; i < kFiles; ++i) QCOMPARE(f.Recovered(i), i == 2 || i == 5 || i == 7);
  }

  void theOptionsGoToTheJob() {
    RecoveryFixture f;
    f.dialog->ResourceForksAndDates()->setChecked(true);
    f.Select({2});
    f.dialog->OnRecoverSelectedFiles();
    QVERIFY(g_recoveryOptions.resourceForks && !g_recoveryOptions.macRoman);
    QTRY_COMPARE_WITH_TIMEOUT(f.host.Count(msg::kDone), 1, 10000);
    QVERIFY(f.Recovered(2));
    // The full companion: four entries, the Mac name among them.
    const std::optional<std::string> companion = ReadWholeFile(f.destination.filePath(QStringLiteral("Disk/._File 2")));
    QVERIFY(companion && companion->size() > 82);
    QCOMPARE(companion->substr(24, 2), std::string("\0\x04", 2));
    f.dialog->ResourceForksAndDates()->setChecked(false);  // as the next test expects
  }

  void theStatusLineShowsTheFileInHand() {
    RecoveryFixture f;
    f.HoldAtFile(3);
    f.Select({1, 3});
    f.dialog->OnRecoverSelectedFiles();
    QTRY_VERIFY(f.gate.HasWaiter());
    QTRY_COMPARE(f.dialog->JobStatus(), FileName(3));  // on a tick of the timer
    QVERIFY(f.Recovered(1));
    QVERIFY(!f.Exists(3));
    // A second start is refused while the job runs, and the job goes on.
    f.dialog->OnRecoverSelectedFiles();
    QCOMPARE(f.host.Texts(), QStringList{Text(msg::kStillSaving)});
    QCOMPARE(f.host.folderRequests.size(), 1);
    f.gate.Open();
    QTRY_COMPARE_WITH_TIMEOUT(f.host.Count(msg::kDone), 1, 10000);
    QVERIFY(f.Recovered(3));
  }

  void closingDuringAJobStopsAfterTheFileInHand_data() {
    QTest::addColumn<int>("way");
    QTest::newRow("close box") << 0;
    QTest::newRow("Close button") << 1;
    QTest::newRow("Escape") << 2;
  }
  void closingDuringAJobStopsAfterTheFileInHand() {
    QFETCH(int, way);
    RecoveryFixture f;
    f.dialog->show();
    f.HoldAtFile(1);
    f.Select({0, 1, 2, 3, 4});
    f.dialog->OnRecoverSelectedFiles();
    QTRY_VERIFY(f.gate.HasWaiter());
    // The worker goes on with file 1 only once the stop has been asked for.
    ObservableCore* core = &f.Core();
    std::thread release([&f, core] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (!core->StopRequested() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      f.gate.Open();
    });
    if (way == 0) {
      f.dialog->close();
    } else if (way == 1) {
      for (QPushButton* button : f.dialog->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Close")) button->click();
      }
    } else {
      QTest::keyClick(f.dialog.get(), Qt::Key_Escape);
    }
    release.join();
    QVERIFY(!f.dialog->isVisible());
    QCOMPARE(f.host.Texts(), QStringList{Text(msg::kSavingTerminated)});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kOk);
    QCOMPARE(f.Core().GetRecoveryOutcome().state, RecoveryState::kStopped);
    QVERIFY(f.Recovered(0));
    QVERIFY(f.Recovered(1));  // the file in hand is finished
    for (int i = 2; i <= 4; ++i) QVERIFY(!f.Exists(i));
  }

  void aFailedJobSaysSoAndAllowsANewStart_data() {
    QTest::addColumn<bool>("cannotOpen");
    QTest::newRow("drive cannot be opened") << true;
    QTest::newRow("group of the third file unreadable") << false;
  }
  void aFailedJobSaysSoAndAllowsANewStart() {
    QFETCH(bool, cannotOpen);
    std::atomic<bool> failing{true};  // outlives the fixture and its worker
    RecoveryFixture f;
    ObservableCore* core = &f.Core();
    if (cannotOpen) {
      f.script->opensAllowed = f.script->opens.load();
    } else {
      f.script->beforeRead = [core, &failing](std::uint32_t) { return failing && core->GetStatus() == "File 2"; };
    }
    f.Select({0, 1, 2, 3});
    f.dialog->OnRecoverSelectedFiles();
    QTRY_COMPARE_WITH_TIMEOUT(f.host.Count(msg::kDumpFailed), 1, 10000);
    QCOMPARE(f.host.Texts(), QStringList{Text(msg::kDumpFailed)});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kOk);
    QVERIFY(!f.dialog->JobTimer().isActive());
    QVERIFY(f.dialog->JobStatus().isEmpty());
    QVERIFY(!f.dialog->IsJobRunning());
    QCOMPARE(f.Recovered(0), !cannotOpen);
    QCOMPARE(f.Recovered(1), !cannotOpen);
    QVERIFY(!f.Exists(2));
    QVERIFY(!f.Exists(3));

    // The next start is not refused, and it runs to its end.
    f.script->opensAllowed = -1;
    failing = false;
    f.dialog->OnRecoverSelectedFiles();
    QTRY_COMPARE_WITH_TIMEOUT(f.host.Count(msg::kDone), 1, 10000);
    QCOMPARE(f.host.Count(msg::kStillSaving), 0);
    for (int i = 0; i < 4; ++i) QVERIFY(f.Recovered(i));
  }

  void goingOnPastDamageSavesTheOthersAndShowsWhatWasLost() {
    std::atomic<bool> failing{true};  // outlives the fixture and its worker
    RecoveryFixture f;
    QTemporaryDir reports;
    ObservableCore* core = &f.Core();
    f.script->beforeRead = [core, &failing](std::uint32_t) { return failing && core->GetStatus() == "File 3"; };
    f.host.saveAnswer = reports.filePath(QStringLiteral("report.json"));
    QStringList shown;
    f.host.onModal = [&shown](QDialog& dialog) {
      auto& report = dynamic_cast<CDamageReportDlg&>(dialog);
      for (int row = 0; row < report.FileList()->topLevelItemCount(); ++row) {
        shown << report.FileList()->topLevelItem(row)->text(0) + QLatin1Char('|') + report.FileList()->topLevelItem(row)->text(1);
      }
      report.OnSaveReport();
      return static_cast<int>(QDialog::Accepted);
    };
    f.dialog->KeepGoingBox()->setChecked(true);
    f.Select({0, 1, 2, 3, 4, 5});
    f.dialog->OnRecoverSelectedFiles();
    QVERIFY(!f.dialog->ProgressBar()->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(f.host.modalDialogs.size(), 1, 10000);
    QCOMPARE(f.host.Texts(), QStringList{Text(msg::kDone)});
    QVERIFY(f.dialog->ProgressBar()->isHidden());
    QCOMPARE(shown, QStringList{QStringLiteral("Disk:Docs:File 3|lost")});
    const std::optional<std::string> json = ReadWholeFile(f.host.saveAnswer.value());
    QVERIFY(json && json->find("\"path\": \"Disk:Docs:File 3\", \"status\": \"lost\"") != std::string::npos);
    for (int i = 0; i <= 5; ++i) QCOMPARE(f.Recovered(i), i != 3);
    QVERIFY(!f.Exists(3));
    failing = false;
  }

  void findDamageMarksTheRowsTheUnreadableSectorsHit() {
    RecoveryFixture f;
    f.script->badLbas.insert(TableSectorOf(f.table, f.shelf, 5));
    f.Select({1});
    f.dialog->OnFindDamage();
    QVERIFY(f.dialog->IsScanRunning());
    QVERIFY(!f.dialog->FindDamageButton()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!f.dialog->IsScanRunning(), 10000);
    QCOMPARE(f.host.messages.size(), std::size_t(1));
    QVERIFY(f.host.messages.front().text.contains(QStringLiteral("1 unreadable sector(s)")));
    FileListModel* model = f.dialog->Model();
    QCOMPARE(model->columnCount(), 3);
    for (int row = 0; row < kFiles; ++row) {
      QCOMPARE(model->index(row, FileListModel::kDamageColumn).data().toString(),
               row == 5 ? QStringLiteral("lost") : QString());
    }
    QCOMPARE(f.dialog->SelectedRows(), std::vector<int>{1});  // the selection stays
    QVERIFY(f.dialog->FindDamageButton()->isEnabled());
  }

  void filesThatCannotBeWrittenAreCountedAfterDone() {
    RecoveryFixture f;
    // A plain file where the folder Docs should be: no file of it can be written.
    QVERIFY(QDir(f.destination.path()).mkpath(QStringLiteral("Disk")));
    QFile blocker(f.destination.filePath(QStringLiteral("Disk/Docs")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    f.Select({0, 1, 2, 3, 5});
    f.dialog->OnRecoverSelectedFiles();
    QTRY_COMPARE_WITH_TIMEOUT(f.host.messages.size(), std::size_t(2), 10000);
    QCOMPARE(f.host.Texts(), (QStringList{Text(msg::kDone), QStringLiteral("3 file(s) could not be written.")}));
    QCOMPARE(f.host.messages.back().style, MessageStyle::kOk);
    QVERIFY(f.Recovered(0));
    QVERIFY(f.Recovered(2));
  }
};

QTEST_MAIN(RecoveryTest)
#include "RecoveryTest.moc"
