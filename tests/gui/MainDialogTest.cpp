// The main dialog of the Qt face: its drive list, its buttons and their
// commands (whose logic the application layer's tests cover), the about
// box, and Enter.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "GuiTestSupport.h"
#include "app/AppText.h"
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
  void noDriveIsToldOnceTheDialogIsShownAndByEveryButton() {
    MainFixture f(std::vector<std::string>{});
    QVERIFY(f.host.messages.empty());
    f.dialog.show();
    QTRY_COMPARE(f.host.Texts(), QStringList{Text(msg::kNoDrive)});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kOk);
    for (const QString& command : kCommands) {
      f.host.messages.clear();
      f.Click(command);
      QCOMPARE(f.host.Texts(), QStringList{Text(msg::kNoDrive)});
    }
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

  void browseShowsEveryFileInCatalogueOrder() {
    MainFixture f;
    f.shelf.Put(kDrive, BrowsableDisc());
    QStringList rows;
    QString count;
    QString header;
    f.host.onModal = [&](QDialog& dialog) {
      auto* list = qobject_cast<CFileListDlg*>(&dialog);
      if (!list) return int(QDialog::Rejected);
      const QAbstractItemModel* model = list->FileList()->model();
      header = model->headerData(0, Qt::Horizontal).toString() + QLatin1Char('|') +
               model->headerData(1, Qt::Horizontal).toString();
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
    QCOMPARE(header, QStringLiteral("File Path|Approx File Size"));
    QCOMPARE(rows, (QStringList{QStringLiteral("Disk:Docs:Letter|1300"), QStringLiteral("Disk:Read Me|0"),
                                QStringLiteral("Disk:Caf\u00E9|5")}));
  }

  void dump_data() {
    QTest::addColumn<QString>("start");  // empty: the range dialog is cancelled
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("badLba");     // -1: none
    QTest::addColumn<int>("firstLba");   // of the sectors expected in the file
    QTest::addColumn<int>("count");      // -1: no file at all
    QTest::addColumn<bool>("completed");
    QTest::newRow("10 to 12") << "10" << "12" << -1 << 9 << 3 << true;
    QTest::newRow("range cancelled") << "" << "" << -1 << 0 << -1 << false;
    QTest::newRow("third sector unreadable") << "10" << "14" << 11 << 9 << 2 << false;
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
    const std::string failed = badLba >= 0 ? std::string(msg::kDumpFailed) + "\n\n" + app::text::kDumpStoppedAdvice
                                           : std::string(msg::kDumpFailed);
    QCOMPARE(f.host.Texts(), QStringList{Text(completed ? msg::kCompleted : failed.c_str())});
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
