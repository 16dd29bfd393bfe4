// Controls that follow a resizable dialog: each keeps its place relative to
// the edges it is anchored to, as the template laid it out; the template's
// size is the smallest the window takes.
#pragma once

#include <windows.h>

#include <vector>

namespace kestrow::win32 {

enum class Anchor {
  kGrow,       // grows with the window both ways (the list)
  kWiden,      // grows as wide as the window
  kDown,       // moves down with the bottom edge
  kDownRight,  // moves with the bottom right corner
};

class Anchors {
 public:
  // Call from WM_INITDIALOG, after the controls are placed.
  void Capture(HWND dialog, std::initializer_list<std::pair<int, Anchor>> controls);
  // WM_SIZE: moves the controls for the new client size.
  void Apply(HWND dialog) const;
  // WM_GETMINMAXINFO: the template's size is the smallest.
  void LimitSize(LPARAM minMaxInfo) const;

 private:
  struct Placed {
    int id;
    RECT base;
    Anchor anchor;
  };
  std::vector<Placed> m_placed;
  SIZE m_baseClient{};
  SIZE m_baseWindow{};
};

}  // namespace kestrow::win32
