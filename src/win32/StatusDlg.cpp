#include "StatusDlg.h"

#include <commctrl.h>

#include "WinText.h"
#include "resource.h"

namespace kestrow::win32 {
namespace {

// How often the window gets to paint while sectors are read.
constexpr DWORD kPumpMilliseconds = 50;
// The window's client area with the rescue status (dialog units): the
// status text ends at 37 + 45, 7 above the bottom.
constexpr LONG kRescueWidth = 280;
constexpr LONG kRescueHeight = 89;

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

void CStatusDlg::ShowRescueStatus(const std::string& text) {
  if (!m_hWnd) return;
  if (!m_rescueShown) {
    // The window grows to the status lines under the bar the first time.
    RECT client{0, 0, kRescueWidth, kRescueHeight};
    MapDialogRect(m_hWnd, &client);
    const auto style = static_cast<DWORD>(GetWindowLongW(m_hWnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(m_hWnd, GWL_EXSTYLE));
    AdjustWindowRectEx(&client, style, FALSE, exStyle);
    SetWindowPos(m_hWnd, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(Item(IDC_RESCUE_STATUS), SW_SHOW);
    m_rescueShown = true;
  }
  SetItemText(m_hWnd, IDC_RESCUE_STATUS, text);
  if (GetTickCount() - m_lastPump >= kPumpMilliseconds) PumpMessages();
}

bool CStatusDlg::CancelRequested() {
  // The window takes the Cancel click between reads, however long they take.
  if (m_hWnd && GetTickCount() - m_lastPump >= kPumpMilliseconds) PumpMessages();
  return m_cancelRequested;
}

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
