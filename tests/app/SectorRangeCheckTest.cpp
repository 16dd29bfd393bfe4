// The sector range dialog's check on OK, in its order, with the message and
// the edit that gets the focus; and the texts the layer fills in.
#include <gtest/gtest.h>

#include "app/AppText.h"
#include "app/SectorRangeCheck.h"
#include "rawtools/PhysicalDump.h"
#include "text/Messages.h"

using namespace kestrow;
using namespace kestrow::app;

TEST(SectorRangeCheck, ChecksInOrder) {
  const std::string between = "Please enter an integer between 1 and 1000.";
  struct Case {
    const char* start;
    const char* end;
    std::string message;  // empty: accepted
    SectorEdit focus;
  };
  const Case cases[] = {
      {"", "10", msg::kPositiveInteger, SectorEdit::kStart},
      {"0", "10", between, SectorEdit::kStart},
      {"1001", "1000", between, SectorEdit::kStart},
      {"99999999999", "10", between, SectorEdit::kStart},
      {"1x", "10", msg::kPositiveInteger, SectorEdit::kStart},
      {"", "", msg::kPositiveInteger, SectorEdit::kStart},  // start checked before end
      {"5", "", msg::kPositiveInteger, SectorEdit::kEnd},
      {"5", "1001", between, SectorEdit::kEnd},
      {"5", "0", between, SectorEdit::kEnd},
      {"5", "4", kSectorRangeOrderMessage, SectorEdit::kEnd},
      {"3", "3", "", SectorEdit::kEnd},
      {"1", "1000", "", SectorEdit::kEnd},
  };
  for (const Case& c : cases) {
    const SectorRangeCheck check = CheckSectorRange(c.start, c.end, 1000);
    EXPECT_EQ(check.message, c.message) << c.start << "-" << c.end;
    EXPECT_EQ(check.range.has_value(), c.message.empty());
    if (check.range) {
      EXPECT_EQ(check.range->start, std::stoul(c.start));
      EXPECT_EQ(check.range->end, std::stoul(c.end));
    } else {
      EXPECT_EQ(check.focus, c.focus) << c.start << "-" << c.end;
    }
  }
}

TEST(AppText, FillText) {
  EXPECT_EQ(FillText(text::kScanHitFormat, {"2", "1"}), "2 file(s) damaged, 1 lost.");
  EXPECT_EQ(FillText("%2 before %1, %3 stays", {"a", "b"}), "b before a, %3 stays");
}

// The LBAs under the 1-based fields, as the user types.
TEST(SectorRangeCheck, LbasUnderTheFields) {
  const std::pair<std::pair<const char*, const char*>, const char*> cases[] = {
      {{"1", "1000"}, "LBA 0 to 999"},
      {{"10", "12"}, "LBA 9 to 11"},
      {{"", "12"}, "LBA ? to 11"},
      {{"0", "x"}, "LBA ? to ?"},
  };
  for (const auto& [fields, lbas] : cases) {
    EXPECT_EQ(SectorLbasText(fields.first, fields.second).rfind(lbas, 0), 0u) << lbas;
  }
}
