#include "app/ScreenshotTour.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeView>

#include <cstdio>

#include "app/AboutDlg.h"
#include "app/KestrowDiagDlg.h"
#include "app/UiHost.h"
#include "filelist/FileListDlg.h"
#include "app/RescueImage.h"
#include "app/QtHost.h"
#include "filelist/DamageReportDlg.h"
#include "rawtools/SelectSectorDlg.h"
#include "rawtools/StatusDlg.h"

namespace kestrow::gui {
namespace {

void Settle() {
  QElapsedTimer timer;
  timer.start();
  while (!timer.hasExpired(300)) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(10);
  }
}

// Answers every question without a person: each modal dialog is pictured
// and dismissed, save dialogs get a scratch path, messages go to stderr.
class TourHost : public UiHost {
 public:
  explicit TourHost(QDir folder) : m_folder(std::move(folder)) {}

  void ShowMessage(QWidget*, const QString& text, MessageStyle) override {
    std::fprintf(stderr, "message box: %s\n", text.toLocal8Bit().constData());
  }
  std::optional<QString> GetSaveFileName(QWidget*, const QString& initialName, const QString& suffix) override {
    return m_scratch.filePath(initialName + QLatin1Char('.') + suffix);
  }
  std::optional<QString> GetOpenFileName(QWidget*, const QString&, const QString&) override { return std::nullopt; }
  std::optional<QString> GetExistingDirectory(QWidget*, const QString&) override { return std::nullopt; }

  int RunModal(QDialog& dialog) override {
    QString name;
    if (auto* fileList = qobject_cast<CFileListDlg*>(&dialog)) {
      name = QStringLiteral("file-list.png");
      SelectSomeRows(*fileList->FileList());
    } else if (auto* range = qobject_cast<CSelectSectorDlg*>(&dialog)) {
      name = QStringLiteral("sector-range.png");
      range->RescueCheckBox()->setChecked(true);
    } else if (qobject_cast<CAboutDlg*>(&dialog)) {
      name = QStringLiteral("about-box.png");
    }
    if (!name.isEmpty()) Save(dialog, name);
    return QDialog::Rejected;
  }

  bool Save(QWidget& window, const QString& name) {
    window.show();
    window.raise();
    window.activateWindow();
    Settle();
    const bool saved = window.grab().save(m_folder.filePath(name), "PNG");
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(m_folder.filePath(name)));
    if (saved) ++m_saved;
    window.hide();
    return saved;
  }

  int Saved() const { return m_saved; }

 private:
  // Two rows picked, as a person would before "Recover Selected Files...".
  static void SelectSomeRows(QTreeView& list) {
    const QAbstractItemModel* model = list.model();
    for (const int row : {1, 3}) {
      if (row >= model->rowCount()) continue;
      list.selectionModel()->setCurrentIndex(model->index(row, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }

  QDir m_folder;
  QTemporaryDir m_scratch;
  int m_saved = 0;
};

// A rescue in its scraping phase, as the progress window shows it.
void SaveRescueProgress(TourHost& host) {
  RescueStatus status;
  status.stage = RescueStage::kScraping;
  status.position = 318'204;
  status.rangeBytes = 333'000ull * 2352;
  status.rescued = status.rangeBytes - 9'214ull * 2352;
  status.nonScraped = 8'866ull * 2352;
  status.bad = 348ull * 2352;
  status.badAreas = 12;
  status.readErrors = 361;
  status.currentRate = 2352;
  status.averageRate = 1.9e6;
  status.runTime = std::chrono::seconds(1'251);
  status.sinceLastGoodRead = std::chrono::seconds(14);
  CStatusDlg window;
  window.SetProgress(QStringLiteral("Reading 318204/333000..."), 318'204, 333'000);
  window.SetRescueStatus(ToQt(app::FormatRescueStatus(status)));
  host.Save(window, QStringLiteral("rescue-progress.png"));
}

// Find Damage's window over a few damaged and lost files.
void SaveDamageReport(TourHost& host) {
  DamageReport report;
  report.unreadableSectors = {{1210, 1212}, {1340, 1340}, {40'112, 40'130}};
  report.files = {{"Family Archive:Pictures:Beach 1998.jpg", FileStatus::kDamaged, 600'000, {{8192, 16384}}, {}, {}},
                  {"Family Archive:Letters:To Grandma", FileStatus::kLost, 12'000, {}, {}, {}},
                  {"Family Archive:Pictures:Garden.jpg", FileStatus::kDamaged, 420'000,
                   {{40960, 49152}, {114688, 122880}}, {}, {}}};
  CDamageReportDlg window(report);
  host.Save(window, QStringLiteral("damage-report.png"));
}

}  // namespace

bool RunScreenshotTour(CKestrowDiagDlg& dialog, const QString& folder) {
  QDir().mkpath(folder);
  TourHost host{QDir(folder)};
  UiHost* previous = UiHost::Install(&host);
  host.Save(dialog, QStringLiteral("main-dialog.png"));
  dialog.show();
  dialog.OnBrowseFileList();
  dialog.OnPhysicalDump();
  dialog.OnLogoClicked();
  SaveRescueProgress(host);
  SaveDamageReport(host);
  UiHost::Install(previous);
  return host.Saved() == 6;
}

}  // namespace kestrow::gui
