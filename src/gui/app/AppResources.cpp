#include "app/AppResources.h"

// The resource file is compiled into a static library; nothing would pull it
// into a program unless it is registered by name.
static void RegisterResources() { Q_INIT_RESOURCE(kestrowdiag); }

namespace kestrow::gui {
namespace {

void EnsureResources() {
  static const bool registered = [] {
    RegisterResources();
    return true;
  }();
  (void)registered;
}

}  // namespace

QIcon AppIcon() {
  EnsureResources();
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/kestrowdiag-48.png"), QSize(48, 48));
  icon.addFile(QStringLiteral(":/icons/kestrowdiag-32.png"), QSize(32, 32));
  return icon;
}

QPixmap AppIconPixmap(int size) {
  EnsureResources();
  return QPixmap(size >= 48 ? QStringLiteral(":/icons/kestrowdiag-48.png")
                            : QStringLiteral(":/icons/kestrowdiag-32.png"));
}

QPixmap LogoPixmap() {
  EnsureResources();
  return QPixmap(QStringLiteral(":/logo.png"));
}

}  // namespace kestrow::gui
