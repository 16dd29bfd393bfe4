#include "Dialog.h"

namespace kestrow::win32 {

Dialog::~Dialog() {
  if (!m_modal && m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

INT_PTR Dialog::DoModal(HWND owner) {
  m_modal = true;
  m_ended = false;
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), owner, DialogProc,
                                         reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  return result;
}

HWND Dialog::Create(HWND owner) {
  m_modal = false;
  m_ended = false;
  CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), owner, DialogProc,
                     reinterpret_cast<LPARAM>(this));
  if (m_hWnd) ShowWindow(m_hWnd, SW_SHOW);
  return m_hWnd;
}

void Dialog::End(INT_PTR result) {
  m_result = result;
  m_ended = true;
  if (m_modal) {
    EndDialog(m_hWnd, result);
  } else if (m_hWnd) {
    HWND window = m_hWnd;
    DestroyWindow(window);
  }
}

INT_PTR Dialog::OnMessage(UINT, WPARAM, LPARAM) { return FALSE; }

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_hWnd = window;
    return self->OnInitDialog();
  }
  self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_COMMAND) return self->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
  const INT_PTR result = self->OnMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->m_hWnd = nullptr;
  }
  return result;
}

}  // namespace kestrow::win32
