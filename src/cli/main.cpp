// kestrow: examine and rescue Kestrow PRO discs from a terminal.
#include <csignal>
#include <exception>
#include <filesystem>
#include <iostream>

#include <CLI/CLI.hpp>

#include "Commands.h"
#include "Console.h"
#include "platform/CommandLine.h"
#include "platform/FileSystem.h"
#include "text/Messages.h"

namespace {

using kestrow::cli::Commands;
using kestrow::cli::DumpOptions;
using kestrow::cli::InfoOptions;
using kestrow::cli::ListOptions;
using kestrow::cli::RecoverOptions;
using kestrow::cli::ScanOptions;
using kestrow::cli::SourceOptions;
using kestrow::cli::UnpackOptions;

#if defined(_WIN32)
constexpr const char* kDriveExample = "E:";
#else
constexpr const char* kDriveExample = "/dev/sr0";
#endif

// CLI::ExistingFile for a UTF-8 path on every platform (CLI11's own takes
// the text in the ANSI code page on Windows).
const CLI::Validator kExistingFile(
    [](std::string& path) {
      std::error_code ec;
      const auto status = std::filesystem::status(kestrow::PathFromUtf8(path), ec);
      if (!std::filesystem::exists(status)) return "File does not exist: " + path;
      if (std::filesystem::is_directory(status)) return "File is actually a directory: " + path;
      return std::string();
    },
    "FILE");

void AddSource(CLI::App& command, SourceOptions& source) {
  command.add_option("SOURCE", source.source,
                     std::string("optical drive (") + kDriveExample + ") or disc image (.bin, .iso, .cue); " +
                         "default: the first optical drive");
  auto* mapfile = command.add_option("--mapfile", source.mapfile,
                                     "GNU ddrescue mapfile of an image: sectors not marked finished read as bad "
                                     "(default: IMAGE's name with .map in place of its extension, else with .map "
                                     "appended, when such a file exists)")
                      ->check(kExistingFile);
  command.add_flag("--no-mapfile", source.noMapfile, "read an image without the mapfile beside it")->excludes(mapfile);
}

}  // namespace

