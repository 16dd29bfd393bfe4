// A wait cursor for as long as the object lives, while the user-interface
// thread waits for a drive or for the recovery worker.
#pragma once

#include <QApplication>

namespace kestrow::gui {

class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace kestrow::gui
