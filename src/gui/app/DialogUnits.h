// Dialog units, as the dialog templates give positions and sizes: a
// horizontal unit is a quarter of the dialog font's average character width,
// a vertical unit an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace kestrow::gui {

// The font of every dialog: the desktop's font at 9 points.
QFont DialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int cx, int cy) const;
  QSize Size(int cx, int cy) const;

  int BaseWidth() const { return m_baseWidth; }
  int BaseHeight() const { return m_baseHeight; }

 private:
  int m_baseWidth;   // average character width in pixels
  int m_baseHeight;  // character height in pixels
};

// Gives `dialog` the dialog font and a fixed size of cx × cy dialog units;
// returns the units for placing its controls.
DialogUnits SetUpDialogFrame(QWidget& dialog, int cx, int cy);

}  // namespace kestrow::gui

namespace kestrow::gui {

// The buttons of a dialog's caption: a close box when it has a system menu,
// and a minimise box where the template asks for one.
enum class CaptionButtons { kNone, kClose, kCloseAndMinimize, kCloseAndMaximize };
void SetCaptionButtons(QWidget& dialog, CaptionButtons buttons);

}  // namespace kestrow::gui