int main(int argc, char** argv) {
#if defined(SIGXFSZ)
  // A write past the file size limit then fails with EFBIG and is reported
  // with its file ("File too large"), instead of ending the program in the
  // middle of a write.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  const kestrow::cli::ConsoleSession console;
  CLI::App app{"kestrow: examine Kestrow PRO CD-R discs and disc images"};
  app.set_version_flag("--version", std::string("kestrow ") + KESTROW_VERSION);
  app.require_subcommand(1);

  SourceOptions source;
  ListOptions list;
  InfoOptions infoOptions;
  RecoverOptions recover;
  DumpOptions dump;
  auto* drives = app.add_subcommand("drives", std::string("list the optical drives, one per line (") +
                                                  kDriveExample + ")");
  auto* check = app.add_subcommand("check", "say whether a disc was burned by Kestrow PRO");
  auto* size = app.add_subcommand("size", "show a disc's sector count and size");
  auto* info = app.add_subcommand("info", "show the trailer, volume and packed-data facts of a disc");
  auto* listCommand = app.add_subcommand("list", "list every file of a Kestrow PRO disc");
  for (auto* command : {check, size, info, listCommand}) AddSource(*command, source);
  listCommand->add_option("-o,--output", list.outputFile,
                          "write the list to FILE (tab-separated, CR LF lines, the disc's bytes)");
  listCommand->add_flag("--json", list.json, "every field of every file as JSON");
  constexpr const char* kMacRomanHelp = "read the disc's names as Mac OS Roman instead of Windows-1252";
  listCommand->add_flag("--mac-roman", list.macRoman, kMacRomanHelp);
  constexpr const char* kDeletedHelp =
      "include the files of catalogue nodes the volume has freed (deleted files), marked as deleted";
  listCommand->add_flag("--deleted", list.deleted, kDeletedHelp);
  info->add_flag("--mac-roman", infoOptions.macRoman, kMacRomanHelp);
  constexpr const char* kRetriesHelp =
      "read a sector that fails up to N more times, one sector per command (default 0)";
  constexpr const char* kListKeepGoingHelp =
      "go on past sectors that cannot be read: where the disc's end (trailer, volume area, \"Pack\" table) is "
      "gone, take the metadata from the packed copy and find the groups by their block tables, and say so";
  listCommand->add_flag("--keep-going", list.keepGoing, kListKeepGoingHelp);
  listCommand->add_option("--retries", list.retries, kRetriesHelp)->check(CLI::Range(0, 1000));
  info->add_flag("--keep-going", infoOptions.keepGoing, kListKeepGoingHelp);
  info->add_option("--retries", infoOptions.retries, kRetriesHelp)->check(CLI::Range(0, 1000));

  auto* recoverCommand = app.add_subcommand(
      "recover", "copy files out of a Kestrow PRO disc: each file's data plus a \"._NAME\" "
                 "AppleDouble companion with its type and creator, under folders named as on the disc");
  AddSource(*recoverCommand, source);
  recoverCommand->add_option("PATTERN", recover.patterns,
                             "shell-style patterns matched against the paths that `kestrow list` "
                             "prints (Disk:Folder:Name); SOURCE must be given with patterns");
  recoverCommand->add_option("-o,--output", recover.destination, "destination folder (created if missing)")
      ->required();
  auto* all = recoverCommand->add_flag("--all", recover.all, "recover every file");
  recoverCommand->add_flag("--resource-forks", recover.resourceForks,
                           "make each \"._NAME\" a full AppleDouble file: Finder info, dates, Mac name and "
                           "resource fork; both files take the Mac's modification date");
  recoverCommand->add_flag("--mac-roman", recover.macRoman,
                           "read the disc's names as Mac OS Roman instead of Windows-1252 (for patterns "
                           "and for the names written)");
  recoverCommand->add_flag("--deleted", recover.deleted, kDeletedHelp);
  recoverCommand->add_flag("--keep-going", recover.keepGoing,
                           "go on past sectors that cannot be read: write what can be read of every file, "
                           "with zeros where bytes were lost, and report the damaged and lost files");
  recoverCommand->add_option("--retries", recover.retries,
                             "read a sector that fails up to N more times, one sector per command (default 0)")
      ->check(CLI::Range(0, 1000));
  recoverCommand->add_option("--report", recover.reportFile,
                             "write what became of each file, and the unreadable sectors, to FILE as JSON");
  recoverCommand->callback([&] {
    if (recover.all == recover.patterns.empty()) return;
    throw CLI::ValidationError("recover", "give either --all or one or more PATTERNs");
  });
  (void)all;

  auto* dumpCommand = app.add_subcommand("dump", "copy raw 2352-byte sectors of any CD into an image file");
  AddSource(*dumpCommand, source);
  dumpCommand->add_option("-o,--output", dump.outputFile, "the image file to write")->required();
  dumpCommand->add_option("--start", dump.start,
                          "first sector, an LBA counted from 0 as every sector kestrow prints (default 0)");
  dumpCommand->add_option("--end", dump.end, "last sector, an LBA, inclusive (default: the last of the disc)");
  auto* rescueMap = dumpCommand->add_option(
      "--rescue-map", dump.rescueMap,
      "GNU ddrescue mapfile of FILE: read only what it does not mark finished, in ddrescue's passes, and "
      "keep it up to date; FILE then holds the whole disc (sector L at byte L x 2352) and is never truncated");
  dumpCommand->add_option("--retries", dump.retries, "with --rescue-map: passes over the sectors still bad (default 0)")
      ->check(CLI::NonNegativeNumber)
      ->needs(rescueMap);
  dumpCommand->add_flag("--no-trim", dump.noTrim,
                        "with --rescue-map: leave the edges of failed reads untried (non-trimmed in the map) for a "
                        "later run")
      ->needs(rescueMap);
  dumpCommand->add_flag("--no-scrape", dump.noScrape,
                        "with --rescue-map: leave the inside of failed reads untried (non-scraped in the map) for a "
                        "later run")
      ->needs(rescueMap);
  dumpCommand->add_flag("--reverse", dump.reverse,
                        "with --rescue-map: run every pass the other way (copying from the end of the range)")
      ->needs(rescueMap);
  dumpCommand->add_option("--skip-size", dump.skipSize,
                          "with --rescue-map: MIN[,MAX] sectors the first pass skips after a failed read, doubling "
                          "while reads fail, up to MAX (default 27, up to 1% of the range); 0 skips nothing")
      ->check([](const std::string& text) {
        std::uint32_t min = 0;
        std::uint32_t max = 0;
        return kestrow::cli::ParseSkipSize(text, min, max);
      })
      ->needs(rescueMap);
  dumpCommand->add_option("--timeout", dump.timeout,
                          "with --rescue-map: stop when no sector was read for SECONDS (the map is saved; exit 1)")
      ->check(CLI::PositiveNumber)
      ->needs(rescueMap);

  bool verbose = false;
  constexpr const char* kVerboseHelp = "with --keep-going: list each group found by search, not only their count";
  for (auto* command : {listCommand, recoverCommand}) command->add_flag("--verbose", verbose, kVerboseHelp);

  ScanOptions scan;
  auto* scanCommand = app.add_subcommand(
      "scan", "read the volume area and every group the files use, and say which files unreadable "
              "sectors hit and which of their bytes are lost (exit 1 when any is hit); writes nothing");
  AddSource(*scanCommand, source);
  scanCommand->add_flag("--verbose", verbose, kVerboseHelp);
  scanCommand->add_flag("--json", scan.json, "print the report as JSON");
  scanCommand->add_flag("--keep-going", scan.keepGoing,
                        "where the disc's end (trailer, volume area, \"Pack\" table) cannot be read, take the "
                        "metadata from the packed copy and find the groups by their block tables");
  scanCommand->add_flag("--mac-roman", scan.macRoman, "read the disc's names as Mac OS Roman instead of Windows-1252");
  scanCommand->add_option("--retries", scan.retries,
                          "read a sector that fails up to N more times, one sector per command (default 0)")
      ->check(CLI::Range(0, 1000));

  UnpackOptions unpack;
  auto* unpackCommand = app.add_subcommand(
      "unpack", "write the disc's HFS volume as one plain image file (FILE), byte for byte as it was before packing, "
                "which hfsutils, HFSExplorer and Mac emulators open");
  AddSource(*unpackCommand, source);
  unpackCommand->add_flag("--verbose", verbose, kVerboseHelp);
  unpackCommand->add_option("-o,--output", unpack.outputFile, "the volume image to write")->required();
  unpackCommand->add_flag("--keep-going", unpack.keepGoing,
                          "go on past sectors that cannot be read: lost blocks are zeros in the image, and the "
                          "report names the lost volume bytes and the files and structures they hit");
  unpackCommand->add_option("--retries", unpack.retries, kRetriesHelp)->check(CLI::Range(0, 1000));
  unpackCommand->add_option("--report", unpack.reportFile,
                            "write the lost volume bytes, the files they hit and the unreadable sectors to FILE as "
                            "JSON");

  try {
    const std::vector<std::string> arguments = kestrow::Utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kestrow::cli::kExitUsage;
  }

  Commands commands(std::cout, std::cerr);
  commands.SetVerbose(verbose);
  if (!*drives) kestrow::cli::UseMapBesideImage(source, std::cerr);
  int code = kestrow::cli::kExitUsage;
  // Whatever a command did not foresee (memory running out, for one) ends it
  // with a message, never with an abort.
  try {
    if (*drives) {
      code = commands.Drives();
    } else if (*check) {
      code = commands.Check(source);
    } else if (*size) {
      code = commands.Size(source);
    } else if (*info) {
      code = commands.Info(source, infoOptions);
    } else if (*listCommand) {
      code = commands.List(source, list);
    } else if (*recoverCommand) {
      code = commands.Recover(source, recover);
    } else if (*dumpCommand) {
      code = commands.Dump(source, dump);
    } else if (*scanCommand) {
      code = commands.Scan(source, scan);
    } else if (*unpackCommand) {
      code = commands.Unpack(source, unpack);
    }
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << kestrow::msg::kCommandFailed << "\nkestrow: " << kestrow::msg::ExceptionReason(e) << '\n';
    code = kestrow::cli::kExitFailed;
  }
  commands.ReportZeroSectors();
  return code;
}
