#include "filelist/DamageReportDlg.h"

#include <QBoxLayout>
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
  SetCaptionButtons(*this, CaptionButtons::kCloseAndMaximize);
  // Resizable, its table growing with it: however many rows, the window
  // opens at its own size, never past the screen.
  setFont(DialogFont());
  const DialogUnits du(font());
  setSizeGripEnabled(true);
  setMinimumSize(du.Size(220, 100));
  resize(du.Size(439, 200));

  auto* summary = new QLabel(ToQt(app::DamageSummary(m_report)), this);
  summary->setTextFormat(Qt::PlainText);
  summary->setWordWrap(true);
  m_files = new QTreeWidget(this);
  m_files->setRootIsDecorated(false);
  m_files->setUniformRowHeights(true);
  m_files->setColumnCount(3);
  m_files->setHeaderLabels({QString::fromLatin1(app::text::kPathColumn), QString::fromLatin1(app::text::kStatusColumn),
                            QString::fromLatin1(app::text::kLostBytesColumn)});
  QList<QTreeWidgetItem*> items;
  for (const app::DamageRow& row : app::DamageRows(m_report)) {
    items.append(new QTreeWidgetItem(QStringList{ToQt(row.path), ToQt(row.status), ToQt(row.lostBytes)}));
  }
  m_files->addTopLevelItems(items);
  // The path takes what the other two columns, sized to their texts, leave.
  m_files->header()->setStretchLastSection(false);
  m_files->resizeColumnToContents(1);
  m_files->resizeColumnToContents(2);
  m_files->header()->setMinimumSectionSize(du.X(60));
  m_files->header()->setSectionResizeMode(0, QHeaderView::Stretch);

  auto* save = new QPushButton(QString::fromLatin1(app::text::kSaveReportButton), this);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setDefault(true);
  connect(save, &QPushButton::clicked, this, &CDamageReportDlg::OnSaveReport);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(save);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
  layout->addWidget(summary);
  layout->addWidget(m_files, 1);
  layout->addLayout(buttons);
}

void CDamageReportDlg::OnSaveReport() {
  QtHost host;
  app::SaveDamageReport(host, m_report, m_sourceFiles);
}

}  // namespace kestrow::gui
