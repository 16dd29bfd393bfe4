#include "WinText.h"

#include <vector>

#include "platform/Utf16.h"

namespace kestrow::win32 {

std::wstring Widen(const std::string& utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const std::wstring& utf16) {
  return Utf16ToUtf8(std::u16string(utf16.begin(), utf16.end()));
}

void SetItemText(HWND dialog, int id, const std::string& utf8) { SetDlgItemTextW(dialog, id, Widen(utf8).c_str()); }

std::string GetWindowTextU(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(window, text.data(), length + 1);
  return Narrow(text.data());
}

std::string GetItemText(HWND dialog, int id) { return GetWindowTextU(GetDlgItem(dialog, id)); }

int MessageBoxU(HWND owner, const std::string& text, const std::string& caption, UINT style) {
  return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), style);
}

std::string LoadStringU(UINT id) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? Narrow(std::wstring(text, static_cast<std::size_t>(length))) : std::string();
}

}  // namespace kestrow::win32
