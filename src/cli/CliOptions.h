// src/cli/CliOptions.h: the command line of zeloro-cli and the texts it prints besides the log.
#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tagging/RunInputs.h"

namespace zeloro::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;          // the run handled every photo
inline constexpr int kExitRunError = 1;      // an error ended the run (its report went to stderr)
inline constexpr int kExitBadArgument = 2;   // a missing or invalid argument (its text went to stderr)
inline constexpr int kExitImportFailed = 3;  // the GPX import failed and was aborted
inline constexpr int kExitDatabase =
    4;  // the data folder or its database cannot be set up, opened or written
inline constexpr int kExitDataFolderBusy = 5;  // another run holds the data folder; nothing was done

// The --gpx value that stands for the standard input, copied to a temporary file before the run.
inline constexpr const char* kStandardInputPath = "-";

struct CliOptions {
    std::string gpx;                     // the first --gpx; empty when not given: the run's check names it
    std::string photos;                  // likewise
    std::optional<int> zoneIndex;        // a list zone; nullopt: settings.zone, else the start-up rule
    int tolerance = 0;                   // whole seconds, 0..500
    std::optional<std::string> dataDir;  // with a trailing "/"; nullopt: resolved as the window does
    int jobs = 0;                        // photos at once; 0: one per core
    bool map = false;                    // also set by --open
    bool open = false;                   // open the written page in the desktop's default browser
    bool keep = false;
    bool help = false;
    // The opt-in options: --gpx given again, --zone beyond the list, --offset, --photo-zone,
    // --interpolate[=MAXGAP], --altitude, --explain, --all-photos, --sidecar, --raw-in-file, --keep-going
    // (--sidecar and --raw-in-file only with --all-photos).
    RunSettings settings;
    RunModes modes;        // --dry-run, --skip-tagged, --keep-mtime
    bool json = false;     // one JSON object per photo instead of the log, and a summary object
    bool summary = false;  // the summary line after the run; also on with any run mode, --json, --keep-going
    bool version = false;
    // --undo: take back the newest recorded run of the data folder instead of running (with --dry-run:
    // only list what it would put back).
    bool undo = false;
    // --remove-gps: take the positions out of the photos of --photos instead of running.
    bool removeGps = false;
};

// Either the options or the text that tells what is wrong with the command line.
using ParseResult = std::variant<CliOptions, std::string>;

// args without the program name. Every option but the switches (--map, --open, --keep, --photo-zone,
// --altitude, the run modes, --json, --summary, --explain, --all-photos, --raw-in-file, --keep-going),
// --interpolate and --help takes the next argument as its value (--interpolate takes one only as
// "--interpolate=N"); an option given twice (but --gpx and its other name --track, which add a file each
// time), an unknown option or a stray argument is an error. --track-format NAME applies to the next --gpx
// only (settings.gpsbabelFormats); "--gpx -" may be given once.
[[nodiscard]] ParseResult ParseCommandLine(std::span<const std::string> args);

// A zone list item index "0".."23" or an item text such as "UTC + 2:00" (letter case and the blanks
// around the sign ignored); nullopt for anything else.
[[nodiscard]] std::optional<int> ParseZone(std::string_view text);

// The largest gap of --interpolate=N: whole seconds 1..86400 in decimal digits; nullopt for anything else.
[[nodiscard]] std::optional<int> ParseInterpolationGap(std::string_view text);

// Whole seconds "0".."500" in decimal digits; nullopt for anything else.
[[nodiscard]] std::optional<int> ParseTolerance(std::string_view text);

// Photos worked on at once, "1".."256" in decimal digits; nullopt for anything else.
[[nodiscard]] std::optional<int> ParseJobs(std::string_view text);

// What the window's default error report shows for an error that ended a command: the message, and a
// "." after it when its last character sorts after ".".
[[nodiscard]] std::string ErrorReportText(std::string_view message);

// The notice on stderr of a run without --zone: the list zone the start-up rule chose, e.g.
// "Hinweis: ohne --zone gilt die Zeitzone \"UTC + 1:00\" (Winterzeit am heutigen Tag)."
[[nodiscard]] std::string ZoneDefaultNotice(int zoneIndex);

// The --help text.
[[nodiscard]] std::string UsageText();

// The --version text: program name and version, one line.
[[nodiscard]] std::string VersionText();

// The problems with the GPX files and the photo folder a run would meet only after scanning the
// folder, one line each: every GPX file must be a readable regular file (no FIFO, device, socket or
// folder), the photo folder an existing folder.
// Empty values are left to the run's own checks (they show the window's message texts).
[[nodiscard]] std::vector<std::string> CheckInputPaths(const CliOptions& options);

}  // namespace zeloro::cli
