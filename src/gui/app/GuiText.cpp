#include "app/GuiText.h"

#include "text/CodePage.h"

namespace kestrow::gui::text {

QString FromDiscBytes(std::string_view bytes) {
  return QString::fromStdString(Windows1252ToUtf8(bytes));
}

}  // namespace kestrow::gui::text
