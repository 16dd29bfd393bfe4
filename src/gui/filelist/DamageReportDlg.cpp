#include "filelist/DamageReportDlg.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "app/AppText.h"
#include "app/DamageText.h"
#include "app/DialogUnits.h"
#include "app/QtHost.h"

namespace kestrow::gui {

CDamageReportDlg::CDamageReportDlg(DamageReport report, QWidget* parent, std::vector<std::string> sourceFiles)
    : QDialog(parent), m_report(std::move(report)), m_sourceFiles(std::move(sourceFiles)) {
  setWindowTitle(QString::fromLatin1(app::text::kDamageReportCaption));
  SetCaptionButtons(*this, CaptionButtons::kClose);
  const DialogUnits du = SetUpDialogFrame(*this, 439, 200);

  auto* summary = new QLabel(ToQt(app::DamageSummary(m_report)), this);
  summary->setTextFormat(Qt::PlainText);
  summary->setGeometry(du.Rect(7, 7, 425, 8));
  m_files = new QTreeWidget(this);
  m_files->setGeometry(du.Rect(7, 19, 425, 155));
  m_files->setRootIsDecorated(false);
  m_files->setColumnCount(3);
  m_files->setHeaderLabels({QString::fromLatin1(app::text::kPathColumn), QString::fromLatin1(app::text::kStatusColumn),
                            QString::fromLatin1(app::text::kLostBytesColumn)});
  for (const app::DamageRow& row : app::DamageRows(m_report)) {
    m_files->addTopLevelItem(new QTreeWidgetItem(QStringList{ToQt(row.path), ToQt(row.status), ToQt(row.lostBytes)}));
  }
  m_files->header()->resizeSection(0, du.X(230));
  m_files->header()->resizeSection(1, du.X(50));

  auto* save = new QPushButton(QString::fromLatin1(app::text::kSaveReportButton), this);
  save->setGeometry(du.Rect(325, 180, 52, 14));
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setGeometry(du.Rect(382, 180, 50, 14));
  close->setDefault(true);
  connect(save, &QPushButton::clicked, this, &CDamageReportDlg::OnSaveReport);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void CDamageReportDlg::OnSaveReport() {
  QtHost host;
  app::SaveDamageReport(host, m_report, m_sourceFiles);
}

}  // namespace kestrow::gui
