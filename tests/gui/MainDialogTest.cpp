// The main dialog: the drive list, the drive-selection step, and the four
// commands with every message they can end in.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "GuiTestSupport.h"
#include "app/AboutDlg.h"
#include "app/ClickableLabel.h"
#include "app/KestrowDiagDlg.h"
#include "filelist/FileListDlg.h"
#include "rawtools/SelectSectorDlg.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

using namespace kestrow;
using namespace kestrow::gui;
using namespace kestrow::guitest;

namespace {

constexpr char kDrive[] = "/dev/sr0";

// The main dialog over the discs of a shelf, with `drives` as the machine's
// optical drives.
struct MainFixture {
  explicit MainFixture(std::vector<std::string> drives = {kDrive}, QStringList images = {})
      : dialog(images, shelf.Factory(), [drives] { return drives; }) {}

  void Click(const QString& buttonText) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
      if (button->text() == buttonText) {
        button->click();
        return;
      }
    }
    QFAIL(qPrintable(QStringLiteral("no button ") + buttonText));
  }

  RecordingHost host;
  DiscShelf shelf;
  CKestrowDiagDlg dialog;
};

const QStringList kCommands = {QStringLiteral("Check Format..."), QStringLiteral("Browse File List..."),
                               QStringLiteral("Get Volume Size..."), QStringLiteral("Physical Dump...")};

QString Text(const char* text) { return QString::fromUtf8(text); }

