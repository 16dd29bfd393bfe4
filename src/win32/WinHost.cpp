#include "WinHost.h"

#include <commdlg.h>

#include <vector>

#include "AboutDlg.h"
#include "DamageReportDlg.h"
#include "FileListDlg.h"
#include "FolderSelectDlg.h"
#include "SelectSectorDlg.h"
#include "StatusDlg.h"
#include "WinText.h"

namespace kestrow::win32 {
namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\KestrowDiag";

// "FileList/MacRomanNames": the subkey under the program's key, and the value.
void SplitKey(const std::string& key, std::wstring& subkey, std::wstring& value) {
  const std::size_t slash = key.rfind('/');
  subkey = kSettingsKey;
  if (slash != std::string::npos) {
    std::string folder = key.substr(0, slash);
    for (char& c : folder) c = c == '/' ? '\\' : c;
    subkey += L"\\" + Widen(folder);
  }
  value = Widen(slash == std::string::npos ? key : key.substr(slash + 1));
}

// The file dialogs' buffer: a path of up to 32,767 characters.
constexpr std::size_t kPathBuffer = 32768;

}  // namespace

bool RegistrySettings::GetBool(const std::string& key, bool fallback) {
  std::wstring subkey, value;
  SplitKey(key, subkey, value);
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, subkey.c_str(), value.c_str(), RRF_RT_REG_DWORD, nullptr, &data, &size) !=
      ERROR_SUCCESS) {
    return fallback;
  }
  return data != 0;
}

void RegistrySettings::SetBool(const std::string& key, bool on) {
  std::wstring subkey, value;
  SplitKey(key, subkey, value);
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return;  // not remembered; the option still holds for this window
  }
  const DWORD data = on ? 1 : 0;
  RegSetValueExW(handle, value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  RegCloseKey(handle);
}

HWND WinHost::Owner() const {
  HWND active = GetActiveWindow();
  return active ? active : m_mainWindow;
}

void WinHost::ShowMessage(const std::string& text, app::MessageStyle style) {
  // A box of style MB_OK shows the warning icon.
  const UINT icon = style == app::MessageStyle::kIconInformation ? MB_ICONINFORMATION : MB_ICONEXCLAMATION;
  MessageBoxU(Owner(), text, app::kMessageCaption, MB_OK | icon);
}

bool WinHost::AskYesNo(const std::string& text) {
  return MessageBoxU(Owner(), text, app::kMessageCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::optional<std::string> WinHost::ChooseSaveFile(const std::string& initialName, const std::string& defaultExtension) {
  std::vector<wchar_t> path(kPathBuffer, L'\0');
  const std::wstring initial = Widen(initialName);
  initial.copy(path.data(), std::min(initial.size(), path.size() - 1));
  const std::wstring extension = Widen(defaultExtension);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Owner();
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = extension.c_str();
  dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return std::nullopt;
  return Narrow(path.data());
}

std::optional<std::string> WinHost::ChooseOpenFile(const std::string& title, const std::vector<app::FileFilter>& filters) {
  // "Disc images\0*.bin;*.iso\0All files\0*.*\0\0"
  std::wstring filter;
  for (const app::FileFilter& entry : filters) {
    filter += Widen(entry.name) + L'\0';
    for (std::size_t i = 0; i < entry.patterns.size(); ++i) {
      filter += (i ? L";" : L"") + Widen(entry.patterns[i] == "*" ? "*.*" : entry.patterns[i]);
    }
    filter += L'\0';
  }
  filter += L'\0';
  std::vector<wchar_t> path(kPathBuffer, L'\0');
  const std::wstring caption = Widen(title);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Owner();
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrTitle = caption.c_str();
  dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return Narrow(path.data());
}

std::optional<std::string> WinHost::BrowseForFolder(const std::string& title) {
  CFolderSelectDlg folder(Owner(), title);
  if (folder.BrowseForFolder(0) != 1 || folder.m_strPath.empty()) return std::nullopt;
  return folder.m_strPath;
}

std::optional<app::SectorRange> WinHost::ChooseSectorRange(std::uint32_t sectorCount) {
  CSelectSectorDlg dialog(*this, sectorCount);
  if (dialog.DoModal(Owner()) != IDOK) return std::nullopt;
  return app::SectorRange{dialog.m_nStartSector, dialog.m_nEndSector, dialog.m_bRescue};
}

std::unique_ptr<app::ProgressWindow> WinHost::OpenProgressWindow() {
  return std::make_unique<CStatusDlg>(Owner());
}

void WinHost::RunFileList(app::FileListSession& session) {
  CFileListDlg dialog(session);
  dialog.DoModal(Owner());
}

void WinHost::ShowDamageReport(const DamageReport& report, const std::vector<std::string>& sourceFiles) {
  CDamageReportDlg dialog(*this, report, sourceFiles);
  dialog.DoModal(Owner());
}

void WinHost::ShowAboutBox() {
  CAboutDlg about;
  about.DoModal(Owner());
}

void WinHost::SetBusy(bool busy) {
  if (busy && m_busyDepth++ == 0) m_previousCursor = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  if (!busy && m_busyDepth > 0 && --m_busyDepth == 0) SetCursor(m_previousCursor);
}

}  // namespace kestrow::win32
