// A picture that reports clicks, like a static control with SS_NOTIFY.
#pragma once

#include <QLabel>

namespace kestrow::gui {

class ClickableLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace kestrow::gui