std::string Sectors(const DiscShelf& shelf, std::int32_t firstLba, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    const std::vector<std::uint8_t> raw = shelf.RawSector(kDrive, firstLba + i);
    bytes.append(raw.begin(), raw.end());
  }
  return bytes;
}

}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void noDriveIsToldAtStartAndByEveryCommand() {
    MainFixture f(std::vector<std::string>{});
    f.dialog.show();
    QTRY_COMPARE(f.host.Texts(), QStringList{Text(msg::kNoDrive)});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kOk);
    for (const QString& command : kCommands) {
      f.host.messages.clear();
      f.Click(command);
      QCOMPARE(f.host.Texts(), QStringList{Text(msg::kNoDrive)});
    }
    QVERIFY(f.host.saveRequests.isEmpty());
    QVERIFY(f.host.modalDialogs.isEmpty());
  }

  void drivesComeFirstAndImagesAreSelected() {
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.bin"));
    const QString b = dir.filePath(QStringLiteral("b.iso"));
    MainFixture f({"/dev/sr0", "/dev/sr1"}, {a, b});
    QComboBox* list = f.dialog.DriveList();
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->itemText(0), QStringLiteral("/dev/sr0"));
    QCOMPARE(list->itemText(1), QStringLiteral("/dev/sr1"));
    QCOMPARE(list->itemText(2), QStringLiteral("a.bin"));
    QCOMPARE(list->currentIndex(), 2);
    f.dialog.show();
    QTest::qWait(20);
    QVERIFY(f.host.messages.empty());  // a list with entries needs no message

    // "Open Image..." adds an image once and selects it.
    f.host.openAnswer = b;
    f.Click(QStringLiteral("Open Image..."));
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->currentIndex(), 3);
    const QString c = dir.filePath(QStringLiteral("c.bin"));
    f.host.openAnswer = c;
    f.Click(QStringLiteral("Open Image..."));
    QCOMPARE(list->count(), 5);
    QCOMPARE(list->currentText(), QStringLiteral("c.bin"));
    // The commands read the selected image.
    f.shelf.Put(QFile::encodeName(c).toStdString(), PlainDisc(600));
    f.Click(QStringLiteral("Get Volume Size..."));
    QCOMPARE(f.host.Texts(), QStringList{QStringLiteral("Total: 600 sector(s), 1 MB\n")});
  }

  void refusedDisc_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("sectors");  // 0: the drive cannot be opened
    for (const QString& command : kCommands) {
      QTest::addRow("%s cannot open", qPrintable(command)) << command << 0;
      QTest::addRow("%s one sector", qPrintable(command)) << command << 1;
    }
  }
  void refusedDisc() {
    QFETCH(QString, command);
    QFETCH(int, sectors);
    MainFixture f;
    if (sectors > 0) f.shelf.Put(kDrive, PlainDisc(static_cast<std::uint32_t>(sectors), "Trkb"));
    f.Click(command);
    QCOMPARE(f.host.Texts(), QStringList{Text(msg::kNoValidDisc)});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kOk);
    QVERIFY(f.host.saveRequests.isEmpty());
    QVERIFY(f.host.modalDialogs.isEmpty());
  }

  void checkFormat_data() {
    QTest::addColumn<int>("sectors");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<bool>("lastSectorBad");
    QTest::addColumn<bool>("burned");
    QTest::newRow("signature") << 40 << "Trkb" << false << true;
    QTest::newRow("two sectors, checked at LBA 1") << 2 << "Trkb" << false << true;
    QTest::newRow("capitals") << 40 << "TRKB" << false << false;
    QTest::newRow("fourth byte differs") << 40 << "Trkc" << false << false;
    QTest::newRow("no signature") << 40 << "" << false << false;
    QTest::newRow("last sector unreadable") << 40 << "Trkb" << true << false;
  }
  void checkFormat() {
    QFETCH(int, sectors);
    QFETCH(QString, signature);
    QFETCH(bool, lastSectorBad);
    QFETCH(bool, burned);
    MainFixture f;
    const auto script = f.shelf.Put(kDrive, PlainDisc(static_cast<std::uint32_t>(sectors), signature.toStdString()));
    if (lastSectorBad) script->badLbas.insert(static_cast<std::uint32_t>(sectors - 1));
    f.Click(QStringLiteral("Check Format..."));
    QCOMPARE(f.host.Texts(), QStringList{Text(burned ? msg::kBurnedByKestrow : msg::kNotBurnedByKestrow)});
    QCOMPARE(f.host.messages.front().style, burned ? MessageStyle::kIconInformation : MessageStyle::kOk);
  }

  // A disc written track-at-once: run-out sectors (unreadable or empty)
  // after the trailer's sector; up to 16 of them are looked past.
  void checkFormatLooksBeforeRunOutSectors_data() {
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("unreadable");
    QTest::addColumn<bool>("burned");
    QTest::newRow("two unreadable") << 2 << true << true;
    QTest::newRow("16 empty") << 16 << false << true;
    QTest::newRow("17 empty") << 17 << false << false;
  }
  void checkFormatLooksBeforeRunOutSectors() {
    QFETCH(int, after);
    QFETCH(bool, unreadable);
    QFETCH(bool, burned);
    MainFixture f;
    const std::uint32_t trailer = 30;
    std::vector<std::uint8_t> disc = PlainDisc(trailer + 1, "Trkb");
    disc.resize(disc.size() + static_cast<std::size_t>(after) * format::kUserDataSize, 0);
    const auto script = f.shelf.Put(kDrive, std::move(disc));
    for (int i = 1; unreadable && i <= after; ++i) script->badLbas.insert(trailer + static_cast<std::uint32_t>(i));
    f.Click(QStringLiteral("Check Format..."));
    QCOMPARE(f.host.Texts(), QStringList{Text(burned ? msg::kBurnedByKestrow : msg::kNotBurnedByKestrow)});
  }

  void volumeSize_data() {
    QTest::addColumn<int>("sectors");
    QTest::addColumn<QString>("text");
    QTest::newRow("smallest") << 2 << "Total: 2 sector(s), 4 KB\n";
    QTest::newRow("last in KB") << 512 << "Total: 512 sector(s), 1024 KB\n";
    QTest::newRow("first in MB") << 513 << "Total: 513 sector(s), 1 MB\n";
  }
  void volumeSize() {
    QFETCH(int, sectors);
    QFETCH(QString, text);
    MainFixture f;
    f.shelf.Put(kDrive, PlainDisc(static_cast<std::uint32_t>(sectors)));
    f.Click(QStringLiteral("Get Volume Size..."));
    QCOMPARE(f.host.Texts(), QStringList{text});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kIconInformation);
  }

  void browseFailure_data() {
    QTest::addColumn<int>("disc");  // 0 plain, 1 signature only, 2 no MDB, 3 trailer unreadable
    QTest::addColumn<bool>("searchAnswer");  // to the question of going on past the damage
    QTest::addColumn<QString>("text");
    QTest::newRow("no signature") << 0 << true << Text(msg::kNotBurnedByKestrow);
    QTest::newRow("signature, empty volume area") << 1 << true << Text(msg::kUnknownFormat);
    QTest::newRow("no master directory block") << 2 << true << Text(msg::kUnknownFormat);
    QTest::newRow("last sector unreadable, search declined") << 3 << false << Text(msg::kNotBurnedByKestrow);
    QTest::newRow("last sector unreadable, no packed data") << 3 << true << Text(msg::kNotBurnedByKestrow);
  }
  void browseFailure() {
    QFETCH(int, disc);
    QFETCH(bool, searchAnswer);
    QFETCH(QString, text);
    MainFixture f;
    std::vector<std::uint8_t> bytes = disc == 0   ? PlainDisc(64)
                                      : disc == 1 ? PlainDisc(64, "Trkb")
                                      : disc == 2 ? DiscWithoutMdb()
                                                  : BrowsableDisc();
    const std::uint32_t sectors = static_cast<std::uint32_t>(bytes.size() / format::kUserDataSize);
    const auto script = f.shelf.Put(kDrive, std::move(bytes));
    if (disc == 3) script->badLbas.insert(sectors - 1);
    f.host.yesAnswer = searchAnswer;
    f.Click(QStringLiteral("Browse File List..."));
    // Only a disc whose end could not be read offers the search.
    QCOMPARE(f.host.questions.size(), disc == 3 ? 1 : 0);
    QCOMPARE(f.host.Texts(), QStringList{text});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kOk);
    QVERIFY(f.host.modalDialogs.isEmpty());
  }

  // The trailer and the volume area gone: the list comes from the packed
  // copy of the volume, and the dialog's job goes on past the damage.
  void browseAndRecoverADiscWhoseEndIsGone() {
    MainFixture f;
    std::vector<DiscFile> files = {{"", "One", std::vector<std::uint8_t>(3000, 0x11)},
                                   {"Docs", "Two", std::vector<std::uint8_t>(20000, 0x22)}};
    for (std::size_t k = 0; k < files[1].data.size(); ++k) files[1].data[k] = static_cast<std::uint8_t>(k % 253);
    std::vector<std::uint8_t> bytes = RecoverableDisc(files);
    const std::uint32_t sectors = static_cast<std::uint32_t>(bytes.size() / format::kUserDataSize);
    const auto script = f.shelf.Put(kDrive, std::move(bytes));
    for (std::uint32_t lba = sectors - 3; lba < sectors; ++lba) script->badLbas.insert(lba);
    QTemporaryDir out;
    f.host.folderAnswer = out.path();
    f.host.yesAnswer = true;
    QStringList rows;
    bool keptGoing = false;
    bool scanned = false;
    bool done = false;
    f.host.onModal = [&](QDialog& dialog) {
      auto* list = qobject_cast<CFileListDlg*>(&dialog);
      if (!list) return int(QDialog::Rejected);  // the damage report
      const QAbstractItemModel* model = list->FileList()->model();
      for (int r = 0; r < model->rowCount(); ++r) rows << model->index(r, 0).data().toString();
      keptGoing = list->KeepGoingBox()->isChecked();
      list->OnFindDamage();
      scanned = QTest::qWaitFor([&] { return !list->IsScanRunning(); }, 10000);
      list->FileList()->selectAll();
      list->OnRecoverSelectedFiles();
      done = QTest::qWaitFor([&] { return f.host.Count(msg::kDone) == 1; }, 10000);
      return int(QDialog::Accepted);
    };
    f.Click(QStringLiteral("Browse File List..."));
    QCOMPARE(f.host.questions.size(), 1);
    QCOMPARE(rows, (QStringList{QStringLiteral("Disk:One"), QStringLiteral("Disk:Docs:Two")}));
    QVERIFY(keptGoing);
    // Find Damage goes on past the same damage: it names the sectors, no file is hit.
    QVERIFY(scanned);
    QVERIFY(!f.host.messages.empty());
    QVERIFY2(f.host.messages.front().text.contains(QStringLiteral("unreadable sector(s)")),
             qPrintable(f.host.messages.front().text));
    QVERIFY(done);
    const std::optional<std::string> one = ReadWholeFile(out.filePath(QStringLiteral("Disk/One")));
    const std::optional<std::string> two = ReadWholeFile(out.filePath(QStringLiteral("Disk/Docs/Two")));
    QCOMPARE(one, std::optional<std::string>(std::string(files[0].data.begin(), files[0].data.end())));
    QCOMPARE(two, std::optional<std::string>(std::string(files[1].data.begin(), files[1].data.end())));
  }

  void browseShowsEveryFileInCatalogueOrder() {
    MainFixture f;
    f.shelf.Put(kDrive, BrowsableDisc());
    QStringList rows;
    QString count;
    f.host.onModal = [&](QDialog& dialog) {
      auto* list = qobject_cast<CFileListDlg*>(&dialog);
      if (!list) return int(QDialog::Rejected);
      const QAbstractItemModel* model = list->FileList()->model();
      for (int r = 0; r < model->rowCount(); ++r) {
        rows << model->index(r, 0).data().toString() + QLatin1Char('|') + model->index(r, 1).data().toString();
      }
      count = list->FileCount();
      return int(QDialog::Accepted);
    };
    f.Click(QStringLiteral("Browse File List..."));
    QVERIFY(f.host.messages.empty());
    QCOMPARE(f.host.modalDialogs, QStringList{QStringLiteral("kestrow::gui::CFileListDlg")});
    QCOMPARE(count, QStringLiteral("Total number of file(s): 3"));
    QCOMPARE(rows, (QStringList{QStringLiteral("Disk:Docs:Letter|1300"), QStringLiteral("Disk:Read Me|0"),
                                QStringLiteral("Disk:Caf\u00E9|5")}));
  }

  void dumpWithoutAFileNameDoesNothing() {
    MainFixture f;
    f.shelf.Put(kDrive, PlainDisc(20));
    f.Click(QStringLiteral("Physical Dump..."));
    QCOMPARE(f.host.saveRequests, QStringList{QStringLiteral("DiscImage.dat")});
    QVERIFY(f.host.messages.empty());
    QVERIFY(f.host.modalDialogs.isEmpty());
  }

  void dump_data() {
    QTest::addColumn<QString>("start");  // empty: the range dialog is cancelled
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("badLba");     // -1: none
    QTest::addColumn<int>("firstLba");   // of the sectors expected in the file
    QTest::addColumn<int>("count");      // -1: no file at all
    QTest::addColumn<bool>("completed");
    QTest::newRow("defaults: the whole disc") << "1" << "20" << -1 << 0 << 20 << true;
    QTest::newRow("10 to 12") << "10" << "12" << -1 << 9 << 3 << true;
    QTest::newRow("one sector") << "7" << "7" << -1 << 6 << 1 << true;
    QTest::newRow("range cancelled") << "" << "" << -1 << 0 << -1 << false;
    QTest::newRow("third sector unreadable") << "10" << "14" << 11 << 9 << 2 << false;
    QTest::newRow("first sector unreadable") << "10" << "14" << 9 << 9 << 0 << false;
  }
  void dump() {
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(int, badLba);
    QFETCH(int, firstLba);
    QFETCH(int, count);
    QFETCH(bool, completed);
    MainFixture f;
    const auto script = f.shelf.Put(kDrive, PlainDisc(20));
    if (badLba >= 0) script->badLbas.insert(static_cast<std::uint32_t>(badLba));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("DiscImage.dat"));
    f.host.saveAnswer = path;
    QString offered;
    f.host.onModal = [&](QDialog& dialog) {
      auto* range = qobject_cast<CSelectSectorDlg*>(&dialog);
      if (!range) return int(QDialog::Rejected);
      offered = range->StartEdit()->text() + QLatin1Char('-') + range->EndEdit()->text();
      if (start.isEmpty()) return int(QDialog::Rejected);
      range->StartEdit()->setText(start);
      range->EndEdit()->setText(end);
      range->OkButton()->click();
      return range->result();
    };
    f.Click(QStringLiteral("Physical Dump..."));
    QCOMPARE(offered, QStringLiteral("1-20"));
    QCOMPARE(f.host.Texts(), QStringList{Text(completed ? msg::kCompleted : msg::kDumpFailed)});
    QCOMPARE(f.host.messages.front().style, completed ? MessageStyle::kIconInformation : MessageStyle::kOk);
    const std::optional<std::string> written = ReadWholeFile(path);
    if (count < 0) {
      QVERIFY(!written);
    } else {
      QVERIFY(written);
      QCOMPARE(written->size(), std::size_t(count) * format::kRawSectorSize);
      QVERIFY(*written == Sectors(f.shelf, firstLba, count));
    }
    // The progress window is gone before the message.
    for (QWidget* window : QApplication::topLevelWidgets()) {
      QVERIFY(!(window->isVisible() && window->windowTitle() == QStringLiteral("Physical Dump")));
    }
  }

  // A write that fails is no damaged CD.
  void dumpOntoAFullDiskSaysTheWriteFailed() {
    MainFixture f;
    f.shelf.Put(kDrive, PlainDisc(20));
    f.host.saveAnswer = QStringLiteral("/dev/full");
    f.host.onModal = [](QDialog& dialog) {
      auto* range = qobject_cast<CSelectSectorDlg*>(&dialog);
      if (!range) return int(QDialog::Rejected);
      range->OkButton()->click();
      return range->result();
    };
    f.Click(QStringLiteral("Physical Dump..."));
    QCOMPARE(f.host.Texts(), QStringList{Text(msg::kImageWriteFailed)});
  }

  void logoAndContextMenuShowTheAboutBox() {
    MainFixture f;
    f.dialog.show();
    auto* logo = f.dialog.findChild<ClickableLabel*>();
    QVERIFY(logo);
    QTest::mouseClick(logo, Qt::LeftButton);
    QCOMPARE(f.host.modalDialogs, QStringList{QStringLiteral("kestrow::gui::CAboutDlg")});
    const QList<QAction*> actions = f.dialog.actions();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions.front()->text(), QStringLiteral("&About KestrowDiag..."));
    actions.front()->trigger();
    QCOMPARE(f.host.modalDialogs.size(), 2);
    QVERIFY(f.host.messages.empty());
  }

  void enterEndsTheDialogUnlessAButtonHasTheFocus() {
    MainFixture f;
    f.shelf.Put(kDrive, PlainDisc(2));
    f.dialog.show();
    f.dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.dialog));
    // No button is the default one while the first command has the focus.
    for (const QPushButton* button : f.dialog.findChildren<QPushButton*>()) {
      QCOMPARE(button->isDefault(), button->hasFocus());
    }
    QPushButton* volumeSize = nullptr;
    for (QPushButton* button : f.dialog.findChildren<QPushButton*>()) {
      if (button->text() == QStringLiteral("Get Volume Size...")) volumeSize = button;
    }
    volumeSize->setFocus();
    QTRY_VERIFY(volumeSize->hasFocus());
    QTest::keyClick(volumeSize, Qt::Key_Return);
    QCOMPARE(f.host.Texts(), QStringList{QStringLiteral("Total: 2 sector(s), 4 KB\n")});
    QVERIFY(f.dialog.isVisible());

    f.dialog.DriveList()->setFocus();
    QTRY_VERIFY(f.dialog.DriveList()->hasFocus());
    QTest::keyClick(f.dialog.DriveList(), Qt::Key_Return);
    QVERIFY(!f.dialog.isVisible());
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
  }
};

QTEST_MAIN(MainDialogTest)
#include "MainDialogTest.moc"
