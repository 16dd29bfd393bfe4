// Texts of the desktop application that are its own: the about box, the
// "Open Image..." button, and what a recovery job could not do.
#pragma once

#include <QString>

#include <cstddef>
#include <string_view>

#include "text/CodePage.h"

namespace kestrow::gui::text {

inline constexpr char kAboutMenuItem[] = "&About KestrowDiag...";
inline constexpr char kAboutCaption[] = "About KestrowDiag";
inline constexpr char kAboutVersionFormat[] = "KestrowDiag Version %1";
inline constexpr char kAboutNotice[] = "Copyright (C) Kestrow Software";
inline constexpr char kAboutUrl[] = "https://www.kestrow.example/";
inline constexpr char kAboutMail[] = "support@kestrow.example";

inline constexpr char kOpenImageButton[] = "Open Image...";
inline constexpr char kOpenImageTitle[] = "Open Disc Image";
inline constexpr char kOpenImageFilter[] =
    "Disc images (*.bin *.iso *.img *.cue *.dat *.raw);;All files (*)";

// Reported after "Done!" when a job could not write every file in full.
inline constexpr char kUnwrittenFilesFormat[] = "%1 file(s) could not be written.";
inline constexpr char kIncompleteFilesFormat[] = "%1 file(s) could not be read completely.";

// The file list's two options, and where they are remembered between runs.
inline constexpr char kMacRomanNames[] = "Mac Roman names";
inline constexpr char kResourceForksAndDates[] = "Resource forks and dates";
inline constexpr char kMacRomanSetting[] = "FileList/MacRomanNames";
inline constexpr char kResourceForksSetting[] = "FileList/ResourceForksAndDates";

// The salvage: the option, the damage scan and the report window.
inline constexpr char kKeepGoingCheckBox[] = "Go on past damaged sectors";
inline constexpr char kFindDamageButton[] = "Find Damage...";
inline constexpr char kDamageReportCaption[] = "Damaged Files";
inline constexpr char kSaveReportButton[] = "Save Report...";
inline constexpr char kUnreadableSectorsFormat[] = "%1 unreadable sector(s): %2.";
inline constexpr char kLostNodesFormat[] = "%1 catalogue node(s) could not be read; the files they listed are missing.";
inline constexpr char kScanCleanText[] = "No unreadable sector was found.";
// Browse File List on a disc whose end (trailer, volume area) cannot be read.
inline constexpr char kSearchDamagedDiscQuestion[] =
    "The end of this disc cannot be read, and with it the list of its files.\n\n"
    "Go on past damaged sectors and look for the files in the copy of the volume "
    "nearer the disc's centre?";
inline constexpr char kScanHitFormat[] = "%1 file(s) damaged, %2 lost.";

// Said after the message of a command or job that met sectors holding
// nothing but zeros (what a rescue image holds where nothing was read).
inline constexpr char kZeroSectorsFormat[] =
    "%1 sector(s) of this disc hold no data (all zeros). If it is a rescue image, read it with its "
    "mapfile (kestrow --mapfile).";

// `message`, followed by kZeroSectorsFormat when `zeroSectors` is not 0.
QString WithZeroSectorNote(const QString& message, std::size_t zeroSectors);

// A disc name (raw bytes, read in `codePage`) as text for display.
QString FromDiscBytes(std::string_view bytes, CodePage codePage = CodePage::kWindows1252);

}  // namespace kestrow::gui::text
