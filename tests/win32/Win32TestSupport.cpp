#include "Win32TestSupport.h"

#include <commctrl.h>

#include <chrono>
#include <thread>

#include "DamageReportDlg.h"
#include "FileListDlg.h"
#include "SelectSectorDlg.h"
#include "WinText.h"

namespace kestrow::win32test {

bool TestHost::AskYesNo(const std::string& text) {
  questions.push_back(text);
  return yesAnswer;
}

std::optional<std::string> TestHost::ChooseSaveFile(const std::string& initialName, const std::string& extension) {
  saveRequests.push_back(initialName + "." + extension);
  return saveAnswer;
}

std::optional<std::string> TestHost::BrowseForFolder(const std::string& title) {
  folderRequests.push_back(title);
  return folderAnswer;
}

std::optional<app::SectorRange> TestHost::ChooseSectorRange(std::uint32_t sectorCount) {
  win32::CSelectSectorDlg dialog(*this, sectorCount);
  dialog.Create(Owner());
  if (onSectorRange) onSectorRange(dialog.Handle());
  if (!dialog.Ended() || dialog.Result() != IDOK) return std::nullopt;
  return app::SectorRange{dialog.m_nStartSector, dialog.m_nEndSector, dialog.m_bRescue};
}

void TestHost::RunFileList(app::FileListSession& session) {
  win32::CFileListDlg dialog(session);
  dialog.Create(Owner());
  if (onFileList) onFileList(dialog.Handle(), session);
}

void TestHost::ShowDamageReport(const DamageReport& report, const std::vector<std::string>& sourceFiles) {
  win32::CDamageReportDlg dialog(*this, report, sourceFiles);
  dialog.Create(Owner());
  if (onDamageReport) onDamageReport(dialog.Handle());
}

std::vector<std::string> TestHost::Texts() const {
  std::vector<std::string> texts;
  for (const auto& m : messages) texts.push_back(m.text);
  return texts;
}

bool PumpUntil(const std::function<bool()>& done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void Command(HWND dialog, int id, int code) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string ItemText(HWND dialog, int id) { return win32::GetItemText(dialog, id); }

std::string CellText(HWND list, int row, int column) {
  wchar_t text[1024] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 1024;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return win32::Narrow(text);
}

std::string ColumnTitle(HWND list, int column) {
  wchar_t text[256] = {};
  LVCOLUMNW info{};
  info.mask = LVCF_TEXT;
  info.pszText = text;
  info.cchTextMax = 256;
  SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
  return win32::Narrow(text);
}

}  // namespace kestrow::win32test
