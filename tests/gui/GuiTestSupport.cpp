#include "GuiTestSupport.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>


namespace kestrow::guitest {

// ---- RecordingHost

namespace {

// The tests keep their settings in a scratch folder of their own, never in
// the user's; a test that changes them puts them back.
void UseScratchSettings() {
  static QTemporaryDir folder;
  static const bool set = [] {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    return true;
  }();
  (void)set;
}

}  // namespace

RecordingHost::RecordingHost() : m_previous(gui::UiHost::Install(this)) { UseScratchSettings(); }

RecordingHost::~RecordingHost() { gui::UiHost::Install(m_previous); }

void RecordingHost::ShowMessage(QWidget*, const QString& text, gui::MessageStyle style) {
  messages.push_back({text, style});
}

bool RecordingHost::AskYesNo(QWidget*, const QString& text) {
  questions << text;
  return yesAnswer;
}

std::optional<QString> RecordingHost::GetSaveFileName(QWidget*, const QString& initialName,
                                                      const QString& defaultSuffix) {
  saveRequests << initialName + QLatin1Char('.') + defaultSuffix;
  return saveAnswer;
}

std::optional<QString> RecordingHost::GetOpenFileName(QWidget*, const QString&, const QString&) {
  return openAnswer;
}

std::optional<QString> RecordingHost::GetExistingDirectory(QWidget*, const QString& title) {
  folderRequests << title;
  return folderAnswer;
}

int RecordingHost::RunModal(QDialog& dialog) {
  modalDialogs << QString::fromLatin1(dialog.metaObject()->className());
  return onModal ? onModal(dialog) : QDialog::Rejected;
}

QStringList RecordingHost::Texts() const {
  QStringList texts;
  for (const ShownMessage& m : messages) texts << m.text;
  return texts;
}

int RecordingHost::Count(const char* text) const { return static_cast<int>(Texts().count(QString::fromUtf8(text))); }

std::optional<std::string> ReadWholeFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll().toStdString();
}

}  // namespace kestrow::guitest
