// The main dialog (template 102): the drive list and the four commands, two
// for discs burned by Kestrow PRO and two for any CD, Open Image..., and the
// about box on the system menu and the logo.
#pragma once

#include <string>
#include <vector>

#include "Dialog.h"
#include "app/MainCommands.h"

namespace kestrow::win32 {

class WinHost;

class CKestrowDiagDlg : public Dialog {
 public:
  // `images` join the drives in the list; the first of them is selected.
  CKestrowDiagDlg(WinHost& host, app::CoreFactory makeCore, app::DriveLister listDrives,
                  std::vector<std::string> images);
  ~CKestrowDiagDlg() override;

  app::MainCommands& Commands() { return m_commands; }
  // The step every command takes first (see app::MainCommands).
  bool GetSelectedDrive(std::string& source, std::int32_t& sectorCount);

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // Shows the sources and their selection in the drive list.
  void FillDriveList();
  // The source the drive list's selected item stands for.
  void TakeSelection();
  void PaintIcon();

  WinHost& m_host;
  app::MainCommands m_commands;
  app::DriveLister m_listDrives;
  std::vector<std::string> m_images;
  HICON m_hIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
};

// The CD-ROM drives among the letters D: to Y:, as "E:".
std::vector<std::string> ListCdRomDriveLetters();

}  // namespace kestrow::win32
