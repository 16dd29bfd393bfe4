// A dialog from a template, run modally or created modeless (the in-process
// tests drive modeless ones), with its messages handed to a member.
#pragma once

#include <windows.h>

namespace kestrow::win32 {

class Dialog {
 public:
  explicit Dialog(int templateId) : m_templateId(templateId) {}
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog modally over `owner`; its result (IDOK, IDCANCEL, ...).
  INT_PTR DoModal(HWND owner);
  // Creates it modeless over `owner` and shows it.
  HWND Create(HWND owner);
  // Ends a modal dialog with `result`, or destroys a modeless one.
  void End(INT_PTR result);

  HWND Handle() const { return m_hWnd; }
  HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
  bool Ended() const { return m_ended; }
  INT_PTR Result() const { return m_result; }

 protected:
  // WM_INITDIALOG; TRUE lets the dialog manager give the focus to the first tab stop.
  virtual BOOL OnInitDialog() { return TRUE; }
  // WM_COMMAND; true when handled.
  virtual bool OnCommand(int id, int code) = 0;
  // Every other message; a result for the dialog manager (FALSE: not handled).
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  int m_templateId;
  bool m_modal = false;
  bool m_ended = false;
  INT_PTR m_result = 0;
};

}  // namespace kestrow::win32
