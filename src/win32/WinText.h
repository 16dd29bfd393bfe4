// UTF-8 inside, UTF-16 at every Win32 call: the conversions and thin
// wrappers of the calls that take or give text.
#pragma once

#include <windows.h>

#include <string>

namespace kestrow::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

void SetItemText(HWND dialog, int id, const std::string& utf8);
std::string GetItemText(HWND dialog, int id);
std::string GetWindowTextU(HWND window);
int MessageBoxU(HWND owner, const std::string& text, const std::string& caption, UINT style);
// A string of the program's string table.
std::string LoadStringU(UINT id);

}  // namespace kestrow::win32
