// Texts of the desktop application that are its own (the system's texts
// shared with the command-line tool are in text/Messages.h), and the keys of
// its settings. %1, %2 are filled by FillText.
#pragma once

namespace kestrow::app::text {

inline constexpr char kMainCaption[] = "Kestrow Diag";
inline constexpr char kAboutMenuItem[] = "&About KestrowDiag...";
inline constexpr char kAboutCaption[] = "About KestrowDiag";
inline constexpr char kAboutVersion[] = "KestrowDiag Version " KESTROW_VERSION;
inline constexpr char kAboutNotice[] = "Copyright (C) Kestrow Software";
inline constexpr char kAboutUrl[] = "https://www.kestrow.example/";
inline constexpr char kAboutMail[] = "support@kestrow.example";
// The about box's read-only field: two lines, CR LF between them.
inline constexpr char kAboutText[] =
    "URL: https://www.kestrow.example/\r\nComments & Bug reports to: support@kestrow.example";

// After "No valid CD found in the drive..." when the system would not open the drive.
inline constexpr char kDriveRefusedFormat[] =
    "The system refused to open the drive (%1). Reading a drive needs administrator rights on Windows "
    "(right-click KestrowDiag, Run as administrator) and read access to its device on Linux.";

inline constexpr char kOpenImageButton[] = "Open Image...";
inline constexpr char kOpenImageTitle[] = "Open Disc Image";

// Reported after "Done!" when a job could not write every file in full.
inline constexpr char kUnwrittenFilesFormat[] = "%1 file(s) could not be written.";
inline constexpr char kIncompleteFilesFormat[] = "%1 file(s) could not be read completely.";

// The file list's two options, and where they are remembered between runs.
inline constexpr char kMacRomanNames[] = "Mac Roman names";
inline constexpr char kResourceForksAndDates[] = "Resource forks and dates";
inline constexpr char kMacRomanSetting[] = "FileList/MacRomanNames";
inline constexpr char kResourceForksSetting[] = "FileList/ResourceForksAndDates";

// The file list's columns.
inline constexpr char kPathColumn[] = "File Path";
inline constexpr char kSizeColumn[] = "Approx File Size";
inline constexpr char kDamageColumn[] = "Damage";

// The salvage: the option, the damage scan and the report window.
inline constexpr char kKeepGoingCheckBox[] = "Go on past damaged sectors";
inline constexpr char kFindDamageButton[] = "Find Damage...";
inline constexpr char kDamageReportCaption[] = "Damaged Files";
inline constexpr char kSaveReportButton[] = "Save Report...";
inline constexpr char kStatusColumn[] = "Status";
inline constexpr char kLostBytesColumn[] = "Lost Bytes";
inline constexpr char kUnreadableSectorsFormat[] = "%1 unreadable sector(s): %2.";
inline constexpr char kLostNodesFormat[] =
    "%1 catalogue node(s) could not be read; the files they listed are missing.";
inline constexpr char kScanCleanText[] = "No unreadable sector was found.";
// Browse File List on a disc whose end (trailer, volume area) cannot be read.
inline constexpr char kSearchDamagedDiscQuestion[] =
    "The end of this disc cannot be read, and with it the list of its files.\n\n"
    "Go on past damaged sectors and look for the files in the copy of the volume "
    "nearer the disc's centre?";
inline constexpr char kMoreSpansFormat[] = "and %1 more (Save Report... lists them all)";
inline constexpr char kScanHitFormat[] = "%1 file(s) damaged, %2 lost.";

// Save Volume Image...: the button, the save dialog's default name (the
// volume's name made safe, when it has one) and extension, and what is said
// after it.
inline constexpr char kSaveVolumeImageButton[] = "Save Volume Image...";
inline constexpr char kVolumeImageName[] = "Volume";
inline constexpr char kVolumeImageExtension[] = "hfs";
inline constexpr char kAreaDiffersFormat[] =
    "%1 byte(s) of the volume area at the disc's end differ from the packed copy; the image holds the packed "
    "copy's.";
inline constexpr char kLostVolumeBytesFormat[] = "Lost volume bytes (zeros in the image): %1.";

// Said after the message of a command or job that met sectors holding
// nothing but zeros (what a rescue image holds where nothing was read).
inline constexpr char kZeroSectorsFormat[] =
    "%1 sector(s) of this disc hold no data (all zeros). If it is a rescue image, read it with its "
    "mapfile (kestrow --mapfile).";

// Physical Dump's rescue option: the check box of the sector range dialog,
// the line under its fields, and what is said when a rescue ends short.
inline constexpr char kRescueCheckBox[] = "Resumable rescue image (with a map)";
inline constexpr char kSectorLbasFormat[] = "LBA %1 to %2, as reports count";
inline constexpr char kRescueShortFormat[] =
    "%1 sector(s) of the range are still bad and %2 not yet tried. %3 records them: Physical Dump with the rescue "
    "option on the same image goes on from there, and Open Image... reads the image with its map.";
inline constexpr char kRescueMapNotSavedFormat[] =
    "%1 could not be updated, so another run reads this run's sectors again.";
// An image opened with the map beside it, as the source list shows it.
inline constexpr char kImageWithMapFormat[] = "%1 (with %2)";
// After "No valid CD found in the drive..." when an image or its map could not be opened.
inline constexpr char kImageRefusedFormat[] = "The image could not be opened: %1.";

// The advice after a failure a damaged disc causes, following the message.
inline constexpr char kEndUnreadableAdvice[] =
    "The last sectors of this disc could not be read. Browse File List can still look for the files in the copy "
    "of the volume nearer the disc's centre.";
inline constexpr char kFindDamageEndAdvice[] =
    "The last sectors of this disc could not be read. Turn on \"Go on past damaged sectors\" to look for the "
    "files in the copy of the volume nearer the disc's centre.";
inline constexpr char kStoppedAtSectorAdvice[] =
    "It stopped at a sector that could not be read. \"Go on past damaged sectors\" saves what can be read of "
    "every file, and Physical Dump with \"Resumable rescue image (with a map)\" copies the disc once for every "
    "later try.";
inline constexpr char kDumpStoppedAdvice[] =
    "It stopped at a sector that could not be read. \"Resumable rescue image (with a map)\" goes on past such "
    "sectors and can be run again on the same image to read them later.";

}  // namespace kestrow::app::text

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kestrow::app {

// `format` with %1, %2, ... replaced by `values` in turn.
std::string FillText(std::string_view format, std::initializer_list<std::string> values);

// `message`, followed by text::kZeroSectorsFormat when `zeroSectors` is not 0.
std::string WithZeroSectorNote(std::string message, std::size_t zeroSectors);

}  // namespace kestrow::app
