#include "app/GuiText.h"

#include "text/CodePage.h"

namespace kestrow::gui::text {

QString WithZeroSectorNote(const QString& message, std::size_t zeroSectors) {
  if (zeroSectors == 0) return message;
  return message + QStringLiteral("\n\n") + QString::fromLatin1(kZeroSectorsFormat).arg(zeroSectors);
}

QString FromDiscBytes(std::string_view bytes, CodePage codePage) {
  return QString::fromStdString(DiscTextToUtf8(bytes, codePage));
}

}  // namespace kestrow::gui::text
