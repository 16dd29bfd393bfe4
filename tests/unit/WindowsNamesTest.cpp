// The Windows side of names and sources, as pure functions that run on any
// platform: names Windows refuses, the extended-length path form, drive
// letters as sources, and UTF-8 to UTF-16.
#include <gtest/gtest.h>

#include <optional>

#include "drive/DriveLetter.h"
#include "platform/LongPath.h"
#include "platform/Utf16.h"
#include "recovery/WindowsNames.h"

namespace kestrow {
namespace {

struct NameCase {
  std::string in;
  std::string out;
};

class WindowsSafeNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(WindowsSafeNameTest, GivesANameWindowsCreatesAsItIs) {
  EXPECT_EQ(WindowsSafeName(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WindowsSafeNameTest,
    ::testing::Values(
        // The replacement table, the double quote and the control characters.
        NameCase{"a/b:c*d", "a-b-c-d"}, NameCase{"\\/:*?<>|\"", "---------"}, NameCase{"say \"hi\"", "say -hi-"},
        NameCase{"tab\there\x01\x1f", "tab-here--"}, NameCase{std::string("a\0b", 3), "a-b"},
        NameCase{"\x7f", "\x7f"}, NameCase{"Caf\xC3\xA9 \xE2\x82\xAC", "Caf\xC3\xA9 \xE2\x82\xAC"},
        // Trailing dots and spaces, which Windows would drop.
        NameCase{"name.", "name-"}, NameCase{"name ", "name-"}, NameCase{"name. . ", "name----"},
        NameCase{".", "-"}, NameCase{"..", "--"}, NameCase{"...", "---"}, NameCase{"", "-"},
        NameCase{" lead", " lead"}, NameCase{".hidden", ".hidden"}, NameCase{"a.b", "a.b"},
        // Device names, in any case, with or without an extension.
        NameCase{"CON", "CON-"}, NameCase{"con.txt", "con-.txt"}, NameCase{"Aux.tar.gz", "Aux-.tar.gz"},
        NameCase{"PRN .txt", "PRN- .txt"}, NameCase{"nul", "nul-"}, NameCase{"NUL ", "NUL-"},
        NameCase{"COM1", "COM1-"}, NameCase{"lpt9.doc", "lpt9-.doc"}, NameCase{"COM0", "COM0-"},
        NameCase{"COM\xC2\xB9", "COM\xC2\xB9-"}, NameCase{"lpt\xC2\xB3.x", "lpt\xC2\xB3-.x"},
        NameCase{"CONIN$", "CONIN$-"}, NameCase{"conout$.log", "conout$-.log"},
        // ... and names that only look like them.
        NameCase{"CONSOLE", "CONSOLE"}, NameCase{"COM10", "COM10"}, NameCase{"LPT", "LPT"},
        NameCase{"xCON", "xCON"}, NameCase{"COM1x.txt", "COM1x.txt"}, NameCase{"CON-.txt", "CON-.txt"},
        NameCase{"COM\xC2\xB4", "COM\xC2\xB4"},
        // The form of a short 8.3 alias, which could open another file.
        NameCase{"LETTER~1.TXT", "LETTER-1.TXT"}, NameCase{"abc~12", "abc-12"}, NameCase{"~1", "-1"},
        NameCase{"Long name~1.txt", "Long name~1.txt"}, NameCase{"a~b.txt", "a~b.txt"},
        NameCase{"a~1.html", "a~1.html"}, NameCase{"a~1.b.c", "a~1.b.c"}));

struct LongPathCase {
  std::u16string in;
  std::u16string out;
};

TEST(ExtendedLengthPath, FullPathsTakeThePrefixOthersStayAsTheyAre) {
  const std::vector<LongPathCase> cases = {
      {u"C:\\a\\b", u"\\\\?\\C:\\a\\b"},
      {u"c:\\", u"\\\\?\\c:\\"},
      {u"\\\\server\\share\\x", u"\\\\?\\UNC\\server\\share\\x"},
      {u"\\\\?\\C:\\x", u"\\\\?\\C:\\x"},
      {u"\\\\?\\UNC\\s\\x", u"\\\\?\\UNC\\s\\x"},
      {u"\\\\.\\E:", u"\\\\.\\E:"},
      {u"relative\\x", u"relative\\x"},
      {u"C:relative", u"C:relative"},
      {u"", u""},
  };
  for (const LongPathCase& c : cases) EXPECT_EQ(ExtendedLengthPath(c.in), c.out) << Utf16ToUtf8(c.in);
}

TEST(DriveLetterOfSource, LettersAndDevicePathsNameADrive) {
  const std::vector<std::pair<std::string, std::optional<char>>> cases = {
      {"E:", 'E'},        {"e:", 'E'},        {"E:\\", 'E'},          {"E:/", 'E'},
      {"\\\\.\\E:", 'E'}, {"//./z:", 'Z'},    {"E:x", std::nullopt},  {"EE:", std::nullopt},
      {"1:", std::nullopt}, {"", std::nullopt}, {"/dev/sr0", std::nullopt}, {"disc.bin", std::nullopt},
      {"\\\\?\\E:", std::nullopt}, {"\\\\.\\E:\\", std::nullopt}, {"E:\\disc.iso", std::nullopt},
  };
  for (const auto& [source, letter] : cases) EXPECT_EQ(DriveLetterOfSource(source), letter) << source;
}

TEST(Utf16, ConvertsEveryCharacterAndMarksWhatIsNotUtf8) {
  const std::vector<std::pair<std::string, std::u16string>> cases = {
      {"plain", u"plain"},
      {"Caf\xC3\xA9 \xE2\x82\xAC", u"Caf\u00E9 \u20AC"},
      {"\xF0\x9D\x84\x9E", u"\U0001D11E"},                   // outside the basic plane: a surrogate pair
      {"\xE9", u"\uFFFD"},                                    // a Windows-1252 byte, not UTF-8
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                          // an overlong '/'
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},                // an encoded surrogate
      {"a\xF0\x9D\x84", u"a\uFFFD\uFFFD\uFFFD"},              // cut short
  };
  for (const auto& [utf8, utf16] : cases) EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
  EXPECT_EQ(Utf16ToUtf8(u"Caf\u00E9 \U0001D11E"), "Caf\xC3\xA9 \xF0\x9D\x84\x9E");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace kestrow
