#include "DamageReportDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

#include "WinText.h"
#include "app/AppText.h"
#include "app/DamageText.h"
#include "resource.h"

namespace kestrow::win32 {

CDamageReportDlg::CDamageReportDlg(app::Host& host, DamageReport report, std::vector<std::string> sourceFiles)
    : Dialog(IDD_DAMAGEREPORT), m_host(host), m_report(std::move(report)), m_sourceFiles(std::move(sourceFiles)) {}

BOOL CDamageReportDlg::OnInitDialog() {
  SetItemText(m_hWnd, IDC_DAMAGE_SUMMARY, app::DamageSummary(m_report));
  m_rows = app::DamageRows(m_report);
  HWND list = Item(IDC_DAMAGE_LIST);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, ~0u, LVS_EX_FULLROWSELECT);
  // The status and lost-bytes columns fit their texts; the path takes the rest.
  RECT client{};
  GetClientRect(list, &client);
  const int status = FittingWidth(app::text::kStatusColumn, &app::DamageRow::status);
  const int lost = FittingWidth(app::text::kLostBytesColumn, &app::DamageRow::lostBytes);
  const int path = std::max(static_cast<int>(client.right) - status - lost - GetSystemMetrics(SM_CXVSCROLL), 100);
  const char* titles[] = {app::text::kPathColumn, app::text::kStatusColumn, app::text::kLostBytesColumn};
  const int widths[] = {path, status, lost};
  for (int c = 0; c < 3; ++c) {
    std::wstring title = Widen(titles[c]);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
    column.fmt = LVCFMT_LEFT;
    column.cx = widths[c];
    column.pszText = title.data();
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
  }
  SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(std::min<std::size_t>(m_rows.size(), INT_MAX)), 0);
  m_anchors.Capture(m_hWnd, {{IDC_DAMAGE_SUMMARY, Anchor::kWiden},
                             {IDC_DAMAGE_LIST, Anchor::kGrow},
                             {IDC_SAVE_REPORT, Anchor::kDownRight},
                             {IDOK, Anchor::kDownRight}});
  return TRUE;
}

int CDamageReportDlg::FittingWidth(const char* title, std::string app::DamageRow::*cell) const {
  HWND list = Item(IDC_DAMAGE_LIST);
  const auto width = [list](const std::string& text) {
    const std::wstring wide = Widen(text);
    return static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(wide.c_str())));
  };
  int widest = width(title);
  for (const app::DamageRow& row : m_rows) widest = std::max(widest, width(row.*cell));
  return widest + 16;  // the cell's margins
}

void CDamageReportDlg::FillItem(void* displayInfo) {
  auto* info = static_cast<NMLVDISPINFOW*>(displayInfo);
  if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax <= 0) return;
  const auto row = static_cast<std::size_t>(info->item.iItem);
  std::string text;
  if (row < m_rows.size()) {
    switch (info->item.iSubItem) {
      case 0: text = m_rows[row].path; break;
      case 1: text = m_rows[row].status; break;
      case 2: text = m_rows[row].lostBytes; break;
      default: break;
    }
  }
  // A text longer than the list view's buffer is cut to fit.
  m_cellText = Widen(text);
  const std::size_t length = std::min(m_cellText.size(), static_cast<std::size_t>(info->item.cchTextMax) - 1);
  m_cellText.copy(info->item.pszText, length);
  info->item.pszText[length] = L'\0';
}

INT_PTR CDamageReportDlg::OnMessage(UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom != IDC_DAMAGE_LIST || header->code != LVN_GETDISPINFOW) return FALSE;
      FillItem(reinterpret_cast<void*>(lParam));
      return TRUE;
    }
    case WM_SIZE:
      m_anchors.Apply(m_hWnd);
      return TRUE;
    case WM_GETMINMAXINFO:
      m_anchors.LimitSize(lParam);
      return TRUE;
    default:
      return FALSE;
  }
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
