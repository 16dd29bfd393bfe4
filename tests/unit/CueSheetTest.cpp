// Cue sheets of one Mode 1 data track: the forms tools write, and the ones refused.
#include <gtest/gtest.h>

#include <string>

#include "drive/CueSheet.h"

namespace kestrow {
namespace {

struct GoodCue {
  const char* name;
  std::string text;
  const char* file;
  std::uint32_t sectorSize;
};

class CueSheetAccepts : public ::testing::TestWithParam<GoodCue> {};

TEST_P(CueSheetAccepts, NamesTheFileAndSectorSize) {
  CueSheet sheet;
  std::string reason;
  ASSERT_TRUE(ParseCueSheet(GetParam().text, sheet, reason)) << reason;
  EXPECT_EQ(sheet.dataFile, GetParam().file);
  EXPECT_EQ(sheet.sectorSize, GetParam().sectorSize);
  EXPECT_TRUE(LooksLikeCueSheet(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, CueSheetAccepts,
    ::testing::Values(
        GoodCue{"Quoted", "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n",
                "disc.bin", 2352},
        GoodCue{"Unquoted2048", "FILE disc.iso BINARY\nTRACK 1 MODE1/2048\nINDEX 1 0:00:00", "disc.iso", 2048},
        GoodCue{"QuotedWithSpaces", "FILE \"my old disc.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n",
                "my old disc.bin", 2352},
        GoodCue{"UnquotedWithSpaces", "FILE my disc.bin BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n",
                "my disc.bin", 2352},
        GoodCue{"CrlfBomLowercase",
                "\xEF\xBB\xBF" "file \"a.bin\" binary\r\n  track 01 mode1/2352\r\n    index 01 00:00:00\r\n",
                "a.bin", 2352},
        GoodCue{"LoneCarriageReturns", "FILE \"a.bin\" BINARY\rTRACK 01 MODE1/2352\rINDEX 01 00:00:00\r", "a.bin",
                2352},
        GoodCue{"DescriptiveLinesSkipped",
                "REM GENRE Data\nCATALOG 0000000000000\nPERFORMER \"Me\"\nTITLE \"Backup\"\n"
                "FILE \"b.bin\" BINARY\n  TRACK 01 MODE1/2352\n    TITLE \"t\"\n    FLAGS DCP\n"
                "    PREGAP 00:02:00\n    INDEX 01 00:00:00\n    INDEX 02 00:10:00\n\n",
                "b.bin", 2352},
        GoodCue{"Index00BeforeIndex01AtStart",
                "FILE \"c.bin\" BINARY\n TRACK 01 MODE1/2352\n INDEX 00 00:00:00\n INDEX 01 00:00:00\n", "c.bin",
                2352}),
    [](const auto& p) { return p.param.name; });

struct BadCue {
  const char* name;
  std::string text;
  const char* reason;  // the reason text, exactly
};

class CueSheetRefuses : public ::testing::TestWithParam<BadCue> {};

TEST_P(CueSheetRefuses, WithAReason) {
  CueSheet sheet{"untouched", 7};
  std::string reason;
  EXPECT_FALSE(ParseCueSheet(GetParam().text, sheet, reason));
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_EQ(sheet.dataFile, "untouched");
  EXPECT_EQ(sheet.sectorSize, 7u);
}

constexpr const char* kTrack = "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n";

INSTANTIATE_TEST_SUITE_P(
    Sheets, CueSheetRefuses,
    ::testing::Values(
        BadCue{"Empty", "", "no FILE line"},
        BadCue{"NoTrack", "FILE \"a.bin\" BINARY\n", "no TRACK line"},
        BadCue{"NoIndex01", "FILE \"a.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 00 00:00:00\n",
               "the track has no INDEX 01"},
        BadCue{"TrackBeforeFile", std::string(kTrack) + "FILE \"a.bin\" BINARY\n", "line 1: TRACK before FILE"},
        BadCue{"Mode2", "FILE \"a.bin\" BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n",
               "MODE2/2352 tracks are not supported"},
        BadCue{"Audio", "FILE \"a.bin\" BINARY\nTRACK 01 audio\nINDEX 01 00:00:00\n", "AUDIO tracks are not supported"},
        BadCue{"WaveFile", "FILE \"a.wav\" WAVE\n" + std::string(kTrack), "WAVE files are not supported"},
        BadCue{"TwoFiles", "FILE \"a.bin\" BINARY\n" + std::string(kTrack) + "FILE \"b.bin\" BINARY\n",
               "more than one FILE"},
        BadCue{"TwoTracks",
               "FILE \"a.bin\" BINARY\n" + std::string(kTrack) + "TRACK 02 MODE1/2352\nINDEX 01 00:10:00\n",
               "more than one TRACK"},
        BadCue{"Index01NotAtStart", "FILE \"a.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 00 00:00:00\nINDEX 01 00:02:00\n",
               "INDEX 01 does not start at 00:00:00"},
        BadCue{"BadTime", "FILE \"a.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:60:00\n",
               "line 3: index position is not mm:ss:ff"},
        BadCue{"BadFrame", "FILE \"a.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:75\n",
               "line 3: index position is not mm:ss:ff"},
        BadCue{"UnclosedQuote", "FILE \"a.bin BINARY\n" + std::string(kTrack), "line 1: file name has no closing quote"},
        BadCue{"EmptyName", "FILE \"\" BINARY\n" + std::string(kTrack), "line 1: FILE names no file"},
        BadCue{"NoFileType", "FILE a.bin\n" + std::string(kTrack), "line 1: FILE has no file type"},
        BadCue{"TrackZero", "FILE \"a.bin\" BINARY\nTRACK 00 MODE1/2352\n", "line 2: track number is not 1 to 99"},
        BadCue{"UnknownKeyword", "FILE \"a.bin\" BINARY\nSECTORS 12\n" + std::string(kTrack),
               "line 2: unknown keyword SECTORS"},
        BadCue{"NulByte", std::string("FILE \"a\0.bin\" BINARY\n", 21) + kTrack, "line 1: control character"},
        BadCue{"IndexBeforeTrack", "FILE \"a.bin\" BINARY\nINDEX 01 00:00:00\n", "line 2: INDEX before TRACK"}),
    [](const auto& p) { return p.param.name; });

struct LooksCase {
  const char* name;
  std::string text;
  bool cue;
};

class CueSheetRecognition : public ::testing::TestWithParam<LooksCase> {};

TEST_P(CueSheetRecognition, ByKeywords) { EXPECT_EQ(LooksLikeCueSheet(GetParam().text), GetParam().cue); }

INSTANTIATE_TEST_SUITE_P(
    Texts, CueSheetRecognition,
    ::testing::Values(LooksCase{"UnsupportedButStillACue", "FILE \"a.bin\" BINARY\nTRACK 01 MODE2/2352\n", true},
                      LooksCase{"RemOnly", "REM just a remark\n", false},
                      LooksCase{"Prose", "This is a text file\nFILE it under misc\n", false},
                      LooksCase{"Binary", std::string("\x00\xFF\xFF\xFF FILE", 9), false},
                      LooksCase{"TooLarge", "FILE a BINARY\n" + std::string(kMaxCueSheetSize, ' '), false}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace kestrow
