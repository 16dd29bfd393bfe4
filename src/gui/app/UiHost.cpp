#include "app/UiHost.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

#include "drive/SourceFiles.h"
#include "text/Messages.h"

namespace kestrow::gui {
namespace {

UiHost* g_installedHost = nullptr;

std::optional<QString> FirstSelectedFile(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
  return files.front();
}

}  // namespace

void UiHost::ShowMessage(QWidget* owner, const QString& text, MessageStyle style) {
  const QMessageBox::Icon icon =
      style == MessageStyle::kIconInformation ? QMessageBox::Information : QMessageBox::Warning;
  QMessageBox box(icon, QString::fromLatin1(kMessageCaption), text, QMessageBox::Ok, owner);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

bool UiHost::AskYesNo(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(kMessageCaption), text,
                  QMessageBox::Yes | QMessageBox::No, owner);
  box.setDefaultButton(QMessageBox::No);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Yes;
}

std::optional<QString> UiHost::GetSaveFileName(QWidget* owner, const QString& initialName,
                                               const QString& defaultSuffix) {
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.selectFile(initialName);
  // Replacing an existing file needs the user's confirmation (Qt's default).
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  return FirstSelectedFile(dialog);
}

std::optional<QString> UiHost::GetOpenFileName(QWidget* owner, const QString& title,
                                               const QString& filter) {
  QFileDialog dialog(owner, title, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  return FirstSelectedFile(dialog);
}

std::optional<QString> UiHost::GetExistingDirectory(QWidget* owner, const QString& title) {
  const QString folder = QFileDialog::getExistingDirectory(owner, title);
  if (folder.isEmpty()) return std::nullopt;
  return folder;
}

int UiHost::RunModal(QDialog& dialog) { return dialog.exec(); }

UiHost& UiHost::Current() {
  static UiHost defaultHost;
  return g_installedHost ? *g_installedHost : defaultHost;
}

UiHost* UiHost::Install(UiHost* host) {
  UiHost* previous = g_installedHost;
  g_installedHost = host;
  return previous;
}

void AppMessageBox(QWidget* owner, const QString& text, MessageStyle style) {
  UiHost::Current().ShowMessage(owner, text, style);
}

void AppMessageBox(QWidget* owner, const char* text, MessageStyle style) {
  AppMessageBox(owner, QString::fromUtf8(text), style);
}

bool OutputSparesTheSource(QWidget* owner, const std::vector<std::string>& sourceFiles, const std::string& output) {
  if (!FindOutputClash(sourceFiles, {output})) return true;
  AppMessageBox(owner, msg::kOutputIsSource, MessageStyle::kOk);
  return false;
}

}  // namespace kestrow::gui
