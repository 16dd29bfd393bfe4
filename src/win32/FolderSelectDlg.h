// The destination folder browser of a recovery job: the shell's folder
// browser, run modally over its parent; keeps the chosen path.
#pragma once

#include <windows.h>

#include <string>

namespace kestrow::win32 {

class CFolderSelectDlg {
 public:
  CFolderSelectDlg(HWND parent, std::string title) : m_pParent(parent), m_strTitle(std::move(title)) {}

  // 1 when a folder was chosen (m_strPath holds it; empty when the item
  // chosen has no file-system path), 2 when the browser was cancelled.
  // `csidlRoot` 0: the browser starts at the desktop.
  int BrowseForFolder(int csidlRoot);

  HWND m_pParent;
  std::string m_strDisplayName;  // UTF-8, as the browser returns it
  std::string m_strPath;         // UTF-8
  std::string m_strTitle;
};

}  // namespace kestrow::win32
