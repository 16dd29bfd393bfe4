#include "app/GuiText.h"

#include "text/CodePage.h"

namespace kestrow::gui::text {

QString FromDiscBytes(std::string_view bytes, CodePage codePage) {
  return QString::fromStdString(DiscTextToUtf8(bytes, codePage));
}

}  // namespace kestrow::gui::text
