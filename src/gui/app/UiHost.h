// The one road from the dialogs to the things that wait for a person: message
// boxes, the file and folder dialogs, and running a dialog modally.
//
// The program uses the default host, which shows the real Qt dialogs. Tests
// install a host of their own that answers without blocking and records what
// the program told the user.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <vector>

class QDialog;
class QWidget;

namespace kestrow::gui {

// The two kinds of message: a failure or a negative answer (warning icon),
// and a result (information icon). The values are those of the Windows styles.
enum class MessageStyle : unsigned {
  kOk = 0x00,                // MB_OK
  kIconInformation = 0x40,   // MB_ICONINFORMATION
};

// The caption of every message box.
inline constexpr char kMessageCaption[] = "KestrowDiag";

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

// Call before writing `output`: refuses it, with the message, when it is one
// of `sourceFiles` (the image being read, its cue sheet's data file); true
// when it is none of them.
bool OutputSparesTheSource(QWidget* owner, const std::vector<std::string>& sourceFiles, const std::string& output);

}  // namespace kestrow::gui
