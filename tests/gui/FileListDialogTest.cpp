// The file list dialog of the Qt face: the session's rows and count line in
// the list, the option checkboxes, and the buttons.
#include <QCheckBox>
#include <QFile>
#include <QSettings>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "GuiTestSupport.h"
#include "app/QtHost.h"
#include "filelist/FileListDlg.h"
#include "text/Messages.h"

using namespace kestrow;
using namespace kestrow::gui;
using namespace kestrow::guitest;

namespace {

FileTable SampleTable() {
  return {Row("Disk:Docs:", "Letter", 1000, 300), Row("Disk:", "Read Me", 0, 0), Row("", "Orphan", 7, 0),
          Row("Disk:", "Caf\xE9", 5, 0)};
}

// A dialog over `table`; its core is never used by these tests.
struct ListFixture {
  explicit ListFixture(FileTable rows)
      : table(std::move(rows)), session(&table, "memory", shelf.Factory(), qtHost), dialog(session) {}

  QString Cell(int row, int column) const {
    return dialog.FileList()->model()->index(row, column).data().toString();
  }
  void SelectRows(std::initializer_list<int> rows) {
    for (const int row : rows) {
      dialog.FileList()->selectionModel()->select(dialog.FileList()->model()->index(row, 0),
                                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }

  RecordingHost host;
  QtHost qtHost;
  DiscShelf shelf;
  FileTable table;
  app::FileListSession session;
  CFileListDlg dialog;
};

void ClickButton(QWidget& dialog, const QString& text) {
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == text) return button->click();
  }
  QFAIL(qPrintable(QStringLiteral("no button ") + text));
}

}  // namespace

class FileListDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void rowsFollowTheTable() {
    ListFixture f(SampleTable());
    QCOMPARE(f.dialog.FileCount(), QStringLiteral("Total number of file(s): 4"));
    QCOMPARE(f.dialog.FileList()->model()->rowCount(), 4);
    const QStringList paths = {QStringLiteral("Disk:Docs:Letter"), QStringLiteral("Disk:Read Me"),
                               QStringLiteral("Orphan"), QStringLiteral("Disk:Caf\u00E9")};
    const QStringList sizes = {QStringLiteral("1300"), QStringLiteral("0"), QStringLiteral("7"), QStringLiteral("5")};
    for (int row = 0; row < 4; ++row) {
      QCOMPARE(f.Cell(row, 0), paths[row]);
      QCOMPARE(f.Cell(row, 1), sizes[row]);
    }
    QCOMPARE(f.dialog.FileList()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("File Path"));
    QCOMPARE(f.dialog.FileList()->model()->headerData(1, Qt::Horizontal).toString(),
             QStringLiteral("Approx File Size"));
  }

  // "Mac Roman names" changes the rows at once; both options are remembered
  // for the next dialog and handed to the job.
  void theOptionsChangeTheNamesAndAreRemembered() {
    const QString windows = QStringLiteral("Disk:Caf\u00E9");
    const QString macRoman = QStringLiteral("Disk:Caf\u00C8");  // 0xE9 in Mac OS Roman
    for (const bool on : {true, false}) {
      {
        ListFixture f(SampleTable());
        QCOMPARE(f.dialog.MacRomanNames()->text(), QStringLiteral("Mac Roman names"));
        QCOMPARE(f.dialog.ResourceForksAndDates()->text(), QStringLiteral("Resource forks and dates"));
        QCOMPARE(f.dialog.MacRomanNames()->isChecked(), !on);
        QCOMPARE(f.Cell(3, 0), on ? windows : macRoman);
        f.dialog.MacRomanNames()->setChecked(on);
        f.dialog.ResourceForksAndDates()->setChecked(on);
        QCOMPARE(f.Cell(3, 0), on ? macRoman : windows);
        QCOMPARE(f.Cell(0, 0), QStringLiteral("Disk:Docs:Letter"));
        QCOMPARE(f.session.JobOptions().macRoman, on);
        QCOMPARE(f.session.JobOptions().resourceForks, on);
      }
      ListFixture next(SampleTable());
      QCOMPARE(next.dialog.MacRomanNames()->isChecked(), on);
      QCOMPARE(next.dialog.ResourceForksAndDates()->isChecked(), on);
    }
  }

  void saveListWritesEveryRowWithCrLf_data() {
    QTest::addColumn<bool>("withRows");
    QTest::addColumn<bool>("withSelection");
    QTest::newRow("all rows although some are selected") << true << true;
  }
  void saveListWritesEveryRowWithCrLf() {
    QFETCH(bool, withRows);
    QFETCH(bool, withSelection);
    ListFixture f(withRows ? SampleTable() : FileTable{});
    if (withSelection) f.SelectRows({1});
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("FileList.txt"));
    {
      QFile old(path);  // an existing file is truncated
      QVERIFY(old.open(QIODevice::WriteOnly));
      old.write(QByteArray(5000, 'x'));
    }
    f.host.saveAnswer = path;
    ClickButton(f.dialog, QStringLiteral("Save List..."));
    QCOMPARE(f.host.saveRequests, QStringList{QStringLiteral("FileList.txt")});
    QVERIFY(f.host.messages.empty());
    const std::string expected = withRows ? std::string("Disk:Docs:Letter\t1300\r\n"
                                                        "Disk:Read Me\t0\r\n"
                                                        "Orphan\t7\r\n"
                                                        "Disk:Caf\xE9\t5\r\n")
                                          : std::string();
    QCOMPARE(*ReadWholeFile(path), expected);
  }

  // Save Volume Image...: the save dialog, the buttons off while it reads,
  // and what the session says in the end (this fixture's disc cannot be read).
  void saveVolumeImageRunsOnTheTimer() {
    ListFixture f(SampleTable());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Volume.hfs"));
    f.host.saveAnswer = path;
    ClickButton(f.dialog, QStringLiteral("Save Volume Image..."));
    QCOMPARE(f.host.saveRequests, QStringList{QStringLiteral("Volume.hfs")});
    QVERIFY(!f.dialog.SaveVolumeImageButton()->isEnabled());
    QVERIFY(!f.dialog.FindDamageButton()->isEnabled());
    QTRY_COMPARE(f.host.Texts(), QStringList{QString::fromUtf8(msg::kNoValidDisc)});
    QVERIFY(f.dialog.SaveVolumeImageButton()->isEnabled());
    QVERIFY(!QFile::exists(path));
  }

  void recoverWithoutSelectionAsksForOne() {
    ListFixture f(SampleTable());
    f.host.folderAnswer = QStringLiteral("/tmp");
    ClickButton(f.dialog, QStringLiteral("Recover Selected Files..."));
    QCOMPARE(f.host.Texts(), QStringList{QString::fromUtf8(msg::kSelectFiles)});
    QCOMPARE(f.host.messages.front().style, MessageStyle::kIconInformation);
    QVERIFY(f.host.folderRequests.isEmpty());
    QVERIFY(!f.dialog.JobTimer().isActive());
  }

};

QTEST_MAIN(FileListDialogTest)
#include "FileListDialogTest.moc"
