#include "app/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace kestrow::gui {
namespace {

// The average character width is measured over the 52 letters of the alphabet.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int MulDiv(int value, int numerator, int denominator) {
  return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
}

}  // namespace

QFont DialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(9);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  m_baseWidth = std::max(1, MulDiv(metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)), 1, 52));
  m_baseHeight = std::max(1, metrics.height());
}

int DialogUnits::X(int units) const { return MulDiv(units, m_baseWidth, 4); }

int DialogUnits::Y(int units) const { return MulDiv(units, m_baseHeight, 8); }

QRect DialogUnits::Rect(int x, int y, int cx, int cy) const {
  return QRect(X(x), Y(y), X(cx), Y(cy));
}

QSize DialogUnits::Size(int cx, int cy) const { return QSize(X(cx), Y(cy)); }

DialogUnits SetUpDialogFrame(QWidget& dialog, int cx, int cy) {
  dialog.setFont(DialogFont());
  const DialogUnits units(dialog.font());
  dialog.setFixedSize(units.Size(cx, cy));
  return units;
}

}  // namespace kestrow::gui

namespace kestrow::gui {

void SetCaptionButtons(QWidget& dialog, CaptionButtons buttons) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (buttons != CaptionButtons::kNone) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (buttons == CaptionButtons::kCloseAndMinimize) flags |= Qt::WindowMinimizeButtonHint;
  if (buttons == CaptionButtons::kCloseAndMaximize) flags |= Qt::WindowMaximizeButtonHint;
  dialog.setWindowFlags(flags);
}

}  // namespace kestrow::gui
