#include "AboutDlg.h"

#include "WinText.h"
#include "app/AppText.h"
#include "resource.h"

namespace kestrow::win32 {

CAboutDlg::CAboutDlg() : Dialog(IDD_ABOUTBOX) {}

BOOL CAboutDlg::OnInitDialog() {
  SetItemText(m_hWnd, IDC_ABOUT_TEXT, app::text::kAboutText);
  return TRUE;
}

bool CAboutDlg::OnCommand(int id, int) {
  if (id != IDOK && id != IDCANCEL) return false;
  End(id);
  return true;
}

}  // namespace kestrow::win32
