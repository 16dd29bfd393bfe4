#include "SelectSectorDlg.h"

#include <string>

#include "WinText.h"
#include "app/SectorRangeCheck.h"
#include "resource.h"

namespace kestrow::win32 {

CSelectSectorDlg::CSelectSectorDlg(app::Host& host, std::uint32_t maxSector)
    : Dialog(IDD_SELECTSECTOR), m_nEndSector(maxSector), m_nMaxSector(maxSector), m_host(host) {}

BOOL CSelectSectorDlg::OnInitDialog() {
  SetItemText(m_hWnd, IDC_START_SECTOR, std::to_string(m_nStartSector));
  SetItemText(m_hWnd, IDC_END_SECTOR, std::to_string(m_nEndSector));
  CheckDlgButton(m_hWnd, IDC_RESCUE_IMAGE, m_bRescue ? BST_CHECKED : BST_UNCHECKED);
  ShowLbas();
  return TRUE;  // OK, the first tab stop, has the focus
}

bool CSelectSectorDlg::SaveAndValidate() {
  const app::SectorRangeCheck check = app::CheckSectorRange(GetItemText(m_hWnd, IDC_START_SECTOR),
                                                            GetItemText(m_hWnd, IDC_END_SECTOR), m_nMaxSector);
  if (!check.range) {
    m_host.ShowMessage(check.message, app::MessageStyle::kOk);
    HWND edit = Item(check.focus == app::SectorEdit::kStart ? IDC_START_SECTOR : IDC_END_SECTOR);
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return false;
  }
  m_nStartSector = check.range->start;
  m_nEndSector = check.range->end;
  m_bRescue = IsDlgButtonChecked(m_hWnd, IDC_RESCUE_IMAGE) == BST_CHECKED;
  return true;
}

void CSelectSectorDlg::ShowLbas() {
  SetItemText(m_hWnd, IDC_SECTOR_LBAS,
              app::SectorLbasText(GetItemText(m_hWnd, IDC_START_SECTOR), GetItemText(m_hWnd, IDC_END_SECTOR)));
}

bool CSelectSectorDlg::OnCommand(int id, int code) {
  if ((id == IDC_START_SECTOR || id == IDC_END_SECTOR) && code == EN_CHANGE) {
    ShowLbas();
    return true;
  }
  if (id == IDOK) {
    if (SaveAndValidate()) End(IDOK);
    return true;
  }
  if (id == IDCANCEL) {
    End(IDCANCEL);
    return true;
  }
  return false;
}

}  // namespace kestrow::win32
