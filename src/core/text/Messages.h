// The texts the program shows to its users, word for word, shared by the
// desktop application and the command-line tool.
#pragma once

#include <exception>
#include <new>
#include <string>

namespace kestrow::msg {

inline constexpr char kNoDrive[] = "No CD drive found...";
inline constexpr char kNoValidDisc[] = "No valid CD found in the drive...";
inline constexpr char kBurnedByKestrow[] = "This disk was probably burned by Kestrow PRO.";
inline constexpr char kNotBurnedByKestrow[] = "This disk was not burned by Kestrow PRO.";
inline constexpr char kUnknownFormat[] = "Error: I don't understand this CD format...";
inline constexpr char kFileCountFormat[] = "Total number of file(s): %d";
inline constexpr char kFailedToOpenFile[] = "Failed to open file...";
// Our own text: the list file opened but could not be written in full.
inline constexpr char kExportWriteFailed[] = "Error: the file list could not be written completely.";
inline constexpr char kVolumeSizeKbFormat[] = "Total: %d sector(s), %d KB\n";
inline constexpr char kVolumeSizeMbFormat[] = "Total: %d sector(s), %d MB\n";
inline constexpr char kStillSaving[] = "Still saving files. Please sit tight!";
inline constexpr char kSelectFiles[] = "Please select one or more files.";
inline constexpr char kSelectFolderTitle[] = "Please select the folder:";
inline constexpr char kDone[] = "Done!";
inline constexpr char kSavingTerminated[] = "Saving files  process was terminated!";
inline constexpr char kReading[] = "Reading...";
inline constexpr char kCompleted[] = "Completed!";
inline constexpr char kDumpFailed[] = "Error: Couldn't read CD... CD might have damages.";
inline constexpr char kDumpProgressFormat[] = "Reading %d/%d...";
inline constexpr char kPositiveInteger[] = "Please enter a positive integer.";
inline constexpr char kIntegerBetweenFormat[] = "Please enter an integer between %u and %u.";
// Our own texts: a recovery that finds another disc than the one listed, and
// a job that could not go on for a reason other than the disc.
inline constexpr char kDifferentDisc[] =
    "Error: the disc is not the one the file list was read from. Nothing was written.";
// Keep-going on a disc whose end is unreadable and whose packed data does
// not hold the volume's first blocks.
inline constexpr char kMetadataGone[] =
    "Error: the volume's metadata is gone with the disc's end; no file can be listed.";
inline constexpr char kJobFailed[] = "Error: the recovery could not go on.";
// Our own text: the drive said the disc may have changed while a job read it.
inline constexpr char kDiscChanged[] = "Error: the disc was changed during the job. Nothing more was read.";
// Our own text, after a job that met sectors holding nothing but zeros:
// "N sectors hold no data (all zeros); if this is a rescue image, give its
// mapfile with --mapfile" (the desktop application words it for its window).
inline constexpr char kZeroSectorsFormat[] = "%llu %s no data (all zeros)";
// Our own text: an output file (-o, --rescue-map, its temporary file) names
// a file the source is read from, or another output.
inline constexpr char kOutputIsSource[] = "Error: the output would overwrite the disc's own files.";
// Our own texts for dumps: the image file could not be written (a full
// disk), the user stopped the dump, a rescue's temporary map has something
// else in its place.
inline constexpr char kImageWriteFailed[] = "Error: the image file could not be written.";
inline constexpr char kStopped[] = "Stopped.";
inline constexpr char kOutputInTheWay[] = "Error: something that is not our file is where an output goes.";
// Our own texts for a rescue dump that resumes: the image and map are not a
// whole-disc raw image of this disc (GNU ddrescue's 2048-byte image and
// map, for one), or the disc in the drive is another disc.
inline constexpr char kNotRawImage[] = "Error: the image and its map are not a raw image of this disc.";
inline constexpr char kOtherDiscInDrive[] = "Error: the disc in the drive is not the one this image was read from.";
// Our own text: a catalogue so damaged that listing it could not go on.
inline constexpr char kCatalogTooDamaged[] = "Error: the catalogue is too damaged to list.";
// Our own text: anything else that ended a command before its end.
inline constexpr char kCommandFailed[] = "Error: the command could not go on.";

// Why an exception ended an operation, in words for its user.
inline std::string ExceptionReason(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) return "not enough memory to go on";
  return e.what();
}

}  // namespace kestrow::msg
