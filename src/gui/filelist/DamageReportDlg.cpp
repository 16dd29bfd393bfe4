#include "filelist/DamageReportDlg.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "app/DialogUnits.h"
#include "app/GuiText.h"
#include "app/UiHost.h"
#include "text/Messages.h"

namespace kestrow::gui {

QString DamageSummary(const DamageReport& report) {
  std::uint64_t sectors = 0;
  QStringList spans;
  for (const SectorSpan& s : report.unreadableSectors) {
    sectors += static_cast<std::uint64_t>(s.last - s.first) + 1;
    spans << (s.first == s.last ? QString::number(s.first) : QStringLiteral("%1-%2").arg(s.first).arg(s.last));
  }
  QString text = QString::fromLatin1(text::kUnreadableSectorsFormat).arg(sectors).arg(spans.join(QStringLiteral(", ")));
  if (report.lostCatalogNodes > 0) {
    text += QLatin1Char(' ') + QString::fromLatin1(text::kLostNodesFormat).arg(report.lostCatalogNodes);
  }
  return text;
}

CDamageReportDlg::CDamageReportDlg(DamageReport report, QWidget* parent, std::vector<std::string> sourceFiles)
    : QDialog(parent), m_report(std::move(report)), m_sourceFiles(std::move(sourceFiles)) {
  setWindowTitle(QString::fromLatin1(text::kDamageReportCaption));
  SetCaptionButtons(*this, CaptionButtons::kClose);
  const DialogUnits du = SetUpDialogFrame(*this, 439, 200);

  auto* summary = new QLabel(DamageSummary(m_report), this);
  summary->setTextFormat(Qt::PlainText);
  summary->setGeometry(du.Rect(7, 7, 425, 8));
  m_files = new QTreeWidget(this);
  m_files->setGeometry(du.Rect(7, 19, 425, 155));
  m_files->setRootIsDecorated(false);
  m_files->setColumnCount(3);
  m_files->setHeaderLabels({QStringLiteral("File Path"), QStringLiteral("Status"), QStringLiteral("Lost Bytes")});
  for (const ReportedFile& file : m_report.files) {
    if (file.status == FileStatus::kWhole) continue;
    QString lost = QString::fromStdString(LostRangesText(file.lostRanges));
    if (!file.reason.empty()) lost += (lost.isEmpty() ? QString() : QStringLiteral("; ")) + QString::fromStdString(file.reason);
    m_files->addTopLevelItem(new QTreeWidgetItem(
        QStringList{QString::fromStdString(file.path), QString::fromLatin1(StatusName(file.status)), lost}));
  }
  m_files->header()->resizeSection(0, du.X(230));
  m_files->header()->resizeSection(1, du.X(50));

  auto* save = new QPushButton(QString::fromLatin1(text::kSaveReportButton), this);
  save->setGeometry(du.Rect(325, 180, 52, 14));
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setGeometry(du.Rect(382, 180, 50, 14));
  close->setDefault(true);
  connect(save, &QPushButton::clicked, this, &CDamageReportDlg::OnSaveReport);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void CDamageReportDlg::OnSaveReport() {
  const std::optional<QString> path =
      UiHost::Current().GetSaveFileName(this, QStringLiteral("DamageReport"), QStringLiteral("json"));
  if (!path || !OutputSparesTheSource(this, m_sourceFiles, QFile::encodeName(*path).toStdString())) return;
  const std::string json = FormatDamageReportJson(m_report);
  QFile file(*path);
  const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                       file.write(json.data(), static_cast<qint64>(json.size())) == static_cast<qint64>(json.size()) &&
                       file.flush();
  file.close();
  if (!written) AppMessageBox(this, msg::kFailedToOpenFile, MessageStyle::kOk);
}

}  // namespace kestrow::gui
