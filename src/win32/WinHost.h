// The application layer's host in the Win32 face: message boxes through
// MessageBoxW (a failure's box shows the warning icon), the common file
// dialogs, the shell's folder browser, the modal dialogs from the program's
// templates, and settings in the registry under HKCU\Software\KestrowDiag.
// Tests derive from it to record instead of waiting for a person.
#pragma once

#include <windows.h>

#include "app/Host.h"

namespace kestrow::win32 {

// HKCU\Software\KestrowDiag: a key "FileList/MacRomanNames" is the DWORD
// value MacRomanNames of the subkey FileList.
class RegistrySettings : public app::SettingsStore {
 public:
  bool GetBool(const std::string& key, bool fallback) override;
  void SetBool(const std::string& key, bool value) override;
};

class WinHost : public app::Host {
 public:
  // The owner of message boxes when no window of the program is active.
  void SetMainWindow(HWND window) { m_mainWindow = window; }
  // The window in front: the thread's active window, else the main dialog.
  HWND Owner() const;

  void ShowMessage(const std::string& text, app::MessageStyle style) override;
  bool AskYesNo(const std::string& text) override;
  std::optional<std::string> ChooseSaveFile(const std::string& initialName,
                                             const std::string& defaultExtension) override;
  std::optional<std::string> ChooseOpenFile(const std::string& title,
                                             const std::vector<app::FileFilter>& filters) override;
  std::optional<std::string> BrowseForFolder(const std::string& title) override;
  std::optional<app::SectorRange> ChooseSectorRange(std::uint32_t sectorCount) override;
  std::unique_ptr<app::ProgressWindow> OpenProgressWindow() override;
  void RunFileList(app::FileListSession& session) override;
  void ShowDamageReport(const DamageReport& report, const std::vector<std::string>& sourceFiles) override;
  void ShowAboutBox() override;
  void SetBusy(bool busy) override;
  app::SettingsStore& Settings() override { return m_settings; }

 private:
  HWND m_mainWindow = nullptr;
  RegistrySettings m_settings;
  int m_busyDepth = 0;
  HCURSOR m_previousCursor = nullptr;
};

}  // namespace kestrow::win32
