// The application's artwork from the resource file: the icon (48 and 32
// pixels) and the 172 × 21 logo.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kestrow::gui {

QIcon AppIcon();
QPixmap AppIconPixmap(int size);
QPixmap LogoPixmap();

}  // namespace kestrow::gui
