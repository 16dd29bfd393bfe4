// Drives KestrowDiag.exe as a person would, from outside, by the controls'
// ids: starts it on a disc image, browses the file list, selects every row,
// recovers them through the real folder browser into FOLDER, answers
// "Done!", and closes the program.
//   kestrow_win32_smoke KestrowDiag.exe IMAGE FOLDER
// Exit status 0 when every step happened; otherwise it says which did not.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"

namespace {

DWORD g_process = 0;

void Fail(const char* step) {
  std::fprintf(stderr, "smoke: %s\n", step);
  std::fflush(stderr);
  std::exit(1);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

// A visible top-level dialog of the program, other than `except`, whose
// caption is `caption` (any caption when empty).
HWND FindDialog(const std::wstring& caption, const std::vector<HWND>& except = {}) {
  struct Search {
    std::wstring caption;
    std::vector<HWND> except;
    HWND found = nullptr;
  } search{caption, except};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != g_process || !IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
        for (HWND other : s->except) {
          if (other == window) return TRUE;
        }
        if (!s->caption.empty() && TextOf(window) != s->caption) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForDialog(const std::wstring& caption, const char* step, const std::vector<HWND>& except = {}) {
  for (int tries = 0; tries < 600; ++tries) {
    if (HWND window = FindDialog(caption, except)) return window;
    Sleep(50);
  }
  Fail(step);
  return nullptr;
}

void Click(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Bytes copied into the program's memory, for a message that takes a pointer.
class RemoteCopy {
 public:
  RemoteCopy(HANDLE process, const void* bytes, std::size_t size) : m_process(process) {
    m_address = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!m_address || !WriteProcessMemory(process, m_address, bytes, size, nullptr)) Fail("copying into the program");
  }
  ~RemoteCopy() { VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE); }
  LPARAM Address() const { return reinterpret_cast<LPARAM>(m_address); }

 private:
  HANDLE m_process;
  void* m_address = nullptr;
};

// The text of the tree view's selected item, read across the process border.
std::wstring SelectedTreeText(HANDLE process, HWND tree) {
  const auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!item) return {};
  constexpr int kChars = 512;
  struct Block {
    TVITEMW item;
    wchar_t text[kChars];
  };
  Block block{};
  auto* remote = static_cast<Block*>(
      VirtualAllocEx(process, nullptr, sizeof(Block), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!remote) return {};
  block.item.mask = TVIF_TEXT;
  block.item.hItem = item;
  block.item.pszText = remote->text;
  block.item.cchTextMax = kChars;
  std::wstring text;
  if (WriteProcessMemory(process, remote, &block, sizeof block, nullptr) &&
      SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) &&
      ReadProcessMemory(process, remote, &block, sizeof block, nullptr)) {
    block.text[kChars - 1] = L'\0';
    text = block.text;
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return text;
}

void ExpectControl(HWND dialog, int id, const wchar_t* text) {
  HWND control = GetDlgItem(dialog, id);
  if (!control || (text && TextOf(control) != text)) {
    std::fprintf(stderr, "smoke: control %d is missing or reads \"%ls\"\n", id, control ? TextOf(control).c_str() : L"");
    std::exit(1);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kestrow_win32_smoke KestrowDiag.exe IMAGE FOLDER\n");
    return 2;
  }
  std::wstring command = L"\"" + std::wstring(argv[1]) + L"\" \"" + argv[2] + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(argv[1], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    Fail("KestrowDiag.exe could not be started");
  }
  g_process = info.dwProcessId;
  WaitForInputIdle(info.hProcess, 10000);

  HWND main = WaitForDialog(L"Kestrow Diag", "the main dialog did not open");
  ExpectControl(main, IDC_CHECK_FORMAT, L"Check Format...");
  ExpectControl(main, IDC_BROWSE_FILE_LIST, L"Browse File List...");
  ExpectControl(main, IDC_GET_VOLUME_SIZE, L"Get Volume Size...");
  ExpectControl(main, IDC_PHYSICAL_DUMP, L"Physical Dump...");
  ExpectControl(main, IDC_COMBO_DRIVE, nullptr);
  ExpectControl(main, IDC_LOGO, nullptr);
  ExpectControl(main, IDCANCEL, L"Exit");
  Click(main, IDC_BROWSE_FILE_LIST);

  HWND list = WaitForDialog(L"File List", "the file list did not open");
  ExpectControl(list, IDC_RECOVER_SELECTED, L"Recover Selected Files...");
  HWND view = GetDlgItem(list, IDC_FILE_LIST);
  const auto rows = SendMessageW(view, LVM_GETITEMCOUNT, 0, 0);
  if (rows <= 0) Fail("the file list has no rows");
  LVITEMW all{};
  all.stateMask = LVIS_SELECTED;
  all.state = LVIS_SELECTED;
  {
    RemoteCopy item(info.hProcess, &all, sizeof all);
    SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), item.Address());
  }
  if (SendMessageW(view, LVM_GETSELECTEDCOUNT, 0, 0) != rows) Fail("not every row could be selected");
  Click(list, IDC_RECOVER_SELECTED);

  // The shell's folder browser, over the file list.
  HWND browser = WaitForDialog(L"", "the folder browser did not open", {main, list});
  const std::wstring folder = argv[3];
  // The browser takes the selection once its tree is filled: asked until the
  // tree's selected item is the folder's own name.
  HWND tree = FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
  for (HWND child = nullptr; !tree && (child = FindWindowExW(browser, child, nullptr, nullptr));) {
    tree = FindWindowExW(child, nullptr, WC_TREEVIEWW, nullptr);
  }
  if (!tree) Fail("the folder browser has no folder tree");
  const std::wstring leaf = folder.substr(folder.find_last_of(L"\\/") + 1);
  {
    RemoteCopy path(info.hProcess, folder.c_str(), (folder.size() + 1) * sizeof(wchar_t));
    // A loaded machine may take many seconds to fill the tree: each ask is
    // given two seconds to show, for a minute in all.
    bool selected = false;
    std::wstring shown;
    for (int asks = 0; asks < 30 && !selected; ++asks) {
      SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, path.Address());
      for (int polls = 0; polls < 20 && !selected; ++polls) {
        Sleep(100);
        shown = SelectedTreeText(info.hProcess, tree);
        selected = shown == leaf;
      }
    }
    if (!selected) {
      std::fprintf(stderr, "smoke: the folder browser shows \"%ls\" selected, not \"%ls\"\n", shown.c_str(), leaf.c_str());
      Fail("the folder browser did not take the folder");
    }
  }
  Click(browser, IDOK);

  // "Done!" in the program's message box.
  for (int tries = 0;; ++tries) {
    if (tries > 1200) Fail("no \"Done!\" after the recovery");
    HWND box = FindDialog(L"KestrowDiag", {main, list});
    if (box) {
      const std::wstring text = TextOf(GetDlgItem(box, 0xFFFF));
      if (text != L"Done!") {
        std::fprintf(stderr, "smoke: the program said \"%ls\"\n", text.c_str());
        return 1;
      }
      Click(box, IDOK);
      break;
    }
    Sleep(50);
  }
  Sleep(200);
  Click(list, IDOK);
  Sleep(200);
  Click(main, IDCANCEL);
  if (WaitForSingleObject(info.hProcess, 20000) != WAIT_OBJECT_0) Fail("KestrowDiag.exe did not end");
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  std::fprintf(stderr, "smoke: %ld file(s) recovered through the dialogs\n", static_cast<long>(rows));
  return 0;
}
