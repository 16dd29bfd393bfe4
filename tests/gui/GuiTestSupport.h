// What the Qt face's tests share: a host that answers the dialogs' questions
// and records their messages; the discs in memory and the scripted
// transports are the application layer tests' (AppTestSupport.h).
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/UiHost.h"

namespace kestrow::guitest {

using apptest::BrowsableDisc;
using apptest::DiscFile;
using apptest::DiscScript;
using apptest::DiscShelf;
using apptest::DiscWithoutMdb;
using apptest::NumberedFiles;
using apptest::ObservableCore;
using apptest::PlainDisc;
using apptest::ReadGate;
using apptest::RecoverableDisc;
using apptest::Row;

struct ShownMessage {
  QString text;
  gui::MessageStyle style;
};

// Installed for its lifetime: records every message box, answers the file
// and folder dialogs with what the test set, and runs modal dialogs through
// `onModal` (Rejected when unset).
class RecordingHost : public gui::UiHost {
 public:
  RecordingHost();
  ~RecordingHost() override;

  void ShowMessage(QWidget* owner, const QString& text, gui::MessageStyle style) override;
  bool AskYesNo(QWidget* owner, const QString& text) override;
  std::optional<QString> GetSaveFileName(QWidget* owner, const QString& initialName,
                                         const QString& defaultSuffix) override;
  std::optional<QString> GetOpenFileName(QWidget* owner, const QString& title, const QString& filter) override;
  std::optional<QString> GetExistingDirectory(QWidget* owner, const QString& title) override;
  int RunModal(QDialog& dialog) override;

  QStringList Texts() const;
  int Count(const char* text) const;

  std::vector<ShownMessage> messages;
  QStringList questions;  // every Yes/No question, answered with `yesAnswer`
  bool yesAnswer = false;
  // Answers, and what was asked.
  std::optional<QString> saveAnswer;
  std::optional<QString> openAnswer;
  std::optional<QString> folderAnswer;
  QStringList saveRequests;    // "initialName.suffix" per save dialog
  QStringList folderRequests;  // titles of the folder browsers
  QStringList modalDialogs;    // class names of the dialogs run modally
  std::function<int(QDialog&)> onModal;

 private:
  gui::UiHost* m_previous;
};

// The contents of a file, or nothing when it does not exist.
std::optional<std::string> ReadWholeFile(const QString& path);
using apptest::ReadWholeFile;

}  // namespace kestrow::guitest
