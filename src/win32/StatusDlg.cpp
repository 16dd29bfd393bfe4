#include "StatusDlg.h"

#include <commctrl.h>

#include "WinText.h"
#include "resource.h"

namespace kestrow::win32 {
namespace {

// How often the window gets to paint while sectors are read.
constexpr DWORD kPumpMilliseconds = 50;

}  // namespace

CStatusDlg::CStatusDlg(HWND owner) : Dialog(IDD_STATUS), m_owner(owner) {
  // While the loop runs only the progress window takes input.
  if (m_owner) m_ownerWasEnabled = !EnableWindow(m_owner, FALSE);
  Create(m_owner);
  PumpMessages();
}

CStatusDlg::~CStatusDlg() {
  if (m_owner && m_ownerWasEnabled) EnableWindow(m_owner, TRUE);
  if (m_hWnd) DestroyWindow(m_hWnd);
  if (m_owner) SetActiveWindow(m_owner);
}

void CStatusDlg::ShowProgress(const std::string& text, int done, int total) {
  if (!m_hWnd) return;
  SetItemText(m_hWnd, IDC_PROGRESS_TEXT, text);
  SendDlgItemMessageW(m_hWnd, IDC_DUMP_PROGRESS, PBM_SETRANGE32, 0, total > 0 ? total : 1);
  SendDlgItemMessageW(m_hWnd, IDC_DUMP_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(done), 0);
  if (GetTickCount() - m_lastPump >= kPumpMilliseconds) PumpMessages();
}

bool CStatusDlg::CancelRequested() { return m_cancelRequested; }

void CStatusDlg::PumpMessages() {
  MSG message;
  while (m_hWnd && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (!IsDialogMessageW(m_hWnd, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  m_lastPump = GetTickCount();
}

bool CStatusDlg::OnCommand(int id, int) {
  if (id != IDCANCEL) return false;
  // Escape and Cancel ask the dump to end; the window stays until it has.
  m_cancelRequested = true;
  EnableWindow(Item(IDCANCEL), FALSE);
  return true;
}

}  // namespace kestrow::win32
