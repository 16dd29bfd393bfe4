// Texts of the desktop application that are its own: the about box, the
// "Open Image..." button, and what a recovery job could not do.
#pragma once

#include <QString>

#include <string_view>

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

// The salvage: the option, the damage scan and the report window.
inline constexpr char kKeepGoingCheckBox[] = "Go on past damaged sectors";
inline constexpr char kFindDamageButton[] = "Find Damage...";
inline constexpr char kDamageReportCaption[] = "Damaged Files";
inline constexpr char kSaveReportButton[] = "Save Report...";
inline constexpr char kUnreadableSectorsFormat[] = "%1 unreadable sector(s): %2.";
inline constexpr char kLostNodesFormat[] = "%1 catalogue node(s) could not be read; the files they listed are missing.";
inline constexpr char kScanCleanText[] = "No unreadable sector was found.";
inline constexpr char kScanHitFormat[] = "%1 file(s) damaged, %2 lost.";

// A disc name (raw Windows-1252 bytes) as text for display.
QString FromDiscBytes(std::string_view bytes);

}  // namespace kestrow::gui::text
