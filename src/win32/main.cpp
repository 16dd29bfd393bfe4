// KestrowDiag.exe, the desktop application on Windows: the main dialog over
// the CD-ROM drives and the disc images named on the command line.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "MainDlg.h"
#include "WinHost.h"
#include "WinText.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace kestrow;
  // The folder browser's new style needs COM on this thread.
  const HRESULT ole = OleInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  std::vector<std::string> images;
  int count = 0;
  if (LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) images.push_back(win32::Narrow(arguments[i]));
    LocalFree(arguments);
  }
  win32::WinHost host;
  win32::CKestrowDiagDlg dialog(host, app::DefaultCoreFactory(), [] { return win32::ListCdRomDriveLetters(); },
                                images);
  dialog.DoModal(nullptr);
  if (SUCCEEDED(ole)) OleUninitialize();
  return 0;
}
