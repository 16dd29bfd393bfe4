#include "FolderSelectDlg.h"

#include <shlobj.h>

#include <vector>

#include "WinText.h"

namespace kestrow::win32 {

int CFolderSelectDlg::BrowseForFolder(int csidlRoot) {
  HWND focus = GetFocus();
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator))) allocator = nullptr;
  PIDLIST_ABSOLUTE root = nullptr;
  if (csidlRoot != 0) SHGetSpecialFolderLocation(m_pParent, csidlRoot, &root);
  std::vector<wchar_t> displayName(MAX_PATH + 1, L'\0');
  const std::wstring title = Widen(m_strTitle);
  BROWSEINFOW info{};
  info.hwndOwner = m_pParent;
  info.pidlRoot = root;
  info.pszDisplayName = displayName.data();
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;  // 0x41
  if (m_pParent) EnableWindow(m_pParent, FALSE);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen) {
    // A path of any length the system gives.
    std::vector<wchar_t> path(32768, L'\0');
    m_strPath = SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)
                    ? Narrow(path.data())
                    : std::string();
    m_strDisplayName = Narrow(displayName.data());
    if (allocator) allocator->Free(chosen);
  }
  if (root && allocator) allocator->Free(root);
  if (allocator) allocator->Release();
  if (m_pParent) EnableWindow(m_pParent, TRUE);
  if (focus && IsWindow(focus)) SetFocus(focus);
  if (chosen) return 1;
  m_strDisplayName.clear();
  m_strPath.clear();
  return 2;
}

}  // namespace kestrow::win32
