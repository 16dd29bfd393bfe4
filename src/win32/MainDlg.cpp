#include "MainDlg.h"

#include "WinHost.h"
#include "WinText.h"
#include "resource.h"

namespace kestrow::win32 {

std::vector<std::string> ListCdRomDriveLetters() {
  std::vector<std::string> drives;
  for (char letter = 'D'; letter <= 'Y'; ++letter) {
    const wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\0'};
    if (GetDriveTypeW(root) == DRIVE_CDROM) drives.push_back(std::string(1, letter) + ":");
  }
  return drives;
}

CKestrowDiagDlg::CKestrowDiagDlg(WinHost& host, app::CoreFactory makeCore, app::DriveLister listDrives,
                                 std::vector<std::string> images)
    : Dialog(IDD_KESTROWDIAG_DIALOG),
      m_host(host),
      m_commands(host, std::move(makeCore)),
      m_listDrives(std::move(listDrives)),
      m_images(std::move(images)) {
  HINSTANCE module = GetModuleHandleW(nullptr);
  m_hIcon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  m_hSmallIcon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

CKestrowDiagDlg::~CKestrowDiagDlg() {
  if (m_hIcon) DestroyIcon(m_hIcon);
  if (m_hSmallIcon) DestroyIcon(m_hSmallIcon);
}

BOOL CKestrowDiagDlg::OnInitDialog() {
  m_host.SetMainWindow(m_hWnd);
  if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
    const std::string about = LoadStringU(IDS_ABOUTBOX);
    if (!about.empty()) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, Widen(about).c_str());
    }
  }
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
  m_commands.FillSources(m_listDrives(), m_images);
  FillDriveList();
  // The dialog opens all the same, with an empty list.
  m_commands.WarnWhenNoDrive();
  return TRUE;  // "Check Format...", the first tab stop, has the focus
}

void CKestrowDiagDlg::FillDriveList() {
  HWND combo = Item(IDC_COMBO_DRIVE);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  const auto& items = m_commands.Sources().Items();
  const std::optional<std::size_t> selected = m_commands.Sources().Selected();
  // The list sorts itself; each item keeps the index of its source.
  for (std::size_t i = 0; i < items.size(); ++i) {
    const LRESULT at = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(items[i].shown).c_str()));
    if (at < 0) continue;
    SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(i));
  }
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT at = 0; selected && at < count; ++at) {
    if (static_cast<std::size_t>(SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(at), 0)) == *selected) {
      SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
    }
  }
}

void CKestrowDiagDlg::TakeSelection() {
  HWND combo = Item(IDC_COMBO_DRIVE);
  const LRESULT at = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  // The drop-down list's text is its selected item's; none, no source.
  const bool none = at == CB_ERR || GetWindowTextU(combo).empty();
  m_commands.Sources().Select(none ? m_commands.Sources().Items().size()
                                   : static_cast<std::size_t>(SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(at), 0)));
}

bool CKestrowDiagDlg::GetSelectedDrive(std::string& source, std::int32_t& sectorCount) {
  TakeSelection();
  return m_commands.GetSelectedDrive(source, sectorCount);
}

bool CKestrowDiagDlg::OnCommand(int id, int code) {
  if (id != IDC_COMBO_DRIVE && id != IDOK && id != IDCANCEL) TakeSelection();
  switch (id) {
    case IDC_CHECK_FORMAT: m_commands.OnCheckFormat(); return true;
    case IDC_BROWSE_FILE_LIST: m_commands.OnBrowseFileList(); return true;
    case IDC_GET_VOLUME_SIZE: m_commands.OnGetVolumeSize(); return true;
    case IDC_PHYSICAL_DUMP: m_commands.OnPhysicalDump(); return true;
    case IDC_OPEN_IMAGE:
      if (m_commands.OnOpenImage()) FillDriveList();
      return true;
    case IDC_LOGO:
      if (code == STN_CLICKED) m_commands.OnAbout();
      return true;
    case IDC_COMBO_DRIVE:
      if (code == CBN_SELCHANGE) TakeSelection();
      return true;
    case IDOK:      // Enter while no button has the focus
    case IDCANCEL:  // "Exit", Escape, the close box
      End(id);
      return true;
    default: return false;
  }
}

void CKestrowDiagDlg::PaintIcon() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int cx = GetSystemMetrics(SM_CXICON);
  const int cy = GetSystemMetrics(SM_CYICON);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  DrawIcon(dc, (client.right - client.left - cx + 1) / 2, (client.bottom - client.top - cy + 1) / 2, m_hIcon);
  EndPaint(m_hWnd, &paint);
}

INT_PTR CKestrowDiagDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
      m_commands.OnAbout();
      return TRUE;
    case WM_PAINT:
      if (!IsIconic(m_hWnd)) return FALSE;
      PaintIcon();
      return TRUE;
    case WM_QUERYDRAGICON:
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(m_hIcon));
      return reinterpret_cast<INT_PTR>(m_hIcon);
    default: return FALSE;
  }
}

}  // namespace kestrow::win32
