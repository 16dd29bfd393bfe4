// Recovery from the Qt face's file list dialog: closing it during a job in
// each of its ways, the damage report window, and the damage column.
#include <QCheckBox>
#include <QLabel>
#include <QScreen>
#include <QDir>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <thread>

#include <QProgressBar>
#include <QTreeWidget>

#include "GuiTestSupport.h"
#include "app/QtHost.h"
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

QString FileName(int i) { return QStringLiteral("File %1").arg(i); }

// The list dialog over the sample disc, read as "Browse File List..." reads it.
struct RecoveryFixture {
  RecoveryFixture() : files(NumberedFiles(kFiles)) {
    script = shelf.Put(kSource, RecoverableDisc(files));
    const std::unique_ptr<CKestrowCore> reader = shelf.Factory()(kSource);
    VolumeImage image;
    loaded = reader->LoadVolumeImage(image) && reader->ScanCatalog(image, table);
    session = std::make_unique<app::FileListSession>(&table, kSource, shelf.Factory(), qtHost);
    dialog = std::make_unique<CFileListDlg>(*session);
    host.folderAnswer = destination.path();
  }
  ~RecoveryFixture() {
    // A worker held by a failed test is let go before the dialog waits for it.
    gate.Open();
    dialog.reset();
    session.reset();
    script->beforeRead = nullptr;
  }

  ObservableCore& Core() { return static_cast<ObservableCore&>(session->Core()); }

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
  QtHost qtHost;
  std::unique_ptr<app::FileListSession> session;
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
  void closingDuringAJobStopsWithinTheFileInHand_data() {
    QTest::addColumn<int>("way");
    QTest::newRow("close box") << 0;
    QTest::newRow("Close button") << 1;
    QTest::newRow("Escape") << 2;
  }
  void closingDuringAJobStopsWithinTheFileInHand() {
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
    // The file in hand stops within its read and is not written.
    for (int i = 1; i <= 4; ++i) QVERIFY(!f.Exists(i));
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
    QString summary;
    f.host.onModal = [&summary](QDialog& dialog) {
      summary = dynamic_cast<CDamageReportDlg&>(dialog).findChild<QLabel*>()->text();
      return static_cast<int>(QDialog::Accepted);
    };
    QTRY_VERIFY_WITH_TIMEOUT(!f.dialog->IsScanRunning(), 10000);
    // The damage window, not a message box.
    QVERIFY(f.host.messages.empty());
    QCOMPARE(f.host.modalDialogs.size(), 1);
    QVERIFY(summary.contains(QStringLiteral("1 unreadable sector(s)")));
    FileListModel* model = f.dialog->Model();
    QCOMPARE(model->columnCount(), 3);
    for (int row = 0; row < kFiles; ++row) {
      QCOMPARE(model->index(row, FileListModel::kDamageColumn).data().toString(),
               row == 5 ? QStringLiteral("lost") : QString());
    }
    QCOMPARE(f.dialog->SelectedRows(), std::vector<int>{1});  // the selection stays
    QVERIFY(f.dialog->FindDamageButton()->isEnabled());
  }

  // Thousands of rows: the window keeps its own size, within the screen, and
  // its table grows with it; the status and lost-bytes columns fit their texts.
  void damageWindowTakesThousandsOfRows() {
    const DamageReport report = apptest::ManyDamagedFiles(5000);
    CDamageReportDlg dialog(report);
    dialog.show();
    QCOMPARE(dialog.FileList()->topLevelItemCount(), 5000);
    const QRect screen = dialog.screen()->availableGeometry();
    QVERIFY(dialog.frameGeometry().height() <= screen.height());
    QVERIFY(dialog.frameGeometry().width() <= screen.width());
    QVERIFY(dialog.findChild<QLabel*>()->text().size() < 200);
    const QFontMetrics metrics(dialog.FileList()->font());
    QVERIFY(dialog.FileList()->columnWidth(1) >= metrics.horizontalAdvance(QStringLiteral("damaged")));
    QVERIFY(dialog.FileList()->columnWidth(2) >=
            metrics.horizontalAdvance(dialog.FileList()->topLevelItem(4999)->text(2)));
    const int tableHeight = dialog.FileList()->height();
    dialog.resize(dialog.width() + 100, dialog.height() + 100);
    QTRY_COMPARE(dialog.FileList()->height(), tableHeight + 100);
  }

  // The file list grows with its window.
  void fileListGrowsWithItsWindow() {
    RecoveryFixture f;
    f.dialog->show();
    const QSize list = f.dialog->findChild<QTreeView*>()->size();
    f.dialog->resize(f.dialog->width() + 120, f.dialog->height() + 80);
    QTRY_COMPARE(f.dialog->findChild<QTreeView*>()->size(), list + QSize(120, 80));
  }
};

QTEST_MAIN(RecoveryTest)
#include "RecoveryTest.moc"
