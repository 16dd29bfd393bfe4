// What the Win32 face's in-process tests share: a host that records what
// the dialogs tell the user and answers their questions, runs the modal
// windows modeless so a test can drive them with messages, and a pump for
// the messages (the job's timer among them) while a test waits.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "WinHost.h"

namespace kestrow::win32test {

class TestHost : public win32::WinHost {
 public:
  void ShowMessage(const std::string& text, app::MessageStyle style) override { messages.push_back({text, style}); }
  bool AskYesNo(const std::string& text) override;
  std::optional<std::string> ChooseSaveFile(const std::string& initialName, const std::string& extension) override;
  std::optional<std::string> ChooseOpenFile(const std::string&, const std::vector<app::FileFilter>&) override {
    return openAnswer;
  }
  std::optional<std::string> BrowseForFolder(const std::string& title) override;
  // The real dialogs, created modeless over the main window and handed to the test.
  std::optional<app::SectorRange> ChooseSectorRange(std::uint32_t sectorCount) override;
  void RunFileList(app::FileListSession& session) override;
  void ShowDamageReport(const DamageReport& report, const std::vector<std::string>& sourceFiles) override;
  void ShowAboutBox() override { ++aboutBoxes; }

  std::vector<std::string> Texts() const;

  std::vector<apptest::ShownMessage> messages;
  std::vector<std::string> questions;
  bool yesAnswer = false;
  std::optional<std::string> saveAnswer, openAnswer, folderAnswer;
  std::vector<std::string> saveRequests, folderRequests;
  int aboutBoxes = 0;
  // Called with each dialog while it is on the screen; the test ends it.
  std::function<void(HWND dialog)> onSectorRange;
  std::function<void(HWND dialog, app::FileListSession& session)> onFileList;
  std::function<void(HWND dialog)> onDamageReport;
};

// Dispatches the thread's messages until `done` holds or `seconds` pass;
// false on the time-out.
bool PumpUntil(const std::function<bool()>& done, int seconds = 10);

// Clicks a control: the WM_COMMAND its parent gets.
void Command(HWND dialog, int id, int code = BN_CLICKED);

std::string ItemText(HWND dialog, int id);
// A cell of a report view, as it shows it.
std::string CellText(HWND list, int row, int column);
std::string ColumnTitle(HWND list, int column);

}  // namespace kestrow::win32test
