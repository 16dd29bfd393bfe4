// The Qt face's road to the things that wait for a person: message boxes,
// the file and folder dialogs, and running a dialog modally. QtHost, the
// application layer's host, reaches them all through it.
//
// The program uses the default host, which shows the real Qt dialogs. Tests
// install a host of their own that answers without blocking and records what
// the program told the user.
#pragma once

#include <QString>

#include <optional>

#include "app/Host.h"

class QDialog;
class QWidget;

namespace kestrow::gui {

using app::MessageStyle;

class UiHost {
 public:
  virtual ~UiHost() = default;

  // A modal box with one OK button over `owner`.
  virtual void ShowMessage(QWidget* owner, const QString& text, MessageStyle style);
  // A modal question with Yes and No buttons (No the default); true for Yes.
  virtual bool AskYesNo(QWidget* owner, const QString& text);
  // The save dialog: the chosen full path, or nothing when cancelled. An
  // existing file is only offered after the user confirmed replacing it.
  virtual std::optional<QString> GetSaveFileName(QWidget* owner, const QString& initialName,
                                                 const QString& defaultSuffix);
  // The open dialog for a disc image; nothing when cancelled.
  virtual std::optional<QString> GetOpenFileName(QWidget* owner, const QString& title,
                                                 const QString& filter);
  // The folder browser; nothing when cancelled.
  virtual std::optional<QString> GetExistingDirectory(QWidget* owner, const QString& title);
  // Runs `dialog` modally; its result (QDialog::Accepted or Rejected).
  virtual int RunModal(QDialog& dialog);

  // The host in use: the one installed last, or the default host.
  static UiHost& Current();
  // Installs `host` (nullptr: the default host again); returns the previous one.
  static UiHost* Install(UiHost* host);
};

// Shorthands for the dialogs: a message through the current host.
void AppMessageBox(QWidget* owner, const QString& text, MessageStyle style);
void AppMessageBox(QWidget* owner, const char* text, MessageStyle style);

}  // namespace kestrow::gui
