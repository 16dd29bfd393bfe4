#include "app/QtHost.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QStringList>

#include "app/AboutDlg.h"
#include "app/UiHost.h"
#include "filelist/DamageReportDlg.h"
#include "filelist/FileListDlg.h"
#include "rawtools/SelectSectorDlg.h"
#include "rawtools/StatusDlg.h"
#include "recovery/DamageReport.h"
#include "recovery/FolderSelectDlg.h"

namespace kestrow::gui {
namespace {

// How often the progress window gets to paint while sectors are read.
constexpr qint64 kRepaintMilliseconds = 50;

// The physical dump's progress window: modal over the application while the
// loop runs, painted now and then.
class QtProgressWindow : public app::ProgressWindow {
 public:
  explicit QtProgressWindow(QWidget* owner) : m_window(owner) {
    m_window.setWindowModality(Qt::ApplicationModal);
    m_window.show();
    Repaint();
  }

  void ShowProgress(const std::string& text, int done, int total) override {
    m_window.SetProgress(ToQt(text), done, total);
    if (m_sinceRepaint.hasExpired(kRepaintMilliseconds)) Repaint();
  }
  void ShowRescueStatus(const std::string& text) override {
    m_window.SetRescueStatus(ToQt(text));
    if (m_sinceRepaint.hasExpired(kRepaintMilliseconds)) Repaint();
  }
  bool CancelRequested() override {
    // The window takes the Cancel click between reads, however long they take.
    if (m_sinceRepaint.hasExpired(kRepaintMilliseconds)) Repaint();
    return m_window.CancelRequested();
  }

 private:
  void Repaint() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_sinceRepaint.start();
  }

  CStatusDlg m_window;
  QElapsedTimer m_sinceRepaint;
};

}  // namespace

std::string PathFromQt(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString PathToQt(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

QString QtFilter(const std::vector<app::FileFilter>& filters) {
  QStringList parts;
  for (const app::FileFilter& filter : filters) {
    QStringList patterns;
    for (const std::string& pattern : filter.patterns) patterns << ToQt(pattern);
    parts << ToQt(filter.name) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return parts.join(QStringLiteral(";;"));
}

bool QtSettingsStore::GetBool(const std::string& key, bool fallback) {
  QSettings settings(QStringLiteral("KestrowDiag"), QStringLiteral("KestrowDiag"));
  return settings.value(ToQt(key), fallback).toBool();
}

void QtSettingsStore::SetBool(const std::string& key, bool value) {
  QSettings settings(QStringLiteral("KestrowDiag"), QStringLiteral("KestrowDiag"));
  settings.setValue(ToQt(key), value);
}

QWidget* QtHost::Owner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

void QtHost::ShowMessage(const std::string& text, app::MessageStyle style) {
  UiHost::Current().ShowMessage(Owner(), ToQt(text), style);
}

bool QtHost::AskYesNo(const std::string& text) { return UiHost::Current().AskYesNo(Owner(), ToQt(text)); }

std::optional<std::string> QtHost::ChooseSaveFile(const std::string& initialName, const std::string& defaultExtension) {
  const std::optional<QString> path = UiHost::Current().GetSaveFileName(Owner(), ToQt(initialName), ToQt(defaultExtension));
  if (!path) return std::nullopt;
  return PathFromQt(*path);
}

std::optional<std::string> QtHost::ChooseOpenFile(const std::string& title, const std::vector<app::FileFilter>& filters) {
  const std::optional<QString> path = UiHost::Current().GetOpenFileName(Owner(), ToQt(title), QtFilter(filters));
  if (!path) return std::nullopt;
  return PathFromQt(*path);
}

std::optional<std::string> QtHost::BrowseForFolder(const std::string& title) {
  CFolderSelectDlg folder(Owner(), ToQt(title));
  if (folder.BrowseForFolder(0) != 1) return std::nullopt;
  return PathFromQt(folder.m_strPath);
}

std::optional<app::SectorRange> QtHost::ChooseSectorRange(std::uint32_t sectorCount) {
  CSelectSectorDlg dialog(sectorCount, Owner());
  if (UiHost::Current().RunModal(dialog) != QDialog::Accepted) return std::nullopt;
  return app::SectorRange{dialog.m_nStartSector, dialog.m_nEndSector, dialog.m_bRescue};
}

std::unique_ptr<app::ProgressWindow> QtHost::OpenProgressWindow() {
  return std::make_unique<QtProgressWindow>(Owner());
}

void QtHost::RunFileList(app::FileListSession& session) {
  CFileListDlg dialog(session, Owner());
  UiHost::Current().RunModal(dialog);
}

void QtHost::ShowDamageReport(const DamageReport& report, const std::vector<std::string>& sourceFiles) {
  CDamageReportDlg dialog(report, Owner(), sourceFiles);
  UiHost::Current().RunModal(dialog);
}

void QtHost::ShowAboutBox() {
  CAboutDlg about(Owner());
  UiHost::Current().RunModal(about);
}

void QtHost::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace kestrow::gui
