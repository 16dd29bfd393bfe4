#include "Anchors.h"

#include <algorithm>

namespace kestrow::win32 {

void Anchors::Capture(HWND dialog, std::initializer_list<std::pair<int, Anchor>> controls) {
  RECT client{};
  GetClientRect(dialog, &client);
  m_baseClient = {client.right - client.left, client.bottom - client.top};
  RECT window{};
  GetWindowRect(dialog, &window);
  m_baseWindow = {window.right - window.left, window.bottom - window.top};
  for (const auto& [id, anchor] : controls) {
    RECT rect{};
    HWND control = GetDlgItem(dialog, id);
    if (!control) continue;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    m_placed.push_back({id, rect, anchor});
  }
}

void Anchors::Apply(HWND dialog) const {
  RECT client{};
  GetClientRect(dialog, &client);
  const LONG dx = std::max<LONG>(client.right - client.left - m_baseClient.cx, 0);
  const LONG dy = std::max<LONG>(client.bottom - client.top - m_baseClient.cy, 0);
  for (const Placed& placed : m_placed) {
    RECT rect = placed.base;
    switch (placed.anchor) {
      case Anchor::kGrow:
        rect.right += dx;
        rect.bottom += dy;
        break;
      case Anchor::kWiden:
        rect.right += dx;
        break;
      case Anchor::kDown:
        OffsetRect(&rect, 0, dy);
        break;
      case Anchor::kDownRight:
        OffsetRect(&rect, dx, dy);
        break;
    }
    SetWindowPos(GetDlgItem(dialog, placed.id), nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(dialog, nullptr, TRUE);
}

void Anchors::LimitSize(LPARAM minMaxInfo) const {
  auto* info = reinterpret_cast<MINMAXINFO*>(minMaxInfo);
  if (m_baseWindow.cx > 0) info->ptMinTrackSize = {m_baseWindow.cx, m_baseWindow.cy};
}

}  // namespace kestrow::win32
