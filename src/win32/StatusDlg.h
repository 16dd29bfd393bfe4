// The progress window of the physical dump (template 140): "Reading
// done/total...", a progress bar and Cancel; no close box. It is shown
// modeless for as long as the object lives, its owner disabled meanwhile.
#pragma once

#include "Dialog.h"
#include "app/Host.h"

namespace kestrow::win32 {

class CStatusDlg : public Dialog, public app::ProgressWindow {
 public:
  explicit CStatusDlg(HWND owner);
  ~CStatusDlg() override;

  void ShowProgress(const std::string& text, int done, int total) override;
  void ShowRescueStatus(const std::string& text) override;
  bool CancelRequested() override;

 protected:
  bool OnCommand(int id, int code) override;

 private:
  // Lets the window paint and take a click on Cancel.
  void PumpMessages();

  HWND m_owner;
  bool m_ownerWasEnabled = false;
  bool m_cancelRequested = false;
  bool m_rescueShown = false;
  DWORD m_lastPump = 0;
};

}  // namespace kestrow::win32
