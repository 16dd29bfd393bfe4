#include "FileListDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

#include "WinText.h"
#include "app/AppText.h"
#include "resource.h"

namespace kestrow::win32 {

CFileListDlg::CFileListDlg(app::FileListSession& session) : Dialog(IDD_FILELIST), m_session(session) {}

CFileListDlg::~CFileListDlg() { m_session.Attach(nullptr); }

void CFileListDlg::InsertColumn(int index, const char* title, int width) {
  std::wstring text = Widen(title);
  LVCOLUMNW column{};
  column.mask = LVCF_FMT | LVCF_TEXT;
  column.fmt = LVCFMT_LEFT;
  column.pszText = text.data();
  SendDlgItemMessageW(m_hWnd, IDC_FILE_LIST, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(&column));
  SendDlgItemMessageW(m_hWnd, IDC_FILE_LIST, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(index),
                      MAKELPARAM(static_cast<WORD>(std::max(width, 0)), 0));
}

int CFileListDlg::ListClientWidth() const {
  RECT client{};
  GetClientRect(Item(IDC_FILE_LIST), &client);
  return static_cast<int>(client.right - client.left);
}

BOOL CFileListDlg::OnInitDialog() {
  SetItemText(m_hWnd, IDC_FILE_COUNT, m_session.FileCountText());
  SetItemText(m_hWnd, IDC_JOB_STATUS, "");
  // Together the columns are 25 pixels narrower than the list's client area;
  // the size column takes 100 pixels, or what its title needs where the
  // font is wider.
  const auto titleWidth = static_cast<int>(SendDlgItemMessageW(
      m_hWnd, IDC_FILE_LIST, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(Widen(app::text::kSizeColumn).c_str())));
  m_sizeColumnWidth = std::max(100, titleWidth + 16);
  InsertColumn(0, app::text::kPathColumn, ListClientWidth() - 25 - m_sizeColumnWidth);
  InsertColumn(1, app::text::kSizeColumn, m_sizeColumnWidth);
  SendDlgItemMessageW(m_hWnd, IDC_FILE_LIST, LVM_SETEXTENDEDLISTVIEWSTYLE, ~0u, LVS_EX_FULLROWSELECT);
  const auto rows = static_cast<WPARAM>(std::min<std::size_t>(m_session.RowCount(), INT_MAX));
  SendDlgItemMessageW(m_hWnd, IDC_FILE_LIST, LVM_SETITEMCOUNT, rows, 0);
  CheckDlgButton(m_hWnd, IDC_MAC_ROMAN, m_session.MacRomanNames() ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(m_hWnd, IDC_RESOURCE_FORKS, m_session.ResourceForksAndDates() ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(m_hWnd, IDC_KEEP_GOING, m_session.KeepGoing() ? BST_CHECKED : BST_UNCHECKED);
  SendDlgItemMessageW(m_hWnd, IDC_JOB_PROGRESS, PBM_SETRANGE32, 0, 1000);
  m_session.Attach(this);
  if (m_session.HasDamageColumn()) RowsChanged(true);
  // The list grows with the window; what lies under it moves with it.
  m_anchors.Capture(m_hWnd, {{IDC_FILE_LIST, Anchor::kGrow},
                             {IDC_FILE_COUNT, Anchor::kWiden},
                             {IDC_JOB_STATUS, Anchor::kDown},
                             {IDC_JOB_PROGRESS, Anchor::kDown},
                             {IDC_MAC_ROMAN, Anchor::kDown},
                             {IDC_RESOURCE_FORKS, Anchor::kDown},
                             {IDC_KEEP_GOING, Anchor::kDown},
                             {IDC_RECOVER_SELECTED, Anchor::kDownRight},
                             {IDC_SAVE_LIST, Anchor::kDownRight},
                             {IDOK, Anchor::kDownRight},
                             {IDC_FIND_DAMAGE, Anchor::kDownRight},
                             {IDC_SAVE_VOLUME_IMAGE, Anchor::kDownRight}});
  return TRUE;  // the list, the first tab stop, has the focus
}

std::vector<int> CFileListDlg::SelectedRows() const {
  std::vector<int> rows;
  HWND list = Item(IDC_FILE_LIST);
  LRESULT row = -1;
  while ((row = SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED)) != -1) {
    rows.push_back(static_cast<int>(row));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CFileListDlg::ShowJobStatus(const std::string& text) { SetItemText(m_hWnd, IDC_JOB_STATUS, text); }

void CFileListDlg::ShowProgress(bool shown, int permille) {
  SendDlgItemMessageW(m_hWnd, IDC_JOB_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(permille), 0);
  ShowWindow(Item(IDC_JOB_PROGRESS), shown ? SW_SHOW : SW_HIDE);
}

void CFileListDlg::StartTimer() {
  SetTimer(m_hWnd, app::FileListSession::kTimerId, app::FileListSession::kTimerMilliseconds, nullptr);
}

void CFileListDlg::StopTimer() { KillTimer(m_hWnd, app::FileListSession::kTimerId); }

void CFileListDlg::EnableJobCommands(bool enabled) {
  EnableWindow(Item(IDC_RECOVER_SELECTED), enabled);
  EnableWindow(Item(IDC_FIND_DAMAGE), enabled);
  EnableWindow(Item(IDC_SAVE_VOLUME_IMAGE), enabled);
}

void CFileListDlg::RowsChanged(bool columnAdded) {
  if (columnAdded) {
    InsertColumn(2, app::text::kDamageColumn, DamageColumnWidth());
    m_damageColumn = true;
    SizePathColumn();
  }
  InvalidateRect(Item(IDC_FILE_LIST), nullptr, TRUE);
}

int CFileListDlg::DamageColumnWidth() const {
  // As wide as its longest text ("not-written"), at least 60 pixels.
  const auto text = static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_FILE_LIST, LVM_GETSTRINGWIDTHW, 0,
                                                          reinterpret_cast<LPARAM>(L"not-written")));
  return std::max(60, text + 16);
}

void CFileListDlg::SizePathColumn() {
  const int others = m_sizeColumnWidth + (m_damageColumn ? DamageColumnWidth() : 0);
  const int path = std::max(ListClientWidth() - 25 - others, 0);
  SendDlgItemMessageW(m_hWnd, IDC_FILE_LIST, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(static_cast<WORD>(path), 0));
}

void CFileListDlg::FillItem(void* displayInfo) {
  auto* info = static_cast<NMLVDISPINFOW*>(displayInfo);
  if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax <= 0) return;
  const auto row = static_cast<std::size_t>(info->item.iItem);
  std::string text;
  if (row < m_session.RowCount()) {
    switch (info->item.iSubItem) {
      case 0: text = m_session.PathText(row); break;
      case 1: text = m_session.SizeText(row); break;
      case 2: text = m_session.DamageText(row); break;
      default: break;
    }
  }
  // A text longer than the list view's buffer is cut to fit.
  m_cellText = Widen(text);
  const std::size_t room = static_cast<std::size_t>(info->item.cchTextMax) - 1;
  const std::size_t length = std::min(m_cellText.size(), room);
  m_cellText.copy(info->item.pszText, length);
  info->item.pszText[length] = L'\0';
}

void CFileListDlg::Close(int result) {
  m_session.StopBeforeClosing();
  End(result);
}

bool CFileListDlg::OnCommand(int id, int code) {
  switch (id) {
    case IDC_RECOVER_SELECTED: m_session.OnRecoverSelectedFiles(); return true;
    case IDC_SAVE_LIST: m_session.OnSaveList(); return true;
    case IDC_FIND_DAMAGE: m_session.OnFindDamage(); return true;
    case IDC_SAVE_VOLUME_IMAGE: m_session.OnSaveVolumeImage(); return true;
    case IDC_MAC_ROMAN:
      if (code == BN_CLICKED) m_session.SetMacRomanNames(IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED);
      return true;
    case IDC_RESOURCE_FORKS:
      if (code == BN_CLICKED) m_session.SetResourceForksAndDates(IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED);
      return true;
    case IDC_KEEP_GOING:
      if (code == BN_CLICKED) m_session.SetKeepGoing(IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED);
      return true;
    case IDOK:      // "Close"
    case IDCANCEL:  // Escape: a running job is stopped as by Close
      Close(id);
      return true;
    default: return false;
  }
}

INT_PTR CFileListDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam != app::FileListSession::kTimerId) return FALSE;
      m_session.OnTimer();
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == IDC_FILE_LIST && header->code == LVN_GETDISPINFOW) {
        FillItem(reinterpret_cast<void*>(lParam));
        return TRUE;
      }
      return FALSE;
    }
    case WM_SIZE:
      m_anchors.Apply(m_hWnd);
      SizePathColumn();
      return TRUE;
    case WM_GETMINMAXINFO:
      m_anchors.LimitSize(lParam);
      return TRUE;
    case WM_CLOSE:
      Close(IDCANCEL);
      return TRUE;
    case WM_DESTROY:
      KillTimer(m_hWnd, app::FileListSession::kTimerId);
      m_session.Attach(nullptr);
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace kestrow::win32
