#include "DamageReportDlg.h"

#include <commctrl.h>

#include "WinText.h"
#include "app/AppText.h"
#include "app/DamageText.h"
#include "resource.h"

namespace kestrow::win32 {

CDamageReportDlg::CDamageReportDlg(app::Host& host, DamageReport report, std::vector<std::string> sourceFiles)
    : Dialog(IDD_DAMAGEREPORT), m_host(host), m_report(std::move(report)), m_sourceFiles(std::move(sourceFiles)) {}

BOOL CDamageReportDlg::OnInitDialog() {
  SetItemText(m_hWnd, IDC_DAMAGE_SUMMARY, app::DamageSummary(m_report));
  HWND list = Item(IDC_DAMAGE_LIST);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, ~0u, LVS_EX_FULLROWSELECT);
  const char* titles[] = {app::text::kPathColumn, app::text::kStatusColumn, app::text::kLostBytesColumn};
  RECT client{};
  GetClientRect(list, &client);
  const int widths[] = {static_cast<int>(client.right) * 55 / 100, static_cast<int>(client.right) * 12 / 100,
                        static_cast<int>(client.right) * 30 / 100};
  for (int c = 0; c < 3; ++c) {
    std::wstring title = Widen(titles[c]);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
    column.fmt = LVCFMT_LEFT;
    column.cx = widths[c];
    column.pszText = title.data();
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
  }
  int index = 0;
  for (const app::DamageRow& row : app::DamageRows(m_report)) {
    std::wstring cells[] = {Widen(row.path), Widen(row.status), Widen(row.lostBytes)};
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index++;
    item.pszText = cells[0].data();
    const auto inserted = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    for (int c = 1; c < 3; ++c) {
      item.iItem = inserted;
      item.iSubItem = c;
      item.pszText = cells[c].data();
      SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(inserted), reinterpret_cast<LPARAM>(&item));
    }
  }
  return TRUE;
}

bool CDamageReportDlg::OnCommand(int id, int) {
  if (id == IDC_SAVE_REPORT) {
    app::SaveDamageReport(m_host, m_report, m_sourceFiles);
    return true;
  }
  if (id == IDOK || id == IDCANCEL) {
    End(id);
    return true;
  }
  return false;
}

}  // namespace kestrow::win32
