// The sector range dialog of the physical dump in the Qt face: what a failed
// check on OK does to the dialog (the checks themselves are the application
// layer's, tested there).
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "rawtools/PhysicalDump.h"
#include "rawtools/SelectSectorDlg.h"
#include "text/Messages.h"

using namespace kestrow;
using namespace kestrow::gui;
using namespace kestrow::guitest;

namespace {
constexpr std::uint32_t kSectors = 1000;
}

class SectorRangeDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void opensWithTheWholeDiscAndOkFocused() {
    RecordingHost host;
    CSelectSectorDlg dialog(kSectors);
    dialog.show();
    QCOMPARE(dialog.StartEdit()->text(), QStringLiteral("1"));
    QCOMPARE(dialog.EndEdit()->text(), QStringLiteral("1000"));
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.OkButton()));
    QVERIFY(dialog.OkButton()->isDefault());
    // Enter takes the defaults.
    QTest::keyClick(&dialog, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_nStartSector, 1u);
    QCOMPARE(dialog.m_nEndSector, kSectors);
    QVERIFY(host.messages.empty());
  }

  // The rescue option is off until checked; the LBAs follow the fields.
  void rescueOptionAndLbas() {
    RecordingHost host;
    CSelectSectorDlg dialog(kSectors);
    dialog.show();
    QVERIFY(!dialog.RescueCheckBox()->isChecked());
    QCOMPARE(dialog.RescueCheckBox()->text(), QStringLiteral("Resumable rescue image (with a map)"));
    QVERIFY(dialog.LbaLabel()->text().startsWith(QStringLiteral("LBA 0 to 999")));
    dialog.StartEdit()->setText(QStringLiteral("10"));
    dialog.EndEdit()->setText(QStringLiteral("12"));
    QVERIFY(dialog.LbaLabel()->text().startsWith(QStringLiteral("LBA 9 to 11")));
    QVERIFY(dialog.LbaLabel()->geometry().bottom() < dialog.RescueCheckBox()->geometry().top());
    QVERIFY(dialog.RescueCheckBox()->geometry().bottom() < dialog.height());
    dialog.RescueCheckBox()->setChecked(true);
    dialog.OkButton()->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.m_bRescue);
  }

  void validation_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("message");  // empty: accepted
    QTest::addColumn<QString>("focus");    // "start" or "end"
    const QString positive = QString::fromUtf8(msg::kPositiveInteger);
    const QString between = QStringLiteral("Please enter an integer between 1 and 1000.");
    const QString order = QString::fromUtf8(kSectorRangeOrderMessage);
    QTest::newRow("empty start") << "" << "10" << positive << "start";
    QTest::newRow("end one past the disc") << "5" << "1001" << between << "end";
    QTest::newRow("start after end") << "5" << "4" << order << "end";
    QTest::newRow("start equals end") << "3" << "3" << "" << "";
  }
  void validation() {
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    RecordingHost host;
    CSelectSectorDlg dialog(kSectors);
    dialog.show();
    dialog.StartEdit()->setText(start);
    dialog.EndEdit()->setText(end);
    dialog.OkButton()->click();
    if (message.isEmpty()) {
      QVERIFY(host.messages.empty());
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
      QCOMPARE(dialog.m_nStartSector, start.toUInt());
      QCOMPARE(dialog.m_nEndSector, end.toUInt());
      return;
    }
    QCOMPARE(host.Texts(), QStringList{message});
    QCOMPARE(host.messages.front().style, MessageStyle::kOk);
    QVERIFY(dialog.isVisible());  // stays open
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QLineEdit* edit = focus == QLatin1String("start") ? dialog.StartEdit() : dialog.EndEdit();
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(edit));
    QCOMPARE(edit->selectedText(), edit->text());
    // The members keep what they had before the failed check.
    QCOMPARE(dialog.m_nStartSector, 1u);
    QCOMPARE(dialog.m_nEndSector, kSectors);
  }

  void cancelRejects() {
    RecordingHost host;
    CSelectSectorDlg dialog(kSectors);
    dialog.show();
    dialog.StartEdit()->setText(QStringLiteral("0"));  // not checked on Cancel
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QVERIFY(host.messages.empty());
  }
};

QTEST_MAIN(SectorRangeDialogTest)
#include "SectorRangeDialogTest.moc"
