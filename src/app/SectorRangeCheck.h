// The sector range dialog's check on OK, in its order: the start edit as an
// unsigned number, within 1..N; the end edit the same; the start not after
// the end. The first failure gives the message and the edit that takes the
// focus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Host.h"

namespace kestrow::app {

enum class SectorEdit { kStart, kEnd };

struct SectorRangeCheck {
  std::optional<SectorRange> range;  // when every check passed
  std::string message;               // the first failure's message
  SectorEdit focus = SectorEdit::kStart;
};

SectorRangeCheck CheckSectorRange(std::string_view startText, std::string_view endText, std::uint32_t maxSector);

// The line under the dialog's 1-based fields: the LBAs they mean (sector k
// is LBA k - 1, as every report counts), "?" for a field that names none.
std::string SectorLbasText(std::string_view startText, std::string_view endText);

}  // namespace kestrow::app
