#include "app/ClickableLabel.h"

#include <QMouseEvent>

namespace kestrow::gui {

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

}  // namespace kestrow::gui
